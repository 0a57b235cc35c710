#include "lipsync/tool.hpp"

#include "lipsync/exporters.hpp"
#include "lipsync/sound_file.hpp"
#include "lipsync/vlp.hpp"

#include "common/files.hpp"

#include "lipsync/svg.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <sys/stat.h>

namespace tarvik::lipsync {

namespace {

constexpr const char* kVersion = "1.0";

enum class Action { Write, Tsv, Json, Svg, Frames, Dump, Help, Version };

struct Request {
    Action action = Action::Write;
    std::string path;
    std::string output;                   // -o: where the VLP file goes instead of beside the sound
    std::optional<std::string> text_file; // --text
    std::optional<std::string> text;      // --text-string, or the text file's content
    bool fast = false;
    bool quiet = false;
};

int usage_error(std::ostream& err, const std::string& what) {
    err << "lipsync: " << what << " (lipsync --help explains the command line)\n";
    return kExitUsage;
}

void report(std::ostream& err, const std::string& path, const std::string& why) {
    err << "lipsync: \"" << path << "\": " << why << "\n";
}

bool starts_with_vlp_magic(const std::string& path) {
    // Only a regular file is looked into: opening a FIFO would wait for a writer.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    return in.read(head, 4) && has_vlp_magic(std::string_view(head, 4));
}

std::string frame_line(const FrameResult& f) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "%s\t%c\t%.2f\t%.1f\t%.1f\t%.1f\t%.0f\t%.2f\t%.3f\t%.0f\t%.0f\t%.0f\n",
                  centiseconds_text(f.index).c_str(), shape_letter(f.shape), f.opening, f.level_db,
                  f.floor_db, f.speech_db, f.zcr, f.hf_ratio, f.lpc_error, f.f1, f.f2, f.f3);
    return line;
}

// Analyses the request's sound; the notes go to `err`.
SoundResult analyse(const Request& request, std::ostream& err) {
    AnalysisRequest analysis;
    analysis.method = request.fast ? Method::Signal : Method::Recognition;
    analysis.text = request.text;
    SoundResult sound = analyse_sound_file(request.path, analysis);
    if (!sound.track) report(err, request.path, sound.error);
    for (const std::string& note : sound.notes)
        report(err, request.path, note);
    return sound;
}

// A track for the --format actions: converted from a VLP file, or analysed.
std::optional<LipSyncTrack> load_track(const Request& request, std::ostream& err) {
    if (starts_with_vlp_magic(request.path)) {
        VlpReadResult read = read_vlp_file(request.path);
        if (!read.track) report(err, request.path, read.error);
        return read.track;
    }
    return analyse(request, err).track;
}

// The text of --text FILE: a regular file of at most 1 MiB.
std::optional<std::string> read_text_file(const std::string& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "is not a regular file";
        return std::nullopt;
    }
    if (st.st_size > (1 << 20)) {
        error = "is too large for the text of a line (more than 1 MiB)";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()) || in.bad()) {
        if (st.st_size == 0) return std::string();
        error = "cannot be read";
        return std::nullopt;
    }
    return text.str();
}

} // namespace

std::string vlp_path_for(const std::string& sound_path) {
    const size_t slash = sound_path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = sound_path.rfind('.');
    const size_t cut = dot != std::string::npos && dot >= name_start ? dot : sound_path.size();
    return sound_path.substr(0, cut) + ".vlp";
}

std::string help_text() {
    return R"(lipsync - mouth shapes for a spoken sound file

Usage:
  lipsync [OPTIONS] SOUND            analyse SOUND and write its VLP file beside it
  lipsync [OPTIONS] -o FILE.vlp SOUND
                                     ... and write the VLP file to FILE.vlp instead
  lipsync [OPTIONS] --format tsv SOUND    print the cues as tab-separated text instead
  lipsync [OPTIONS] --format json SOUND   print the cues as JSON instead
  lipsync [OPTIONS] --format svg SOUND    draw the sound and its cues as an SVG picture
  lipsync --format frames SOUND      print the signal analysis of every 10 ms frame
  lipsync --dump FILE.vlp            print what a VLP file holds
  lipsync --help | --version

SOUND is any file that libsndfile reads: WAV of any sample rate, channel count and
sample width (also AIFF, FLAC, Ogg and others); several channels are mixed down.
The VLP file is named like SOUND with the extension after the last '.' of the file
name replaced by ".vlp" (take.01.wav gives take.01.vlp). It is written whole or not
at all: it is written under a temporary name in the same directory and renamed into
place. When lipsync is stopped by SIGTERM, SIGINT or SIGHUP it removes that temporary
file and exits with 128 + the signal number; the VLP file is then not written (an
earlier one is left as it was). With --format, SOUND may also be a VLP file, which is
converted (a picture of a VLP file has no waveform).

Analysis: 100 frames per second. By default the phones of the speech are recognised
with the English model of pocketsphinx (any sample rate is fed at the model's 16 kHz)
and each phone shows a shape:
  P B M -> A;  F V -> G;  UW UH OW W -> F;  AO ER OY -> E;  AA AY AW -> D;
  AE EH AH EY -> C;  L -> H;  the other consonants and IY IH Y -> B.
Rests (X) come from the signal analysis, which tells pauses from speech by level,
and from quiet gaps of 60 ms or more in which no phone is heard; other frames where
no phone is heard keep the signal analysis's shape.
  --fast              the signal analysis alone (level, hiss and formants): about
                      fifty times faster, less exact
  --text FILE         the words spoken (UTF-8 text): the phones are aligned to them;
                      words outside the model's dictionary are phonemised by eSpeak NG;
                      a quiet gap of 50 ms or more between its words is a rest (X).
                      Where the words do not fit a stretch of speech between pauses
                      (or the line at all), that stretch is recognised instead and
                      lipsync says so on standard error
  --text-string TEXT  the same with the words on the command line
Shapes:
  A  closed (M, B, P)
  B  slightly open, clenched teeth (most consonants, "ee")
  C  open ("eh", "ae")
  D  wide open ("aa")
  E  slightly rounded ("ao", "er")
  F  puckered ("oo", "w")
  G  upper teeth on lower lip (F, V)
  H  tongue raised (long L)
  X  rest (silence)
with a mouth opening from 0 (closed) to 1 (wide open). Frames are merged into cues;
short cues join their neighbours, so that shapes other than A and X last at least
50 ms (a short sound between two pauses keeps its own).

Text forms (times in seconds):
  tsv     one line per cue: start TAB shape; when the last cue is not X, a final
          line gives the end of the sound with X
  json    {"metadata": {"soundFile", "duration"},
           "mouthCues": [{"start", "end", "value"}, ...]}
  svg     the waveform, and below it one lane per shape with a coloured bar and the
          letter of every cue; one second is 200 pixels
  frames  one line per 10 ms frame with the measurements behind its shape: time,
          shape, opening, level, noise floor and speech level (dB), zero crossings
          per second, share of energy above 3 kHz, prediction error, F1, F2, F3 (Hz)
  --dump  the header values, then start, end, shape and opening of every cue

Options:
  -o, --output FILE   write the VLP file to FILE instead of beside SOUND
  -q, --quiet         print nothing when the VLP file was written
  --                  end of options (for a file name that begins with '-')

Environment: TARVIK_LIPSYNC_MODEL names the model directory (default
/usr/share/pocketsphinx/model/en-us, Debian package pocketsphinx-en-us). Without the
model lipsync says so and uses the signal analysis.

Exit status:
  0  success
  1  the input cannot be used: missing, unreadable, a directory, not audio,
     no audio in it, an unusable --text file, or (for --dump) not a valid VLP file
  2  wrong command line
  3  the VLP file (or standard output) could not be written
  128 + N  stopped by signal N (143 for SIGTERM, 130 for SIGINT, 129 for SIGHUP)

The VLP format is described in docs/vlp-format.md of the tarvik sources.
)";
}

int run_lipsync(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Request request;
    bool action_given = false;
    bool options_done = false;
    auto set_action = [&](Action a) {
        if (action_given) return false;
        request.action = a;
        action_given = true;
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!request.path.empty()) return usage_error(err, "more than one file given");
            request.path = arg;
            continue;
        }
        if (arg == "--") {
            options_done = true;
        } else if (arg == "-h" || arg == "--help") {
            if (!set_action(Action::Help)) return usage_error(err, "more than one action");
        } else if (arg == "--version") {
            if (!set_action(Action::Version)) return usage_error(err, "more than one action");
        } else if (arg == "-q" || arg == "--quiet") {
            request.quiet = true;
        } else if (arg == "-o" || arg == "--output" || arg.rfind("--output=", 0) == 0) {
            if (arg.size() > 8) {
                request.output = arg.substr(9);
            } else {
                if (i + 1 >= args.size()) return usage_error(err, arg + " needs a file name");
                request.output = args[++i];
            }
            if (request.output.empty()) return usage_error(err, arg + " needs a file name");
        } else if (arg == "--fast") {
            request.fast = true;
        } else if (arg == "--text" || arg == "--text-string") {
            if (i + 1 >= args.size())
                return usage_error(err, arg + " needs " +
                                            (arg == "--text" ? "a file name" : "the words"));
            if (request.text_file || request.text)
                return usage_error(err, "one text only (--text or --text-string)");
            if (arg == "--text")
                request.text_file = args[++i];
            else
                request.text = args[++i];
        } else if (arg == "--dump") {
            if (!set_action(Action::Dump)) return usage_error(err, "more than one action");
        } else if (arg == "--format" || arg.rfind("--format=", 0) == 0) {
            std::string form;
            if (arg == "--format") {
                if (i + 1 >= args.size())
                    return usage_error(err, "--format needs tsv, json, svg or frames");
                form = args[++i];
            } else {
                form = arg.substr(9);
            }
            Action a;
            if (form == "tsv")
                a = Action::Tsv;
            else if (form == "json")
                a = Action::Json;
            else if (form == "svg")
                a = Action::Svg;
            else if (form == "frames")
                a = Action::Frames;
            else
                return usage_error(err, "unknown form \"" + form + "\" (tsv, json, svg or frames)");
            if (!set_action(a)) return usage_error(err, "more than one action");
        } else {
            return usage_error(err, "unknown option \"" + arg + "\"");
        }
    }

    switch (request.action) {
    case Action::Help:
        out << help_text();
        return kExitOk;
    case Action::Version:
        out << "lipsync " << kVersion << " (VLP version " << kVlpVersion << ")\n";
        return kExitOk;
    default:
        break;
    }
    if (!request.output.empty() && request.action != Action::Write)
        return usage_error(err, "-o only names the VLP file that lipsync writes");
    if (request.path.empty())
        return usage_error(err, request.action == Action::Dump ? "--dump needs a VLP file"
                                                               : "no sound file given");
    if (request.text_file) {
        std::string why;
        request.text = read_text_file(*request.text_file, why);
        if (!request.text) {
            report(err, *request.text_file, "cannot use the text: " + why);
            return kExitBadInput;
        }
    }

    switch (request.action) {
    case Action::Dump: {
        const VlpReadResult read = read_vlp_file(request.path);
        if (!read.track) {
            report(err, request.path, read.error);
            return kExitBadInput;
        }
        out << format_dump(*read.track);
        return kExitOk;
    }
    case Action::Tsv:
    case Action::Json: {
        const auto track = load_track(request, err);
        if (!track) return kExitBadInput;
        out << (request.action == Action::Tsv ? format_tsv(*track)
                                              : format_json(*track, request.path));
        return kExitOk;
    }
    case Action::Svg: {
        const auto track = load_track(request, err);
        if (!track) return kExitBadInput;
        // The waveform: the sound read once more (a VLP file has none).
        std::optional<WaveformBuilder> wave;
        SoundInfo info;
        if (!starts_with_vlp_magic(request.path))
            read_sound(
                request.path, [&](const SoundInfo& i) { wave.emplace(i.sample_rate); },
                [&](const float* s, size_t n) { wave->feed(s, n); }, info);
        out << format_svg(*track, wave ? wave->finish() : Waveform{}, request.path);
        return kExitOk;
    }
    case Action::Frames: {
        out << "time\tshape\topening\tlevel\tfloor\tspeech\tzcr\thf\terror\tF1\tF2\tF3\n";
        AnalysisRequest signal_only;
        signal_only.method = Method::Signal;
        signal_only.observer = [&out](const FrameResult& f) { out << frame_line(f); };
        const SoundResult sound = analyse_sound_file(request.path, signal_only);
        if (!sound.track) {
            report(err, request.path, sound.error);
            return kExitBadInput;
        }
        return kExitOk;
    }
    default:
        break;
    }

    const std::string target = request.output.empty() ? vlp_path_for(request.path) : request.output;
    if (target == request.path || same_file(target, request.path)) {
        report(err, request.path, "the VLP file would replace the input; rename the input");
        return kExitBadInput;
    }
    const SoundResult sound = analyse(request, err);
    if (!sound.track) return kExitBadInput;
    if (const Status written = write_vlp_file(target, *sound.track); !written) {
        report(err, target, "cannot write the VLP file: " + written.error);
        return kExitWriteFailed;
    }
    if (!request.quiet)
        out << "Wrote \"" << target << "\": " << sound.track->cues.size()
            << (sound.track->cues.size() == 1 ? " cue" : " cues") << " over "
            << centiseconds_text(sound.track->frame_count) << " s\n";
    return kExitOk;
}

} // namespace tarvik::lipsync

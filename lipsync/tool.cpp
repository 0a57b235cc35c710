// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/tool.hpp"

#include "lipsync/command_line.hpp"
#include "lipsync/exporters.hpp"
#include "lipsync/sound_file.hpp"
#include "lipsync/speech.hpp"
#include "lipsync/vlp.hpp"

#include "common/files.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "platform/files.hpp"

#include "lipsync/svg.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

namespace tarvik::lipsync {

namespace {

int usage_error(std::ostream& err, const std::string& what) {
    err << "lipsync: " << what << " (lipsync --help explains the command line)\n";
    return kExitUsage;
}

void report(std::ostream& err, const std::string& path, const std::string& why) {
    err << "lipsync: \"" << path << "\": " << why << "\n";
}

bool starts_with_vlp_magic(const std::string& path) {
    // Only a regular file is looked into: opening a FIFO would wait for a writer.
    const auto status = platform::file_status(path);
    if (!status || status->type != platform::FileType::Regular) return false;
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
    analysis.language = request.language;
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
    const auto status = platform::file_status(path);
    if (!status) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return std::nullopt;
    }
    if (status->type != platform::FileType::Regular) {
        error = "is not a regular file";
        return std::nullopt;
    }
    const int64_t size = status->identity.size;
    if (size > (1 << 20)) {
        error = "is too large for the text of a line (more than 1 MiB)";
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf()) || in.bad()) {
        if (size == 0) return std::string();
        error = "cannot be read";
        return std::nullopt;
    }
    return text.str();
}

struct NamedLanguage {
    std::string language;
    size_t text_start; // where the words begin, after the line that names it
};

// The language a text's first line names: "#lang: LANG" (spaces around LANG allowed).
std::optional<NamedLanguage> text_language(const std::string& text) {
    constexpr std::string_view kTag = "#lang:";
    const size_t skip = text.starts_with("\xEF\xBB\xBF") ? 3 : 0; // a UTF-8 byte order mark
    if (text.compare(skip, kTag.size(), kTag) != 0) return std::nullopt;
    const size_t eol = std::min(text.find('\n', skip), text.size());
    const std::string_view line =
        std::string_view(text).substr(skip + kTag.size(), eol - skip - kTag.size());
    return NamedLanguage{std::string(trimmed(line)), std::min(eol + 1, text.size())};
}

// --dump: what the VLP file holds.
int print_dump(const std::string& path, std::ostream& out, std::ostream& err) {
    const VlpReadResult read = read_vlp_file(path);
    if (!read.track) {
        report(err, path, read.error);
        return kExitBadInput;
    }
    out << format_dump(*read.track);
    return kExitOk;
}

// --format tsv, json or svg: the cues of the sound or VLP file as text or a picture.
int print_form(const Request& request, std::ostream& out, std::ostream& err) {
    const auto track = load_track(request, err);
    if (!track) return kExitBadInput;
    if (request.action != Action::Svg) {
        out << (request.action == Action::Tsv ? format_tsv(*track)
                                              : format_json(*track, request.path));
        return kExitOk;
    }
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

// --format frames: the signal analysis of every frame, printed as it goes.
int print_frames(const std::string& path, std::ostream& out, std::ostream& err) {
    out << "time\tshape\topening\tlevel\tfloor\tspeech\tzcr\thf\terror\tF1\tF2\tF3\n";
    AnalysisRequest signal_only;
    signal_only.method = Method::Signal;
    signal_only.observer = [&out](const FrameResult& f) { out << frame_line(f); };
    const SoundResult sound = analyse_sound_file(path, signal_only);
    if (!sound.track) {
        report(err, path, sound.error);
        return kExitBadInput;
    }
    return kExitOk;
}

// The default action: the sound analysed and its VLP file written.
int write_vlp(const Request& request, std::ostream& out, std::ostream& err) {
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

} // namespace

std::string vlp_path_for(const std::string& sound_path) {
    const size_t slash = sound_path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = sound_path.rfind('.');
    const size_t cut = dot != std::string::npos && dot >= name_start ? dot : sound_path.size();
    return sound_path.substr(0, cut) + ".vlp";
}

int run_lipsync(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ParsedCommandLine parsed = parse_command_line(args);
    if (!parsed.error.empty()) return usage_error(err, parsed.error);
    Request& request = parsed.request;
    if (request.action == Action::Help) {
        out << help_text();
        return kExitOk;
    }
    if (request.action == Action::Version) {
        out << "lipsync " << kVersion << " (VLP version " << kVlpVersion << ")\n";
        return kExitOk;
    }
    if (request.action == Action::Languages) {
        std::string why;
        const std::vector<Language> languages = espeak_languages(why);
        if (languages.empty()) {
            err << "lipsync: " << why << "\n";
            return kExitBadInput;
        }
        for (const Language& l : languages)
            out << l.code << "\t" << l.name << "\n";
        return kExitOk;
    }
    if (request.language != kDefaultLanguage && !is_espeak_language(request.language)) {
        err << "lipsync: unknown language \"" << request.language
            << "\" (lipsync --language list shows them)\n";
        return kExitUsage;
    }
    if (request.text_file) {
        std::string why;
        request.text = read_text_file(*request.text_file, why);
        if (!request.text) {
            report(err, *request.text_file, "cannot use the text: " + why);
            return kExitBadInput;
        }
        // A first line "#lang: LANG" names the line's language, over --language.
        if (const auto named = text_language(*request.text)) {
            if (!is_espeak_language(named->language)) {
                report(err, *request.text_file,
                       "cannot use the text: unknown language \"" + named->language +
                           "\" (lipsync --language list shows them)");
                return kExitBadInput;
            }
            request.language = named->language;
            request.text = request.text->substr(named->text_start);
        }
    }
    switch (request.action) {
    case Action::Dump:
        return print_dump(request.path, out, err);
    case Action::Tsv:
    case Action::Json:
    case Action::Svg:
        return print_form(request, out, err);
    case Action::Frames:
        return print_frames(request.path, out, err);
    default:
        return write_vlp(request, out, err);
    }
}

} // namespace tarvik::lipsync

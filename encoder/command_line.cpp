#include "encoder/command_line.hpp"

#include "common/messages.hpp"
#include "common/text.hpp"
#include "encoder/encoding.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/playback.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sched.h>
#include <thread>

namespace tarvik {

namespace {

constexpr std::array<uint16_t, 18> kBitRates{8,  16,  24,  32,  40,  48,  56,  64,  80,
                                             96, 112, 128, 144, 160, 192, 224, 256, 320};
template <typename A, typename V> bool contains(const A& a, V v) {
    return std::find(a.begin(), a.end(), v) != a.end();
}

Dispatch finish(int status) {
    return Dispatch{RunMode::Finished, status, {}};
}

bool starts_with_dash(const std::string& s) {
    return !s.empty() && s[0] == '-';
}

// Echoes a bit-rate request. The request itself is kept and fitted once, against the class
// of the rate the MP3 gets. A silence run knows that rate now (unless -srate follows), so the
// fit is shown; a WAV brings its own rate, so only the class the value belongs to is named.
void print_bit_rate(const RunSettings& s, bool rate_from_wav) {
    const MpegClass now = mpeg_class(s.sample_rate);
    const bool fits = fit_bit_rate(s.bit_rate, now) == s.bit_rate;
    if (rate_from_wav || fits) {
        const bool mpeg1 =
            fits ? now.mpeg1() : fit_bit_rate(s.bit_rate, mpeg_class(44100)) == s.bit_rate;
        std::printf(mpeg1 ? "Bitrate = %dkbps (MPEG-1)\n" : "Bitrate = %dkbps (MPEG-2/MPEG-2.5)\n",
                    s.bit_rate);
        return;
    }
    std::printf(now.mpeg1() ? "Bitrate = %dkbps (adjusted to fit MPEG-1 compliance)\n"
                            : "Bitrate = %dkbps (adjusted to fit MPEG-2/MPEG-2.5 compliance)\n",
                fit_bit_rate(s.bit_rate, now));
}

} // namespace

int available_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int n = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(n, 1, kMaxJobs);
}

const std::string& help_text() {
    static const std::string text =
        "\n"
        "Usage:    tarvik [<switches>] <silence_time> [<output_dir>]\n"
        "               tarvik -wav [<switches>] <input_file> [<output_dir>]\n"
        "               tarvik -batch [<switches>] <input_dir> [<output_dir>]\n"
        "               tarvik -play <input_file>\n"
        "\n"
        " Optional commands are enclosed within brackets\n"
        "\n"
        ">>>> GLOBAL SWITCHES <<<<\n"
        "-wav ....................................................... Encode a WAV file into MP3\n"
        "-batch ..................................................... Encode a list of WAV files "
        "into MP3\n"
        "-play ....................................................... Play a WAV/MPx/OGG file\n"
        "\n"
        ">>>> SWITCHES <<<<\n"
        "-? (or -h, -help) .......................................... Display tarvik built-in "
        "help\n"
        "-ver ........................................................ Display info about "
        "third-party libraries\n"
        "------------------------------------------------------------------------------------------"
        "------------------------------\n"
        "-bitrate (or -brate) <integer> ......................... Constant bit rate (default: "
        "64kbps)\n"
        "integer:= {8|16|24|32|40|48|56|64|80|96|112|128|144|160|192|224|256|320}\n"
        "-vbr <efficiency> ....................................... Use Variable Bit Rate encoding "
        "technique\n"
        "efficiency:= {0 ... 9}. 9 gives the best ratio compression/quality\n"
        "-------------------------- the 2 following are useless when encoding existing files "
        "--------------------------\n"
        "-samplerate (or -srate) <integer> .................... Sampling frequency (default: "
        "44100Hz)\n"
        "integer:= {8000|11025|12000|16000|22050|24000|32000|44100|48000}\n"
        "-mode {mono|stereo|jstereo|dual} ................... Mode selection (default: mono). "
        "jstereo gives\n"
        "better results than stereo in terms of quality\n"
        "------------------------------------------------------------------------------------------"
        "------------------------------\n"
        "-lips (or -vlp) ............................................. Generate a VLP file\n"
        "-numbar ................................................... Display a digital progress "
        "bar\n"
        "------------------------------------------------------------------------------------------"
        "------------------------------\n"
        "-rem ....................................................... Delete WAV file/s after "
        "it/they is/are encoded\n"
        "-jobs <integer> .............................................. Convert up to <integer> "
        "WAVs at once (0: one per core)\n"
        "------------------------------------------------------------------------------------------"
        "------------------------------\n"
        "-noclick .................................................... If you hear a \"click\" "
        "sound at the end of *mono*\n"
        "mp3s, you can give this switch a try; however, only use it when you are encoding *mono* "
        "WAVs\n"
        "\n"
        "NB: - You don't need to provide any file extension\n"
        "       - If input_file/output_dir have spaces in their label, enclose it/them between "
        "double quotes (\")\n"
        "       - \"-lips\" requires the lipsync tool in the same directory as tarvik\n"
        "       - tarvik will refuse (skip actually) to encode WAV files whose size is below 10kb\n"
        "       - The batch mode can encode up to 16384 WAVs at a time (that should be enough "
        ";))\n";
    return text;
}

void print_defaults(const Context& ctx) {
    const RunFlags& f = ctx.flags;
    const RunSettings& s = ctx.settings;
    const bool bit_rate_given = s.bit_rate_given;
    const int rate = static_cast<int>(s.sample_rate), bits = s.bit_rate;
    if (!f.sample_rate_given && !f.mode_given && !bit_rate_given)
        std::printf("Use defaults: | Sample rate = %dHz\n              | Mode        = mono\n"
                    "              | Bitrate     = %dkbps\n",
                    rate, bits);
    else if (f.sample_rate_given && !f.mode_given && !bit_rate_given)
        std::printf("Use defaults: | Mode    = mono\n              | Bitrate = %dkbps\n", bits);
    else if (!f.sample_rate_given && f.mode_given && !bit_rate_given)
        std::printf("Use defaults: | Sample rate = %dHz\n              | Bitrate     = %dkbps\n",
                    rate, bits);
    else if (!f.sample_rate_given && !f.mode_given && bit_rate_given)
        std::printf("Use defaults: | Sample rate = %dHz\n              | Mode        = mono\n",
                    rate);
    else if (f.sample_rate_given && f.mode_given && !bit_rate_given)
        std::printf("Use default:  | Bitrate = %dkbps\n", bits);
    else if (f.sample_rate_given && !f.mode_given && bit_rate_given)
        std::printf("Use default: | Mode = mono\n");
    else if (!f.sample_rate_given && f.mode_given && bit_rate_given)
        std::printf("Use default: | Sample rate = %dHz\n", rate);
}

Dispatch read_command_line(const std::vector<std::string>& args, Context& ctx,
                           const std::string& library_info) {
    RunSettings& s = ctx.settings;
    RunFlags& f = ctx.flags;
    const size_t n = args.size();
    if (n > 0) std::printf("[---> checking switch(es) <---]\n");

    // Pass 1: -play wins wherever it stands. Switches match without regard to case; the
    // file name is kept as typed (names are case-sensitive here).
    for (size_t i = 0; i < n; ++i) {
        if (to_lower_ascii(args[i]) != "-play") continue;
        std::printf("Play a sound file\n");
        if (i + 1 >= n) {
            show_error_box<ErrorBox::PlayFileMissing>();
            return finish(kExitFailure);
        }
        if (starts_with_dash(args[i + 1])) {
            show_error_box<ErrorBox::PlayFileIsSwitch>(to_lower_ascii(args[i + 1]));
            return finish(kExitFailure);
        }
        return Dispatch{RunMode::Play, kExitSuccess, {args[i + 1]}};
    }

    // Pass 2: switches, in table order, up to the first positional parameter.
    size_t i = 0;
    for (; i < n; ++i) {
        const std::string arg = to_lower_ascii(args[i]);
        const bool has_next = i + 1 < n;
        const std::string next = has_next ? args[i + 1] : std::string();

        if (arg == "-h" || arg == "-?" || arg == "-help") {
            std::printf("Display help panel\n");
            show_info(help_text());
            return finish(kExitSuccess);
        }
        if (arg == "-ver") {
            std::printf("Display info about 3rd-party libraries\n");
            show_info(library_info + audio_version_block(ctx.program_dir));
            return finish(kExitSuccess);
        }
        if (arg == "-wav") {
            f.wav_mode = true;
            std::printf("Convert a regular WAV file\n");
            continue;
        }
        if (arg == "-batch" && !f.wav_mode) {
            f.batch_mode = true;
            std::printf("Batch process enabled\n");
            continue;
        }
        if (arg == "-samplerate" || arg == "-srate") {
            f.sample_rate_given = true;
            if (!has_next) {
                show_error_box<ErrorBox::SampleRateMissing>(arg);
                return finish(kExitFailure);
            }
            if (starts_with_dash(next)) {
                s.sample_rate = 44100;
            } else {
                const long long v = parse_leading_int(next);
                s.sample_rate = contains(kMpegRates, v) ? static_cast<uint32_t>(v) : 44100;
                ++i;
            }
            if (is_mpeg1_rate(s.sample_rate)) {
                s.mpeg_version = 1;
                std::printf("Sample rate = %dHz (MPEG-1)\n", static_cast<int>(s.sample_rate));
            } else {
                s.mpeg_version = 0;
                std::printf("Sample rate = %dHz (MPEG-2/MPEG-2.5)\n",
                            static_cast<int>(s.sample_rate));
            }
            continue;
        }
        if (arg == "-mode") {
            f.mode_given = true;
            if (!has_next) {
                show_error_box<ErrorBox::ModeMissing>(arg);
                return finish(kExitFailure);
            }
            if (starts_with_dash(next)) {
                s.mode = kModeMono;
                std::printf("Mode = mono\n");
                continue;
            }
            ++i;
            const std::string word = to_lower_ascii(next);
            if (word == "stereo") {
                s.mode = kModeStereo;
                std::printf("Mode = stereo\n");
            } else if (word == "jstereo") {
                s.mode = kModeJointStereo;
                std::printf("Mode = joint stereo\n");
            } else if (word == "dual") {
                s.mode = kModeDual;
                std::printf("Mode = dual channel\n");
            } else {
                s.mode = kModeMono;
                std::printf("Mode = mono\n");
            }
            continue;
        }
        if (arg == "-bitrate" || arg == "-brate") {
            s.bit_rate_given = true;
            if (!has_next) {
                show_error_box<ErrorBox::BitRateMissing>(arg);
                return finish(kExitFailure);
            }
            if (starts_with_dash(next)) {
                s.bit_rate = 64;
            } else {
                // Only the low 16 bits are kept, as the setting is 16 bits wide.
                const auto v =
                    static_cast<uint16_t>(static_cast<unsigned long long>(parse_leading_int(next)));
                s.bit_rate = contains(kBitRates, v) ? v : uint16_t{64};
                ++i;
            }
            print_bit_rate(s, f.wav_mode || f.batch_mode);
            continue;
        }
        if (arg == "-vbr") {
            if (!has_next || starts_with_dash(next)) {
                show_error_box<ErrorBox::VbrMissing>(arg);
                return finish(kExitFailure);
            }
            const long long v = parse_leading_int(next);
            if (v < 0 || v > 9) {
                show_error_box<ErrorBox::VbrOutOfRange>(arg, "9");
                return finish(kExitFailure);
            }
            s.vbr_quality = static_cast<int32_t>(v);
            std::printf("VBR efficiency = %d\n", s.vbr_quality);
            ++i;
            continue;
        }
        if (arg == "-jobs") {
            if (!has_next || starts_with_dash(next)) {
                show_error_box<ErrorBox::JobsMissing>(arg);
                return finish(kExitFailure);
            }
            const long long v = parse_leading_int(next);
            if (v < 0 || v > kMaxJobs) {
                show_error_box<ErrorBox::JobsOutOfRange>(arg, std::to_string(kMaxJobs));
                return finish(kExitFailure);
            }
            s.jobs = v == 0 ? available_cores() : static_cast<int>(v);
            std::printf("Parallel jobs = %d\n", s.jobs);
            ++i;
            continue;
        }
        if (arg == "-lips" || arg == "-vlp") {
            f.lips = true;
            std::printf("Generate a VLP file\n");
            continue;
        }
        if (arg == "-numbar") {
            s.show_bar = false;
            std::printf("Display a digital progress bar\n");
            continue;
        }
        if (arg == "-rem" && (f.wav_mode || f.batch_mode)) {
            f.delete_wav = true;
            std::printf(f.wav_mode ? "Delete WAV file after process\n"
                                   : "Delete WAV files after process\n");
            continue;
        }
        if (arg == "-noclick" && (f.wav_mode || f.batch_mode)) {
            s.no_click = true;
            std::printf("Try to fix the click produced at the end of *monophonic* mp3s\n");
            continue;
        }
        if (starts_with_dash(arg)) {
            show_error_box<ErrorBox::UnknownSwitch>(arg);
            return finish(kExitFailure);
        }
        break; // the first positional parameter
    }

    // Every mode takes one or two positional parameters and nothing after them.
    const bool params_ok = i < n && n - i <= 2;
    RunMode mode = f.wav_mode     ? RunMode::SingleFile
                   : f.batch_mode ? RunMode::Batch
                                  : RunMode::Silence;
    if (!params_ok) {
        if (mode == RunMode::SingleFile)
            show_error_box<ErrorBox::InputFileMissing>();
        else if (mode == RunMode::Batch)
            show_error_box<ErrorBox::InputDirMissing>();
        else
            show_error_box<ErrorBox::SilenceTimeMissing>();
        return finish(kExitFailure);
    }
    return Dispatch{mode, kExitSuccess,
                    std::vector<std::string>(args.begin() + static_cast<long>(i), args.end())};
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/command_line.hpp"

#include "common/messages.hpp"
#include "common/mpeg.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/batch.hpp"
#include "encoder/encoding.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/lipsync_languages.hpp"
#include "encoder/loudness.hpp"
#include "encoder/playback.hpp"
#include "encoder/results.hpp"
#include "lipsync/command_line.hpp"
#include "platform/system.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string_view>

namespace tarvik {

namespace {

constexpr RunSettings kDefaults{};
constexpr int kMaxVbrQuality = 9; // the encoder's VBR qualities are 0 to 9
constexpr std::string_view kResultsSwitch = "-json";
constexpr std::string_view kLanguageSwitch = "-lang";

template <typename A, typename V> bool contains(const A& a, V v) {
    return std::find(a.begin(), a.end(), v) != a.end();
}

// Every bit rate some MPEG version allows, in ascending order.
std::vector<uint16_t> all_bit_rates() {
    std::vector<uint16_t> rates;
    std::set_union(kMpeg2Kbps.begin(), kMpeg2Kbps.end(), kMpeg1Kbps.begin(), kMpeg1Kbps.end(),
                   std::back_inserter(rates));
    return rates;
}

// "{a|b|c}"
template <typename List> std::string braced(const List& values) {
    std::string text = "{";
    for (const auto v : values)
        text += (text.size() > 1 ? "|" : "") + std::to_string(v);
    return text + "}";
}

Dispatch finish(int status) {
    return Dispatch{RunMode::Finished, status, {}};
}

bool starts_with_dash(std::string_view s) {
    return !s.empty() && s[0] == '-';
}

// A switch's argument: none; one that defaults when the next word is a switch (which is then
// read as one); one that must be there; a word that must be there, whatever it is; a name that
// must be there (not empty, not a switch); or a number below zero, there when the next word
// starts with '-' and names no switch (so that a plain word after it is the run's parameter).
enum class Takes { Nothing, ValueOrDefault, Value, Word, Name, NegativeOrNothing };
// Where a switch applies (after the switch that names its mode, or -lips); elsewhere it is an
// unknown switch.
enum class When { Always, NotSingleFile, SingleFileOrBatch, Batch, Lips };

struct Argument {
    std::optional<std::string_view> text; // absent: the default is asked for
    long long number = 0;                 // the text's leading integer
    double decimal = 0;                   // NegativeOrNothing: the whole text as a number
};

struct Switch {
    std::array<std::string_view, 3> names; // the name, then its aliases (unused ones empty)
    Takes takes = Takes::Nothing;
    When when = When::Always;
    // For a switch that takes an argument: the box when it is missing; for Takes::Value, the
    // box when it is outside 0 to max (NegativeOrNothing: min to max, or not a number).
    ErrorBox missing = ErrorBox::UnknownSwitch;
    ErrorBox out_of_range = ErrorBox::UnknownSwitch;
    int min = 0;
    int max = 0;
    // Records the switch in the context and returns the line the reading prints for it.
    std::string (*apply)(Context&, const Argument&) = nullptr;
    // Set for a switch that ends the reading with an information box: its text.
    std::string (*info)(const Context&, const std::string& library_info) = nullptr;
};

// Echoes a bit-rate request. The request itself is kept and fitted once, against the class
// of the rate the MP3 gets. A silence run knows that rate now (unless -srate follows), so the
// fit is shown; a WAV brings its own rate, so only the class the value belongs to is named.
std::string bit_rate_line(const RunSettings& s, bool rate_from_wav) {
    const MpegClass now = mpeg_class(s.sample_rate);
    const bool fits = fit_bit_rate(s.bit_rate, now) == s.bit_rate;
    if (rate_from_wav || fits) {
        const bool mpeg1 =
            fits ? now.mpeg1() : fit_bit_rate(s.bit_rate, mpeg_class(44100)) == s.bit_rate;
        return format_text(mpeg1 ? "Bitrate = %dkbps (MPEG-1)\n"
                                 : "Bitrate = %dkbps (MPEG-2/MPEG-2.5)\n",
                           s.bit_rate);
    }
    return format_text(now.mpeg1() ? "Bitrate = %dkbps (adjusted to fit MPEG-1 compliance)\n"
                                   : "Bitrate = %dkbps (adjusted to fit MPEG-2/MPEG-2.5 "
                                     "compliance)\n",
                       fit_bit_rate(s.bit_rate, now));
}

std::string set_sample_rate(Context& ctx, const Argument& a) {
    RunSettings& s = ctx.settings;
    ctx.flags.sample_rate_given = true;
    s.sample_rate = a.text && contains(kMpegRates, a.number) ? static_cast<uint32_t>(a.number)
                                                             : kDefaults.sample_rate;
    return format_text(is_mpeg1_rate(s.sample_rate) ? "Sample rate = %dHz (MPEG-1)\n"
                                                    : "Sample rate = %dHz (MPEG-2/MPEG-2.5)\n",
                       static_cast<int>(s.sample_rate));
}

std::string set_mode(Context& ctx, const Argument& a) {
    struct Mode {
        std::string_view word;
        uint8_t code;
        const char* line;
    };
    static constexpr std::array<Mode, 3> kModes{
        {{"stereo", kModeStereo, "Mode = stereo\n"},
         {"jstereo", kModeJointStereo, "Mode = joint stereo\n"},
         {"dual", kModeDual, "Mode = dual channel\n"}}};
    ctx.flags.mode_given = true;
    // Any other word, or none, is mono.
    const std::string word = to_lower_ascii(a.text.value_or(""));
    const auto it =
        std::find_if(kModes.begin(), kModes.end(), [&](const Mode& m) { return m.word == word; });
    ctx.settings.mode = it != kModes.end() ? it->code : uint8_t{kModeMono};
    return it != kModes.end() ? it->line : "Mode = mono\n";
}

std::string set_bit_rate(Context& ctx, const Argument& a) {
    RunSettings& s = ctx.settings;
    s.bit_rate_given = true;
    // Only the low 16 bits are kept, as the setting is 16 bits wide.
    const auto v = static_cast<uint16_t>(static_cast<unsigned long long>(a.number));
    const bool valid = a.text && (contains(kMpeg1Kbps, v) || contains(kMpeg2Kbps, v));
    s.bit_rate = valid ? v : kDefaults.bit_rate;
    return bit_rate_line(s, ctx.flags.wav_mode || ctx.flags.batch_mode);
}

// The switches in the order of the help text. A name is matched without regard to case.
constexpr std::array kSwitches{
    Switch{.names = {"-h", "-?", "-help"},
           .apply = [](Context&, const Argument&) -> std::string { return "Display help panel\n"; },
           .info = [](const Context&, const std::string&) { return help_text(); }},
    Switch{.names = {"-ver"},
           .apply = [](Context&, const Argument&) -> std::string {
               return "Display info about 3rd-party libraries\n";
           },
           .info =
               [](const Context& ctx, const std::string& library_info) {
                   return library_info + audio_version_block(ctx.program_dir);
               }},
    Switch{.names = {"-wav"},
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.wav_mode = true;
               return "Convert a regular WAV file\n";
           }},
    Switch{.names = {"-batch"},
           .when = When::NotSingleFile,
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.batch_mode = true;
               return "Batch process enabled\n";
           }},
    Switch{.names = {"-samplerate", "-srate"},
           .takes = Takes::ValueOrDefault,
           .missing = ErrorBox::SampleRateMissing,
           .apply = set_sample_rate},
    Switch{.names = {"-mode"},
           .takes = Takes::ValueOrDefault,
           .missing = ErrorBox::ModeMissing,
           .apply = set_mode},
    Switch{.names = {"-bitrate", "-brate"},
           .takes = Takes::ValueOrDefault,
           .missing = ErrorBox::BitRateMissing,
           .apply = set_bit_rate},
    Switch{.names = {"-vbr"},
           .takes = Takes::Value,
           .missing = ErrorBox::VbrMissing,
           .out_of_range = ErrorBox::VbrOutOfRange,
           .max = kMaxVbrQuality,
           .apply =
               [](Context& ctx, const Argument& a) {
                   ctx.settings.vbr_quality = static_cast<int32_t>(a.number);
                   return format_text("VBR efficiency = %d\n", ctx.settings.vbr_quality);
               }},
    Switch{.names = {"-jobs"},
           .takes = Takes::Value,
           .missing = ErrorBox::JobsMissing,
           .out_of_range = ErrorBox::JobsOutOfRange,
           .max = kMaxJobs,
           .apply =
               [](Context& ctx, const Argument& a) {
                   ctx.settings.jobs =
                       a.number == 0 ? available_cores() : static_cast<int>(a.number);
                   return format_text("Parallel jobs = %d\n", ctx.settings.jobs);
               }},
    Switch{.names = {"-loudness"},
           .takes = Takes::NegativeOrNothing,
           .out_of_range = ErrorBox::LoudnessOutOfRange,
           .min = kMinLoudnessTarget,
           .max = kMaxLoudnessTarget,
           .apply =
               [](Context& ctx, const Argument& a) {
                   LoudnessRequest& loudness = ctx.settings.loudness;
                   loudness.measure = true;
                   loudness.target = a.text ? std::optional(a.decimal) : std::nullopt;
                   return a.text ? format_text("Loudness target = %g LUFS\n", a.decimal)
                                 : std::string("Measure the loudness\n");
               }},
    Switch{.names = {"-lips", "-vlp"},
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.lips = true;
               return "Generate a VLP file\n";
           }},
    Switch{.names = {kLanguageSwitch},
           .takes = Takes::Name,
           .when = When::Lips,
           .missing = ErrorBox::LanguageMissing,
           .apply =
               [](Context& ctx, const Argument& a) {
                   ctx.lips_language = std::string(a.text.value_or(""));
                   return format_text("Lip-sync language = \"%s\"\n",
                                      escaped(ctx.lips_language).c_str());
               }},
    Switch{.names = {"-numbar"},
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.settings.show_bar = false;
               return "Display a digital progress bar\n";
           }},
    Switch{.names = {"-rem"},
           .when = When::SingleFileOrBatch,
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.delete_wav = true;
               return ctx.flags.wav_mode ? "Delete WAV file after process\n"
                                         : "Delete WAV files after process\n";
           }},
    Switch{.names = {"-noclick"},
           .when = When::SingleFileOrBatch,
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.settings.no_click = true;
               return "Try to fix the click produced at the end of *monophonic* mp3s\n";
           }},
    Switch{.names = {kResultsSwitch},
           .takes = Takes::Word,
           .missing = ErrorBox::ResultsFileMissing,
           .apply =
               [](Context& ctx, const Argument& a) {
                   ctx.results_target = std::string(a.text.value_or(""));
                   return ctx.results_target == kResultsToStandardOutput
                              ? std::string("Write the results as JSON Lines to standard output\n")
                              : format_text("Write the results as JSON Lines to \"%s\"\n",
                                            escaped(ctx.results_target).c_str());
               }},
    Switch{.names = {"-recurse"},
           .when = When::Batch,
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.recurse = true;
               return "Process subdirectories too\n";
           }},
    Switch{.names = {"-update"},
           .when = When::Batch,
           .apply = [](Context& ctx, const Argument&) -> std::string {
               ctx.flags.update = true;
               return "Skip files whose outputs are up to date\n";
           }},
};

// The GNU-style options beside the table: read before it, and printed rather than boxed.
struct InformationOption {
    std::string_view name;
    std::string (*text)();
};
constexpr std::array kInformationOptions{
    InformationOption{"--help", [] { return help_text(); }},
    InformationOption{"--version", [] { return std::string("tarvik ") + kVersion + "\n"; }},
};

// The boxes a switch names take its name (and the range's end) as their arguments.
static_assert(std::all_of(kSwitches.begin(), kSwitches.end(), [](const Switch& s) {
    return s.takes == Takes::Nothing ||
           (s.takes == Takes::NegativeOrNothing &&
            placeholder_count(error_box_row(s.out_of_range).text) == 3) ||
           (placeholder_count(error_box_row(s.missing).text) == 1 &&
            (s.takes != Takes::Value ||
             placeholder_count(error_box_row(s.out_of_range).text) == 2));
}));

// Whether a word is the name of a switch, wherever that switch applies.
bool names_switch(std::string_view word) {
    return std::any_of(kSwitches.begin(), kSwitches.end(),
                       [&](const Switch& s) { return contains(s.names, word); });
}

// The whole word as a decimal number, or nullopt.
std::optional<double> decimal_of(std::string_view word) {
    double value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
    return value;
}

const Switch* find_switch(std::string_view name, const RunFlags& f) {
    for (const Switch& s : kSwitches) {
        if (!contains(s.names, name)) continue;
        const bool applies =
            s.when == When::Always || (s.when == When::NotSingleFile && !f.wav_mode) ||
            (s.when == When::SingleFileOrBatch && (f.wav_mode || f.batch_mode)) ||
            (s.when == When::Batch && f.batch_mode) || (s.when == When::Lips && f.lips);
        return applies ? &s : nullptr;
    }
    return nullptr;
}

} // namespace

int available_cores() {
    return std::clamp(platform::usable_cores(), 1, kMaxJobs);
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
        "-bitrate (or -brate) <integer> ......................... Constant bit rate (default: " +
        std::to_string(kDefaults.bit_rate) + "kbps)\n" + "integer:= " + braced(all_bit_rates()) +
        "\n"
        "-vbr <efficiency> ....................................... Use Variable Bit Rate encoding "
        "technique\n"
        "efficiency:= {0 ... " +
        std::to_string(kMaxVbrQuality) + "}. " + std::to_string(kMaxVbrQuality) +
        " gives the best ratio compression/quality\n"
        "-------------------------- the 2 following are useless when encoding existing files "
        "--------------------------\n"
        "-samplerate (or -srate) <integer> .................... Sampling frequency (default: " +
        std::to_string(kDefaults.sample_rate) + "Hz)\n" + "integer:= " + braced(kMpegRates) +
        "\n"
        "-mode {mono|stereo|jstereo|dual} ................... Mode selection (default: mono). "
        "jstereo gives\n"
        "better results than stereo in terms of quality\n"
        "------------------------------------------------------------------------------------------"
        "------------------------------\n"
        "-lips (or -vlp) ............................................. Generate a VLP file\n"
        "-lang <language> ........................................ Language of the lines for "
        "-lips (default: " +
        std::string(lipsync::kDefaultLanguage) +
        ")\n"
        "language:= a code or name of \"lipsync --language list\"\n"
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
        "       - The batch mode can encode up to " +
        std::to_string(kMaxBatchFiles) + " WAVs at a time (that should be enough ;))\n";
    return text;
}

std::optional<std::string> information_option(const std::vector<std::string>& args) {
    if (args.empty()) return std::nullopt;
    const std::string name = to_lower_ascii(args.front());
    for (const InformationOption& option : kInformationOptions)
        if (option.name == name) return option.text();
    return std::nullopt;
}

bool results_on_standard_output(const std::vector<std::string>& args) {
    bool asked = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string word = to_lower_ascii(args[i]);
        if (word == "-play") return false;
        if (word == kResultsSwitch && i + 1 < args.size())
            asked = args[++i] == kResultsToStandardOutput;
    }
    return asked;
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

    // Pass 2: switches, one after another, up to the first positional parameter.
    size_t i = 0;
    for (; i < n && starts_with_dash(args[i]); ++i) {
        const std::string name = to_lower_ascii(args[i]);
        const Switch* sw = find_switch(name, ctx.flags);
        if (!sw) {
            show_error_box<ErrorBox::UnknownSwitch>(name);
            return finish(kExitFailure);
        }
        Argument argument;
        if (sw->takes == Takes::NegativeOrNothing) {
            if (i + 1 < n && starts_with_dash(args[i + 1]) &&
                !names_switch(to_lower_ascii(args[i + 1]))) {
                argument.text = args[++i];
                const auto value = decimal_of(*argument.text);
                // Not-a-number is refused too: it compares false.
                if (!value || !(*value >= sw->min && *value <= sw->max)) {
                    show_error_box(sw->out_of_range,
                                   {name, std::to_string(sw->min), std::to_string(sw->max)});
                    return finish(kExitFailure);
                }
                argument.decimal = *value;
            }
        } else if (sw->takes != Takes::Nothing) {
            const bool next_is_switch =
                sw->takes != Takes::Word && i + 1 < n && starts_with_dash(args[i + 1]);
            const bool required = sw->takes == Takes::Value || sw->takes == Takes::Name;
            if (i + 1 >= n || (next_is_switch && required) ||
                (sw->takes == Takes::Name && args[i + 1].empty())) {
                show_error_box(sw->missing, {name});
                return finish(kExitFailure);
            }
            if (!next_is_switch) {
                argument.text = args[++i];
                argument.number = parse_leading_int(*argument.text);
            }
            if (sw->takes == Takes::Value && (argument.number < 0 || argument.number > sw->max)) {
                show_error_box(sw->out_of_range, {name, std::to_string(sw->max)});
                return finish(kExitFailure);
            }
        }
        std::fputs(sw->apply(ctx, argument).c_str(), stdout);
        if (sw->info) {
            show_info(sw->info(ctx, library_info));
            return finish(kExitSuccess);
        }
    }

    // -lang (which follows -lips) must name a language of the tool's list, asked for once, here,
    // before any file is touched; it is then passed on as the list writes it. Without the list,
    // each line's call of the tool says what is wrong.
    if (!ctx.lips_language.empty())
        if (const auto languages = lipsync_languages(ctx.program_dir)) {
            const LipsyncLanguage* known = find_language(*languages, ctx.lips_language);
            if (!known) {
                show_error_box<ErrorBox::LanguageUnknown>(kLanguageSwitch,
                                                          escaped(ctx.lips_language));
                return finish(kExitFailure);
            }
            ctx.lips_language = known->code;
        }

    // Every mode takes one or two positional parameters and nothing after them.
    const bool params_ok = i < n && n - i <= 2;
    const RunMode mode = ctx.flags.wav_mode     ? RunMode::SingleFile
                         : ctx.flags.batch_mode ? RunMode::Batch
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

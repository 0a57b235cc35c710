// SPDX-License-Identifier: GPL-3.0-or-later
// Every error box of the console program, in one table: its id, the source unit and line its
// caption names ("tarvik <version> - [called from \"<unit>\", line <line>]", see show_error), and
// its text. A text may hold "{}" placeholders, filled in order by the arguments the box is
// shown with. Arguments are inserted as given, never read as a format: callers escape the
// file names they pass.
#pragma once

#include "encoder/run_state.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarvik {

enum class ErrorBox : uint8_t {
    // Reading the command line.
    PlayFileMissing,
    PlayFileIsSwitch,
    SampleRateMissing,
    ModeMissing,
    BitRateMissing,
    VbrMissing,
    VbrOutOfRange,
    JobsMissing,
    JobsOutOfRange,
    LoudnessOutOfRange,
    ResultsFileMissing,
    LanguageMissing,
    LanguageUnknown,
    UnknownSwitch,
    SilenceTimeMissing,
    InputDirMissing,
    InputFileMissing,
    // Start-up and exit.
    LameNotLoaded,
    LameNotUnloaded,
    // The silence run.
    SilenceTimeNull,
    SilenceTooLong,
    SilenceWavNotCreated,
    SilenceWavNotWritten,
    SilenceVlpFailed,
    EncodeFailed, // also the single-file run
    // The single-file run.
    InputNotOpened,
    InputSizeNull,
    InputTooSmall,
    InputHoldsNoAudio,
    InputTruncated,
    OutputIsInput,
    InputNotProbed,
    InputSpecsUnread,
    VlpFailed,
    InputNotDeleted,
    SingleOutputDirQuoted,
    SingleOutputDirEmpty,
    SingleOutputDirUnusable,
    // The batch run.
    BatchOutputDirQuoted,
    BatchOutputDirEmpty,
    BatchOutputDirUnusable,
    TooManyBatchFiles,
    // Playback.
    SoundFileNotFound,
    SoundFileGone,
    AudioModuleNotLoaded,
    AudioInitFailed,
    AudioStreamFailed,
    AudioStartFailed,
    AudioPlayFailed,
};

struct ErrorBoxRow {
    ErrorBox id;
    const char* unit; // named in the caption
    int line;         // named in the caption
    std::string_view text;
};

namespace box_text {
// Texts that several boxes share.
inline constexpr std::string_view kMissingArgument = "Missing argument after '{}'"; // the switch
inline constexpr std::string_view kWrongArgument =
    "Wrong argument after '{}'. It must be a value comprised between 0 and {}."; // switch, max
inline constexpr std::string_view kWrongSignedArgument =
    "Wrong argument after '{}'. It must be a value comprised between {} and {}."; // switch, range
inline constexpr std::string_view kUnknownSwitch =
    "Unknown switch: \"{}\". Run with -? (or -h, -help) for help";
inline constexpr std::string_view kVlpFailed = "Cannot generate a VLP file for \"{}\"\n{}";
inline constexpr std::string_view kOutputDirQuoted =
    "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these characters "
    "consecutively when specifying output_dir: \\\"";
inline constexpr std::string_view kOutputDirEmpty =
    "The output directory is empty!\nName a directory, or leave it out.";
inline constexpr std::string_view kOutputDirUnusable =
    "Cannot use \"{}\" as the output directory: it is not a directory that can be written to.";
// The failing call, its error code, and "\n<reason>" or nothing.
inline constexpr std::string_view kAudioFailed = "play() failed on {}(). Error code: {}{}";
} // namespace box_text

inline constexpr std::array kErrorBoxes{
    ErrorBoxRow{ErrorBox::PlayFileMissing, kUnit, 311,
                "Missing parameter: \"input_file\". Run with -? (or -h, -help) for help"},
    ErrorBoxRow{ErrorBox::PlayFileIsSwitch, kUnit, 316, box_text::kUnknownSwitch},
    ErrorBoxRow{ErrorBox::SampleRateMissing, kUnit, 377, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::ModeMissing, kUnit, 411, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::BitRateMissing, kUnit, 456, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::VbrMissing, kUnit, 530, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::VbrOutOfRange, kUnit, 536, box_text::kWrongArgument},
    ErrorBoxRow{ErrorBox::JobsMissing, kUnit, 545, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::JobsOutOfRange, kUnit, 551, box_text::kWrongArgument},
    ErrorBoxRow{ErrorBox::LoudnessOutOfRange, kUnit, 560, box_text::kWrongSignedArgument},
    ErrorBoxRow{ErrorBox::ResultsFileMissing, kUnit, 557, box_text::kMissingArgument},
    ErrorBoxRow{ErrorBox::LanguageMissing, kUnit, 563, box_text::kMissingArgument},
    // The switch and the language, as typed.
    ErrorBoxRow{ErrorBox::LanguageUnknown, kUnit, 564,
                "Wrong argument after '{}'. Unknown language \"{}\" (lipsync --language list "
                "shows them)."},
    ErrorBoxRow{ErrorBox::UnknownSwitch, kUnit, 570, box_text::kUnknownSwitch},
    ErrorBoxRow{ErrorBox::SilenceTimeMissing, kUnit, 583,
                "Missing parameter: \"silence_time\". Run with -? (or -h, -help) for help"},
    ErrorBoxRow{ErrorBox::InputDirMissing, kUnit, 600,
                "Missing parameter: \"input_dir\". Run with -? (or -h, -help) for help"},
    ErrorBoxRow{ErrorBox::InputFileMissing, kUnit, 643,
                "Missing parameter: \"input_file\". Run with -? (or -h, -help) for help"},
    // The library's file name.
    ErrorBoxRow{ErrorBox::LameNotLoaded, kUnit, 256,
                "\nmain() failed on load_lame(). File not found: \"{}\""},
    ErrorBoxRow{ErrorBox::LameNotUnloaded, kUnit, 990, "\nCannot unload \"{}\""},
    ErrorBoxRow{ErrorBox::SilenceTimeNull, kUnit, 590, "Silence time is null!"},
    // Seconds, the WAV's size, the directory, its free space.
    ErrorBoxRow{ErrorBox::SilenceTooLong, kUnit, 1008,
                "Cannot make {} seconds of silence: its temporary WAV file would take {}, but "
                "\"{}\" has {} free."},
    ErrorBoxRow{ErrorBox::SilenceWavNotCreated, kUnit, 1031,
                "generate_wave() failed on sf_open().\n"},
    ErrorBoxRow{ErrorBox::SilenceWavNotWritten, kUnit, 1060,
                "generate_wave() failed on sf_write_short().\n"},
    ErrorBoxRow{ErrorBox::SilenceVlpFailed, kUnit, 761, box_text::kVlpFailed},
    // The file and the reason.
    ErrorBoxRow{ErrorBox::EncodeFailed, kUnit, 788, "There was a problem for encoding \"{}\" ({})"},
    ErrorBoxRow{ErrorBox::InputNotOpened, kUnit, 661,
                "main() failed on fopen(). Cannot open \"{}\"."},
    ErrorBoxRow{ErrorBox::InputSizeNull, kUnit, 675, "Input file size is null!"},
    ErrorBoxRow{ErrorBox::InputTooSmall, kUnit, 680,
                "Input file size < 10kb. Increase its sampling frequency if you can, so its size "
                "will increase as well."},
    ErrorBoxRow{ErrorBox::InputHoldsNoAudio, kUnit, 675,
                "No audio in \"{}\": its header says it holds none."},
    ErrorBoxRow{ErrorBox::InputTruncated, kUnit, 675,
                "\"{}\" holds less audio than its header says (still being written?)"},
    ErrorBoxRow{ErrorBox::OutputIsInput, kUnit, 693,
                "The output file \"{}\" is the input file itself!\nRename the input file or "
                "choose another output directory."},
    ErrorBoxRow{ErrorBox::InputNotProbed, kUnit, 747, "Cannot open \"{}\""},
    ErrorBoxRow{ErrorBox::InputSpecsUnread, kUnit, 790,
                "There was a problem for retrieving some specs about \"{}\""},
    ErrorBoxRow{ErrorBox::VlpFailed, kUnit, 777, box_text::kVlpFailed},
    // The file and the reason it is kept.
    ErrorBoxRow{ErrorBox::InputNotDeleted, kUnit, 784, "Cannot delete \"{}\" ({})"},
    ErrorBoxRow{ErrorBox::SingleOutputDirQuoted, kUnit, 693, box_text::kOutputDirQuoted},
    ErrorBoxRow{ErrorBox::SingleOutputDirEmpty, kUnit, 693, box_text::kOutputDirEmpty},
    ErrorBoxRow{ErrorBox::SingleOutputDirUnusable, kUnit, 693, box_text::kOutputDirUnusable},
    ErrorBoxRow{ErrorBox::BatchOutputDirQuoted, kUnit, 621, box_text::kOutputDirQuoted},
    ErrorBoxRow{ErrorBox::BatchOutputDirEmpty, kUnit, 621, box_text::kOutputDirEmpty},
    ErrorBoxRow{ErrorBox::BatchOutputDirUnusable, kUnit, 621, box_text::kOutputDirUnusable},
    // The input directory and the most files a batch takes.
    ErrorBoxRow{ErrorBox::TooManyBatchFiles, kUnit, 1853,
                "Too many WAV files detected in \"{}\"!\nI can only handle up to {} files."},
    ErrorBoxRow{ErrorBox::SoundFileNotFound, kUnit, 1669,
                "File not found: \"{}\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
    ErrorBoxRow{ErrorBox::SoundFileGone, kUnit, 1685,
                "play() failed on access(). This file is missing: \"{}\"."},
    // The module's file name and why it did not load.
    ErrorBoxRow{ErrorBox::AudioModuleNotLoaded, kUnit, 1694,
                "play() cannot start: its audio module \"{}\" (SDL2 playback) did not load.\n{}"},
    ErrorBoxRow{ErrorBox::AudioInitFailed, kUnit, 1702, box_text::kAudioFailed},
    ErrorBoxRow{ErrorBox::AudioStreamFailed, kUnit, 1709, box_text::kAudioFailed},
    ErrorBoxRow{ErrorBox::AudioStartFailed, kUnit, 1722, box_text::kAudioFailed},
    ErrorBoxRow{ErrorBox::AudioPlayFailed, kUnit, 1730, box_text::kAudioFailed},
};

constexpr const ErrorBoxRow& error_box_row(ErrorBox id) {
    return kErrorBoxes[static_cast<size_t>(id)];
}

// The number of "{}" placeholders in a text.
constexpr size_t placeholder_count(std::string_view text) {
    size_t n = 0;
    for (size_t at = text.find("{}"); at != std::string_view::npos; at = text.find("{}", at + 2))
        ++n;
    return n;
}

// The table lists every id once, in the enum's order.
static_assert([] {
    for (size_t i = 0; i < kErrorBoxes.size(); ++i)
        if (kErrorBoxes[i].id != static_cast<ErrorBox>(i)) return false;
    return true;
}());
static_assert(static_cast<size_t>(ErrorBox::AudioPlayFailed) + 1 == kErrorBoxes.size());

// The box's text with its placeholders filled in order. A placeholder without an argument
// stays as it is; arguments beyond the placeholders are left out.
std::string error_box_text(ErrorBox id, std::initializer_list<std::string_view> args);

// Shows the box and returns when it is closed. For an id chosen at run time; prefer the
// form below, which checks the argument count when it is compiled.
void show_error_box(ErrorBox id, std::initializer_list<std::string_view> args);

template <ErrorBox id, typename... Args> void show_error_box(const Args&... args) {
    static_assert(placeholder_count(error_box_row(id).text) == sizeof...(Args),
                  "one argument per placeholder of the box's text");
    show_error_box(id, {std::string_view(args)...});
}

} // namespace tarvik

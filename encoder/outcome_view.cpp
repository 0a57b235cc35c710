#include "encoder/outcome_view.hpp"

#include "common/messages.hpp"
#include "common/text.hpp"
#include "platform/signals.hpp"

#include <array>
#include <cstdio>
#include <string_view>

namespace tarvik {

namespace {

// What a text's "{}" placeholders are filled with, in order. File names are shown escaped.
enum class Field : uint8_t { None, Wav, Mp3, Reason, ClashWith, ClashOutput };

struct View {
    Outcome outcome;
    uint8_t runs;          // the Run values it applies to
    int box;               // the error box's line; 0: a console line
    std::string_view text; // with "{}" placeholders
    std::array<Field, 3> fields{};
    const char* report = nullptr; // batch: what the report line puts before the WAV's name
};

constexpr uint8_t kSilence = static_cast<uint8_t>(Run::Silence);
constexpr uint8_t kSingle = static_cast<uint8_t>(Run::SingleFile);
constexpr uint8_t kBatch = static_cast<uint8_t>(Run::Batch);
using enum Field;

constexpr std::string_view kEncodeFailed = "There was a problem for encoding \"{}\" ({})";
constexpr std::string_view kVlpFailed = "Cannot generate a VLP file for \"{}\"\n{}";
constexpr std::string_view kCannotOpen = "WARNING! Cannot open \"{}\"\nSkipping it...\n";

// Several rows of an outcome for one run are shown in their order.
constexpr View kViews[] = {
    {Outcome::Deleted, kSingle | kBatch, 0, "Input file deleted: \"{}\"\n", {Wav}},
    {Outcome::CannotOpen, kSingle, 661, "main() failed on fopen(). Cannot open \"{}\".", {Wav}},
    {Outcome::CannotOpen, kBatch, 0, kCannotOpen, {Wav}, ""},
    {Outcome::EmptyFile, kSingle, 675, "Input file size is null!"},
    {Outcome::EmptyFile,
     kBatch,
     0,
     "WARNING! Null file size detected for \"{}\"\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::TooSmall, kSingle, 680,
     "Input file size < 10kb. Increase its sampling frequency if you can, so its size will "
     "increase as well."},
    {Outcome::TooSmall,
     kBatch,
     0,
     "WARNING! \"{}\" is below 10kb in size\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::OutputIsInput,
     kSingle,
     693,
     "The output file \"{}\" is the input file itself!\nRename the input file or choose another "
     "output directory.",
     {Mp3}},
    {Outcome::NameClash,
     kBatch,
     0,
     "WARNING! \"{}\" and \"{}\" would both become \"{}\"\nSkipping it...\n",
     {ClashWith, Wav, ClashOutput},
     ""},
    {Outcome::NoAudio, kSingle, 675, "No audio in \"{}\": its header says it holds none.", {Wav}},
    {Outcome::NoAudio,
     kBatch,
     0,
     "WARNING! No audio in \"{}\" (its header says it holds none)\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::Truncated,
     kSingle,
     675,
     "\"{}\" holds less audio than its header says (still being written?)",
     {Wav}},
    {Outcome::Truncated,
     kBatch,
     0,
     "WARNING! \"{}\" holds less audio than its header says (still being written?)\nSkipping "
     "it...\n",
     {Wav},
     ""},
    {Outcome::Unreadable, kSingle, 747, "Cannot open \"{}\"", {Wav}},
    {Outcome::Unreadable,
     kSingle,
     790,
     "There was a problem for retrieving some specs about \"{}\"",
     {Wav}},
    {Outcome::Unreadable, kBatch, 0, kCannotOpen, {Wav}, ""},
    {Outcome::SilenceNotCreated, kSilence, 1031, "generate_wave() failed on sf_open().\n"},
    {Outcome::SilenceNotWritten, kSilence, 1060, "generate_wave() failed on sf_write_short().\n"},
    {Outcome::EncodeFailed, kSingle, 788, kEncodeFailed, {Wav, Reason}},
    // A silence's WAV is a temporary file: the MP3 names the run.
    {Outcome::EncodeFailed, kSilence, 788, kEncodeFailed, {Mp3, Reason}},
    {Outcome::EncodeFailed,
     kBatch,
     0,
     "WARNING! Cannot encode \"{}\": {}\nSkipping it...\n",
     {Wav, Reason},
     ""},
    {Outcome::VlpFailed, kSingle, 777, kVlpFailed, {Mp3, Reason}},
    {Outcome::VlpFailed, kSilence, 761, kVlpFailed, {Mp3, Reason}},
    {Outcome::VlpFailed,
     kBatch,
     0,
     "WARNING! Cannot generate VLP for \"{}\"\nSkipping it...\n",
     {Mp3},
     "VLP: "},
    {Outcome::NotDeleted, kSingle, 784, "Cannot delete \"{}\" ({})", {Wav, Reason}},
    {Outcome::NotDeleted,
     kBatch,
     0,
     "WARNING! \"{}\" was not deleted ({})\n",
     {Wav, Reason},
     "REM: "},
};

std::string field_text(Field f, const ConvertResult& r, const JobFiles& files) {
    switch (f) {
    case None:
        return {};
    case Wav:
        return escaped(files.wav);
    case Mp3:
        return escaped(files.mp3);
    case Reason:
        return r.reason;
    case ClashWith:
        return escaped(r.clash_with);
    case ClashOutput:
        return escaped(r.clash_output);
    }
    return {};
}

// The row's text with its placeholders filled; the values are inserted as they are.
std::string filled(const View& v, const ConvertResult& r, const JobFiles& files) {
    std::string out;
    size_t from = 0, field = 0;
    for (size_t at = v.text.find("{}"); at != std::string_view::npos && field < v.fields.size();
         at = v.text.find("{}", from)) {
        out.append(v.text, from, at - from).append(field_text(v.fields[field++], r, files));
        from = at + 2;
    }
    return out.append(v.text.substr(from));
}

bool applies(const View& v, Outcome outcome, Run run) {
    return v.outcome == outcome && (v.runs & static_cast<uint8_t>(run)) != 0;
}

} // namespace

int show_outcome(Run run, const ConvertResult& result, const JobFiles& files) {
    for (const View& v : kViews) {
        if (!applies(v, result.outcome, run)) continue;
        if (v.box != 0)
            show_error(kUnit, v.box, filled(v, result, files));
        else
            std::fputs(filled(v, result, files).c_str(), stdout);
    }
    switch (result.outcome) {
    case Outcome::Converted:
    case Outcome::Deleted:
        return kExitSuccess;
    case Outcome::VlpFailed:
    case Outcome::NotDeleted:
        return kExitPartial; // the MP3 is made
    case Outcome::Cancelled:
        return platform::stop_exit_status();
    default:
        return kExitFailure;
    }
}

std::optional<std::string> show_batch_outcome(const ConvertResult& result, const JobFiles& files,
                                              ConsoleOut& out) {
    std::optional<std::string> report;
    for (const View& v : kViews) {
        if (!applies(v, result.outcome, Run::Batch)) continue;
        out.write(filled(v, result, files));
        if (v.report) report = v.report + files.wav;
    }
    return report;
}

bool show_output_dir(Run run, const PreparedDir& prepared, const std::string& dir) {
    const int line = run == Run::Batch ? 621 : 693;
    if (prepared.created) std::printf("\nDirectory created: \"%s\"\n", escaped(dir).c_str());
    switch (prepared.state) {
    case OutputDir::Ready:
        return true;
    case OutputDir::Quoted:
        show_error(kUnit, line,
                   "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these "
                   "characters consecutively when specifying output_dir: \\\"");
        return false;
    case OutputDir::Empty:
        show_error(kUnit, line,
                   "The output directory is empty!\nName a directory, or leave it out.");
        return false;
    case OutputDir::NotWritable:
        show_error(
            kUnit, line,
            format_text("Cannot use \"%s\" as the output directory: it is not a directory that "
                        "can be written to.",
                        escaped(dir).c_str()));
        return false;
    }
    return false;
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/outcome_view.hpp"

#include "common/text.hpp"
#include "encoder/error_boxes.hpp"
#include "platform/signals.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>

namespace tarvik {

namespace {

// What a text's "{}" placeholders are filled with, in order. File names are shown escaped.
enum class Field : uint8_t { None, Wav, Mp3, Reason, ClashWith, ClashOutput };

struct View {
    Outcome outcome;
    uint8_t runs;                // the Run values it applies to
    std::optional<ErrorBox> box; // an error box, filled with the fields
    std::string_view line;       // else a console line, with "{}" placeholders
    std::array<Field, 3> fields{};
    const char* report = nullptr; // batch: what the report line puts before the WAV's name
};

constexpr uint8_t kSilence = static_cast<uint8_t>(Run::Silence);
constexpr uint8_t kSingle = static_cast<uint8_t>(Run::SingleFile);
constexpr uint8_t kBatch = static_cast<uint8_t>(Run::Batch);
using enum Field;
using enum ErrorBox;

constexpr std::string_view kCannotOpen = "WARNING! Cannot open \"{}\"\nSkipping it...\n";

// Several rows of an outcome for one run are shown in their order.
const View kViews[] = {
    {Outcome::Deleted, kSingle | kBatch, {}, "Input file deleted: \"{}\"\n", {Wav}},
    {Outcome::CannotOpen, kSingle, InputNotOpened, {}, {Wav}},
    {Outcome::CannotOpen, kBatch, {}, kCannotOpen, {Wav}, ""},
    {Outcome::EmptyFile, kSingle, InputSizeNull, {}},
    {Outcome::EmptyFile,
     kBatch,
     {},
     "WARNING! Null file size detected for \"{}\"\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::TooSmall, kSingle, InputTooSmall, {}},
    {Outcome::TooSmall,
     kBatch,
     {},
     "WARNING! \"{}\" is below 10kb in size\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::OutputIsInput, kSingle, ErrorBox::OutputIsInput, {}, {Mp3}},
    {Outcome::NameClash,
     kBatch,
     {},
     "WARNING! \"{}\" and \"{}\" would both become \"{}\"\nSkipping it...\n",
     {ClashWith, Wav, ClashOutput},
     ""},
    {Outcome::NoAudio, kSingle, InputHoldsNoAudio, {}, {Wav}},
    {Outcome::NoAudio,
     kBatch,
     {},
     "WARNING! No audio in \"{}\" (its header says it holds none)\nSkipping it...\n",
     {Wav},
     ""},
    {Outcome::Truncated, kSingle, InputTruncated, {}, {Wav}},
    {Outcome::Truncated,
     kBatch,
     {},
     "WARNING! \"{}\" holds less audio than its header says (still being written?)\nSkipping "
     "it...\n",
     {Wav},
     ""},
    {Outcome::Unreadable, kSingle, InputNotProbed, {}, {Wav}},
    {Outcome::Unreadable, kSingle, InputSpecsUnread, {}, {Wav}},
    {Outcome::Unreadable, kBatch, {}, kCannotOpen, {Wav}, ""},
    {Outcome::SilenceNotCreated, kSilence, SilenceWavNotCreated, {}},
    {Outcome::SilenceNotWritten, kSilence, SilenceWavNotWritten, {}},
    {Outcome::EncodeFailed, kSingle, ErrorBox::EncodeFailed, {}, {Wav, Reason}},
    // A silence's WAV is a temporary file: the MP3 names the run.
    {Outcome::EncodeFailed, kSilence, ErrorBox::EncodeFailed, {}, {Mp3, Reason}},
    {Outcome::EncodeFailed,
     kBatch,
     {},
     "WARNING! Cannot encode \"{}\": {}\nSkipping it...\n",
     {Wav, Reason},
     ""},
    {Outcome::VlpFailed, kSingle, ErrorBox::VlpFailed, {}, {Mp3, Reason}},
    {Outcome::VlpFailed, kSilence, SilenceVlpFailed, {}, {Mp3, Reason}},
    {Outcome::VlpFailed,
     kBatch,
     {},
     "WARNING! Cannot generate VLP for \"{}\"\nSkipping it...\n",
     {Mp3},
     "VLP: "},
    {Outcome::NotDeleted, kSingle, InputNotDeleted, {}, {Wav, Reason}},
    {Outcome::NotDeleted,
     kBatch,
     {},
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

// The row's console line with its placeholders filled; the values are inserted as they are.
std::string filled_line(const View& v, const ConvertResult& r, const JobFiles& files) {
    std::string out;
    size_t from = 0, field = 0;
    for (size_t at = v.line.find("{}"); at != std::string_view::npos && field < v.fields.size();
         at = v.line.find("{}", from)) {
        out.append(v.line, from, at - from).append(field_text(v.fields[field++], r, files));
        from = at + 2;
    }
    return out.append(v.line.substr(from));
}

void show_box(const View& v, const ConvertResult& r, const JobFiles& files) {
    const std::string a = field_text(v.fields[0], r, files), b = field_text(v.fields[1], r, files),
                      c = field_text(v.fields[2], r, files);
    show_error_box(*v.box, {a, b, c}); // arguments beyond the box's placeholders are left out
}

bool applies(const View& v, Outcome outcome, Run run) {
    return v.outcome == outcome && (v.runs & static_cast<uint8_t>(run)) != 0;
}

} // namespace

int show_outcome(Run run, const ConvertResult& result, const JobFiles& files) {
    for (const View& v : kViews) {
        if (!applies(v, result.outcome, run)) continue;
        if (v.box)
            show_box(v, result, files);
        else
            std::fputs(filled_line(v, result, files).c_str(), stdout);
    }
    if (result.stopped) return platform::stop_exit_status();
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
        out.write(filled_line(v, result, files));
        if (v.report) report = v.report + files.wav;
    }
    return report;
}

std::string loudness_lines(const LineLoudness& line, const LoudnessRequest& request) {
    const LoudnessMeasure& m = line.measured;
    std::string text;
    switch (m.kind) {
    case LoudnessMeasure::Kind::Measured:
        text = format_text("Loudness: %.1f LUFS, true peak %.1f dBTP\n", m.lufs, m.true_peak);
        break;
    case LoudnessMeasure::Kind::TooShort:
        text = format_text("Loudness: not measured (shorter than %g s), true peak %.1f dBTP\n",
                           kGatingBlockSeconds, m.true_peak);
        break;
    case LoudnessMeasure::Kind::Silent:
        text = format_text("Loudness: not measured (silent: below %g LUFS), true peak %.1f dBTP\n",
                           kAbsoluteGateLufs, m.true_peak);
        break;
    }
    if (!request.target) return text;
    if (line.gain && line.gain->limited)
        return text + format_text("Gain: %+.1f dB (lowered to keep the true peak at %g dBTP)\n",
                                  line.gain->db, kTruePeakCeiling);
    if (line.gain && line.gain->correction != 0)
        return text + format_text("Gain: %+.1f dB (corrected by %+.1f dB for the MP3)\n",
                                  line.gain->db, line.gain->correction);
    if (line.gain) return text + format_text("Gain: %+.1f dB\n", line.gain->db);
    return text + (m.kind == LoudnessMeasure::Kind::TooShort
                       ? format_text("Gain: none (shorter than %g s: left as it is)\n",
                                     kGatingBlockSeconds)
                       : std::string("Gain: none (silent: left as it is)\n"));
}

std::string loudness_summary(const std::vector<LineLoudness>& lines,
                             const LoudnessRequest& request) {
    if (!request.measure) return {};
    const auto count = [](size_t n) {
        return n == 1 ? std::string("1 line") : format_text("%d lines", static_cast<int>(n));
    };
    std::vector<const LineLoudness*> measured, unmeasured;
    for (const LineLoudness& line : lines)
        (line.measured.kind == LoudnessMeasure::Kind::Measured ? measured : unmeasured)
            .push_back(&line);
    std::string text = request.target
                           ? format_text("\n---- Loudness (target %g LUFS) ----\n", *request.target)
                           : std::string("\n---- Loudness ----\n");
    if (measured.empty()) {
        text += "| No line measured\n";
    } else {
        std::sort(measured.begin(), measured.end(),
                  [](const auto* a, const auto* b) { return a->measured.lufs < b->measured.lufs; });
        const size_t n = measured.size();
        const double median =
            (measured[(n - 1) / 2]->measured.lufs + measured[n / 2]->measured.lufs) / 2;
        text += format_text("| %s measured\n| Minimum: %.1f LUFS \"%s\"\n| Median:  %.1f LUFS\n"
                            "| Maximum: %.1f LUFS \"%s\"\n",
                            count(n).c_str(), measured.front()->measured.lufs,
                            escaped(measured.front()->wav).c_str(), median,
                            measured.back()->measured.lufs, escaped(measured.back()->wav).c_str());
        // Named in the order of the batch; with a target, by the loudness of their MP3.
        std::erase_if(measured, [&](const LineLoudness* line) {
            return std::abs(line->lufs_out() - request.target.value_or(median)) <=
                   kLoudnessOutlierLu;
        });
        std::sort(measured.begin(), measured.end());
        text += format_text(request.target ? "| %s more than %g LU from the target after the gain"
                                           : "| %s more than %g LU from the median",
                            measured.empty() ? "No line" : count(measured.size()).c_str(),
                            kLoudnessOutlierLu);
        text += measured.empty() ? "\n" : ":\n";
        for (const LineLoudness* line : measured)
            text += format_text("|   %.1f LUFS \"%s\"%s\n", line->lufs_out(),
                                escaped(line->wav).c_str(),
                                line->gain && line->gain->limited ? " (true peak limited)" : "");
    }
    if (!unmeasured.empty()) {
        const char* state = !request.target          ? "not measured"
                            : unmeasured.size() == 1 ? "left as it is"
                                                     : "left as they are";
        text += format_text("| %s %s (shorter than %g s, or silent):\n",
                            count(unmeasured.size()).c_str(), state, kGatingBlockSeconds);
        for (const LineLoudness* line : unmeasured)
            text += format_text("|   \"%s\"\n", escaped(line->wav).c_str());
    }
    return text;
}

bool show_output_dir(Run run, const PreparedDir& prepared, const std::string& dir) {
    const bool batch = run == Run::Batch;
    if (prepared.created) std::printf("\nDirectory created: \"%s\"\n", escaped(dir).c_str());
    switch (prepared.state) {
    case OutputDir::Ready:
        return true;
    case OutputDir::Quoted:
        show_error_box(batch ? BatchOutputDirQuoted : SingleOutputDirQuoted, {});
        return false;
    case OutputDir::Empty:
        show_error_box(batch ? BatchOutputDirEmpty : SingleOutputDirEmpty, {});
        return false;
    case OutputDir::NotWritable:
        show_error_box(batch ? BatchOutputDirUnusable : SingleOutputDirUnusable, {escaped(dir)});
        return false;
    }
    return false;
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/results.hpp"

#include "common/console_out.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/lipsync_call.hpp"
#include "platform/files.hpp"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <utility>

namespace tarvik {

namespace {

// What a record says of each outcome: its code, and the reason of a failure the outcome
// carries none for. In the order of Outcome.
struct OutcomeRecord {
    Outcome outcome;
    std::string_view code;
    std::string_view reason;
};
constexpr std::array kOutcomeRecords{
    OutcomeRecord{Outcome::Converted, "converted", ""},
    OutcomeRecord{Outcome::Deleted, "deleted", ""},
    OutcomeRecord{Outcome::CannotOpen, "cannot_open", "it cannot be opened as a regular file"},
    OutcomeRecord{Outcome::EmptyFile, "empty_file", "it is empty"},
    OutcomeRecord{Outcome::TooSmall, "too_small", ""}, // the limit is filled in
    OutcomeRecord{Outcome::OutputIsInput, "output_is_input", "its MP3 would replace it"},
    OutcomeRecord{Outcome::NameClash, "name_clash", ""}, // the other WAV is named
    OutcomeRecord{Outcome::NoAudio, "no_audio", "its header says it holds no audio"},
    OutcomeRecord{Outcome::Truncated, "truncated", "it holds less audio than its header says"},
    OutcomeRecord{Outcome::Unreadable, "unreadable", "it is not audio that can be read"},
    OutcomeRecord{Outcome::SilenceNotCreated, "silence_not_created",
                  "the temporary silent WAV could not be created"},
    OutcomeRecord{Outcome::SilenceNotWritten, "silence_not_written",
                  "the temporary silent WAV could not be written"},
    OutcomeRecord{Outcome::EncodeFailed, "encode_failed", "it could not be encoded"},
    OutcomeRecord{Outcome::VlpFailed, "vlp_failed", "its VLP could not be made"},
    OutcomeRecord{Outcome::NotDeleted, "not_deleted", "it was not deleted"},
    OutcomeRecord{Outcome::Cancelled, "cancelled", "the run was stopped"},
};
static_assert([] {
    for (size_t i = 0; i < kOutcomeRecords.size(); ++i)
        if (kOutcomeRecords[i].outcome != static_cast<Outcome>(i)) return false;
    return kOutcomeRecords.back().outcome == Outcome::Cancelled;
}());

constexpr std::array<std::string_view, 5> kStatusNames{"converted", "incomplete", "failed",
                                                       "cancelled", "up_to_date"};
// By channel-mode code.
constexpr std::array<std::string_view, 4> kModeNames{"stereo", "joint_stereo", "dual_channel",
                                                     "mono"};

std::string reason_of(const ConvertResult& r) {
    if (!r.reason.empty()) return r.reason;
    switch (r.outcome) {
    case Outcome::TooSmall:
        return format_text("it holds fewer than %lld bytes", kMinInputBytes);
    case Outcome::NameClash:
        return "\"" + r.clash_with + "\" makes the same output, \"" + r.clash_output + "\"";
    default:
        return std::string(kOutcomeRecords[static_cast<size_t>(r.outcome)].reason);
    }
}

// Bytes in the order of the text, each as two lowercase hexadecimal digits.
std::string hex_bytes(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// A JSON object built field by field, in the order given.
class JsonObject {
  public:
    JsonObject() = default;
    explicit JsonObject(std::string_view type) { raw("type", json_string(type)); }
    JsonObject& raw(std::string_view key, std::string_view json) {
        text_ += text_.empty() ? "{" : ",";
        text_ += json_string(key);
        text_ += ':';
        text_ += json;
        return *this;
    }
    JsonObject& text(std::string_view key, const std::optional<std::string>& value) {
        return raw(key, value ? json_string(*value) : "null");
    }
    // A file name: a name that is not UTF-8 also gets its exact bytes in "<key>_hex".
    JsonObject& path(std::string_view key, const std::optional<std::string>& value) {
        text(key, value);
        if (value && !is_utf8(*value))
            raw(std::string(key) + "_hex", json_string(hex_bytes(*value)));
        return *this;
    }
    JsonObject& integer(std::string_view key, std::optional<long long> value) {
        return raw(key, value ? std::to_string(*value) : "null");
    }
    JsonObject& real(std::string_view key, std::optional<double> value) {
        if (!value || !std::isfinite(*value)) return raw(key, "null");
        char digits[32]; // the shortest form of any double takes at most 24
        const auto end = std::to_chars(digits, digits + sizeof digits, *value).ptr;
        return raw(key, std::string_view(digits, static_cast<size_t>(end - digits)));
    }
    JsonObject& flag(std::string_view key, bool value) {
        return raw(key, value ? "true" : "false");
    }
    std::string object() const { return (text_.empty() ? "{" : text_) + "}"; }
    std::string line() const { return object() + "\n"; }

  private:
    std::string text_;
};

std::optional<long long> as_integer(std::optional<int> v) {
    return v ? std::optional<long long>(*v) : std::nullopt;
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32]; // "YYYY-MM-DDTHH:MM:SSZ" and a year of up to 11 digits
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc));
}

} // namespace

std::optional<InputFacts> audio_facts(const InputWav& input) {
    if (input.check().content != WavContent::Audio) return std::nullopt;
    return input.facts();
}

FileResult file_result(const ConvertResult& r, const JobFiles& files, bool lips,
                       std::optional<InputFacts> audio) {
    FileResult f;
    f.outcome = kOutcomeRecords[static_cast<size_t>(r.outcome)].code;
    const bool complete = r.outcome == Outcome::Converted || r.outcome == Outcome::Deleted;
    f.status = r.outcome == Outcome::Cancelled ? FileStatus::Cancelled
               : !r.mp3_made                   ? FileStatus::Failed
               : complete                      ? FileStatus::Converted
                                               : FileStatus::Incomplete;
    if (!complete) f.reason = reason_of(r);
    if (!files.wav.empty()) f.input = files.wav;
    f.input_deleted = r.outcome == Outcome::Deleted;
    if (r.mp3_made) f.mp3 = files.mp3;
    if (r.vlp_made) f.vlp = vlp_path_for(files.mp3);
    if (lips && r.outcome == Outcome::VlpFailed) f.vlp_error = reason_of(r);
    if (audio) f.seconds = audio->seconds();
    if (r.mp3_made && r.plan) {
        const Plan& p = *r.plan;
        f.sample_rate = static_cast<int>(p.output_rate);
        f.channels = p.output_channels();
        if (p.vbr())
            f.vbr = VbrRange{p.vbr_quality, p.low_kbps, p.high_kbps};
        else
            f.bit_rate = p.low_kbps;
    }
    if (r.loudness && r.loudness->measured.kind == LoudnessMeasure::Kind::Measured) {
        f.loudness_lufs = r.loudness->measured.lufs;
        if (std::isfinite(r.loudness->measured.true_peak))
            f.true_peak_dbtp = r.loudness->measured.true_peak;
        if (r.loudness->gain) f.gain_db = r.loudness->gain->db;
    }
    return f;
}

FileResult up_to_date_result(const JobFiles& files, bool lips) {
    FileResult f;
    f.status = FileStatus::UpToDate;
    f.outcome = "up_to_date";
    f.input = files.wav;
    f.mp3 = files.mp3;
    if (lips) f.vlp = vlp_path_for(files.mp3);
    return f;
}

void RunTally::add(const FileResult& f) {
    size_t* const counts[] = {&converted, &incomplete, &failed, &cancelled, &up_to_date};
    ++*counts[static_cast<size_t>(f.status)];
    const bool written = f.status != FileStatus::UpToDate;
    mp3s += written && f.mp3;
    vlps += written && f.vlp;
    deleted += f.input_deleted;
}

std::string json_line(const RunStart& s) {
    static constexpr std::array<std::pair<RunMode, std::string_view>, 3> kModes{
        {{RunMode::Silence, "silence"}, {RunMode::SingleFile, "wav"}, {RunMode::Batch, "batch"}}};
    std::string_view mode;
    for (const auto& [m, name] : kModes)
        if (m == s.mode) mode = name;
    const RunSettings& r = s.settings;
    JsonObject settings;
    settings.integer("sample_rate", r.sample_rate)
        .text("channel_mode", std::string(kModeNames.at(r.mode)))
        .integer("bit_rate", r.bit_rate)
        .integer("vbr_quality",
                 r.vbr_quality < 0 ? std::nullopt : std::optional<long long>(r.vbr_quality))
        .flag("lips", s.flags.lips)
        .flag("delete_input", s.flags.delete_wav)
        .flag("no_click", r.no_click)
        .integer("jobs", r.jobs);
    return JsonObject("start")
        .integer("version", kResultsFormatVersion)
        .text("program", std::string("tarvik"))
        .text("program_version", std::string(kVersion))
        .text("time", s.time)
        .text("mode", std::string(mode))
        .integer("files", static_cast<long long>(s.files))
        .raw("settings", settings.object())
        .line();
}

std::string json_line(const FileResult& f) {
    JsonObject o("file");
    o.text("status", std::string(kStatusNames.at(static_cast<size_t>(f.status))))
        .text("outcome", f.outcome)
        .text("reason", f.reason)
        .path("input", f.input)
        .flag("input_deleted", f.input_deleted)
        .path("mp3", f.mp3)
        .path("vlp", f.vlp)
        .text("vlp_error", f.vlp_error)
        .real("seconds", f.seconds)
        .integer("sample_rate", as_integer(f.sample_rate))
        .integer("channels", as_integer(f.channels))
        .integer("bit_rate", as_integer(f.bit_rate));
    if (f.vbr)
        o.raw("vbr", JsonObject()
                         .integer("quality", f.vbr->quality)
                         .integer("min_bit_rate", f.vbr->min_kbps)
                         .integer("max_bit_rate", f.vbr->max_kbps)
                         .object());
    else
        o.raw("vbr", "null");
    return o.real("loudness_lufs", f.loudness_lufs)
        .real("true_peak_dbtp", f.true_peak_dbtp)
        .real("gain_db", f.gain_db)
        .line();
}

std::string json_line(const RunTally& t, double elapsed_seconds, int exit_status) {
    const auto count = [](size_t n) { return static_cast<long long>(n); };
    return JsonObject("summary")
        .integer("files", count(t.files))
        .integer("converted", count(t.converted))
        .integer("incomplete", count(t.incomplete))
        .integer("failed", count(t.failed))
        .integer("cancelled", count(t.cancelled))
        .integer("up_to_date", count(t.up_to_date))
        .integer("mp3s_written", count(t.mp3s))
        .integer("vlps_written", count(t.vlps))
        .integer("inputs_deleted", count(t.deleted))
        .real("elapsed_seconds", std::round(elapsed_seconds * 1000) / 1000)
        .integer("exit_status", exit_status)
        .line();
}

namespace {

// Where the records of this process go, and what they have said so far.
class ResultsLog {
  public:
    void take_standard_output() {
        std::lock_guard lock(mutex_);
        standard_output_ = move_console_to_error();
    }

    void begin(const Context& ctx, RunMode mode) {
        if (ctx.results_target.empty() || mode == RunMode::Finished || mode == RunMode::Play)
            return;
        std::lock_guard lock(mutex_);
        target_ = ctx.results_target;
        began_ = std::chrono::steady_clock::now();
        start_ =
            RunStart{mode, mode == RunMode::Batch ? 0u : 1u, ctx.settings, ctx.flags, utc_now()};
        if (mode != RunMode::Batch) write_start();
    }

    void batch_files(size_t count) {
        std::lock_guard lock(mutex_);
        if (!start_) return;
        start_->files = count;
        write_start();
    }

    void file(const FileResult& f) {
        std::lock_guard lock(mutex_);
        if (target_.empty()) return;
        write_start();
        tally_.add(f);
        write(json_line(f));
    }

    int end(int exit_status) {
        std::lock_guard lock(mutex_);
        if (target_.empty()) return exit_status;
        write_start();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - began_;
        write(json_line(tally_, elapsed.count(), exit_status));
        return exit_status;
    }

  private:
    // The start, unless it is written already.
    void write_start() {
        if (!start_) return;
        tally_.files = start_->files;
        write(json_line(*start_));
        start_.reset();
    }

    // One line in one write; a failure is said once.
    void write(const std::string& line) {
        int error = 0;
        if (target_ != kResultsToStandardOutput)
            error = platform::append_whole(target_, line);
        else
            error = standard_output_.valid() ? standard_output_.write_all(line) : EBADF;
        if (error == 0 || std::exchange(said_failure_, true)) return;
        std::printf("WARNING! Cannot write the results to \"%s\": %s\n", escaped(target_).c_str(),
                    platform::error_text(error).c_str());
        std::fflush(stdout);
    }

    std::mutex mutex_;
    std::string target_; // empty: no results are written
    platform::FileDescriptor standard_output_;
    std::optional<RunStart> start_; // not written yet
    RunTally tally_;
    std::chrono::steady_clock::time_point began_;
    bool said_failure_ = false;
};

ResultsLog& results_log() {
    static ResultsLog instance;
    return instance;
}

} // namespace

void results_take_standard_output() {
    results_log().take_standard_output();
}
void results_begin(const Context& ctx, RunMode mode) {
    results_log().begin(ctx, mode);
}
void record_batch_files(size_t count) {
    results_log().batch_files(count);
}
void record_file(const FileResult& file) {
    results_log().file(file);
}
void record_result(const ConvertResult& result, const JobFiles& files, bool lips,
                   std::optional<InputFacts> audio) {
    results_log().file(file_result(result, files, lips, audio));
}
int results_end(int exit_status) {
    return results_log().end(exit_status);
}

} // namespace tarvik

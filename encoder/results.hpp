// SPDX-License-Identifier: GPL-3.0-or-later
// The results of a run for other programs (-json FILE): JSON Lines, one object a line. A run
// writes a "start" object, a "file" object as each WAV (or the silence) finishes, and a
// "summary" object when it ends; docs/results-format.md describes them, and
// kResultsFormatVersion is the format's version. Each line is appended whole, in one write, as
// it is known, so that a reader can follow the file while the run goes on; files converted in
// parallel never mix their lines. The records are built here from the drivers' outcomes
// (file_result, json_line: pure) and written by the process's one results log (the results_*
// and record_* calls), which does nothing unless the command line named a target.
#pragma once

#include "encoder/command_line.hpp"
#include "encoder/convert.hpp"
#include "encoder/input_file.hpp"
#include "encoder/outcome_view.hpp"
#include "encoder/plan.hpp"
#include "encoder/run_state.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

inline constexpr int kResultsFormatVersion = 1;
// The target that sends the records to standard output; the console then goes to standard
// error.
inline constexpr std::string_view kResultsToStandardOutput = "-";

// How a file ended: the "status" of its record.
enum class FileStatus : uint8_t {
    Converted,  // every output asked for is in place (and with -rem the WAV is deleted)
    Incomplete, // the MP3 is in place, but its VLP is not, or -rem kept the WAV
    Failed,     // no MP3 was made
    Cancelled,  // a stop signal ended it first
    UpToDate,   // skipped: its outputs are up to date
};

// A variable bit rate: its quality (0 to 9) and the range of bit rates it may use, in kbps.
struct VbrRange {
    int quality = 0;
    int min_kbps = 0;
    int max_kbps = 0;
};

// One file's record. Every field is written; an empty optional is written as null.
struct FileResult {
    FileStatus status = FileStatus::Converted;
    std::string outcome;                  // what became of it: a stable snake_case code
    std::optional<std::string> reason;    // why it failed or is incomplete, as a sentence
    std::optional<std::string> input;     // the WAV as named; none for a silence
    bool input_deleted = false;           // -rem deleted it
    std::optional<std::string> mp3;       // the MP3 in place for it after the run
    std::optional<std::string> vlp;       // the VLP in place for it after the run
    std::optional<std::string> vlp_error; // why the VLP asked for is not there
    std::optional<double> seconds;        // the length of its audio
    std::optional<int> sample_rate;       // the MP3's, in Hz
    std::optional<int> channels;          // the MP3's
    std::optional<int> bit_rate;          // the MP3's constant bit rate, in kbps
    std::optional<VbrRange> vbr;          // ... or its variable one
    // Measured when a loudness target is asked for.
    std::optional<double> loudness_lufs;
    std::optional<double> true_peak_dbtp;
    std::optional<double> gain_db;
};

// The record of a finished job, from its outcome (the MP3's rate, channels and bit rate are
// its plan's), the files it names, and the facts of its audio (nullopt when it was not read
// as audio).
FileResult file_result(const ConvertResult& result, const JobFiles& files, bool lips,
                       std::optional<InputFacts> audio);
// The record of a WAV skipped because its outputs are up to date: its MP3, and its VLP when
// one is asked for (lips).
FileResult up_to_date_result(const JobFiles& files, bool lips);
// The facts of an opened input, when it holds audio.
std::optional<InputFacts> audio_facts(const InputWav& input);

// What a run's "start" object says: its mode, the number of files it takes, and the settings
// as the command line asked for them.
struct RunStart {
    RunMode mode = RunMode::Batch;
    size_t files = 0;
    RunSettings settings;
    RunFlags flags;
    std::string time; // when the run started: UTC, ISO 8601
};

// The counts a "summary" object gives, from the file records written.
struct RunTally {
    size_t files = 0; // as the start said
    size_t converted = 0, incomplete = 0, failed = 0, cancelled = 0, up_to_date = 0;
    size_t mp3s = 0, vlps = 0, deleted = 0; // written, or deleted, by this run
    void add(const FileResult& file);
};

// The lines of the records: each one JSON object and a '\n'.
std::string json_line(const RunStart& start);
std::string json_line(const FileResult& file);
std::string json_line(const RunTally& tally, double elapsed_seconds, int exit_status);

// The process's results log. results_take_standard_output runs before anything is printed
// when the records go to standard output. results_begin starts the log for a run when
// ctx.results_target names one (a silence or a single file writes its start at once, a batch
// once record_batch_files gives its number of files); results_end writes the summary (and the
// start, when the run ended before it) and returns exit_status. The log may be written from
// several threads.
void results_take_standard_output();
void results_begin(const Context& ctx, RunMode mode);
void record_batch_files(size_t count);
void record_file(const FileResult& file);
void record_result(const ConvertResult& result, const JobFiles& files, bool lips,
                   std::optional<InputFacts> audio);
int results_end(int exit_status);

} // namespace tarvik

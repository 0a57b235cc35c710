// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion core: one job (a WAV, or a silence) through inspection, planning, encoding,
// lip-sync and -rem, ending in a typed outcome. The silence, single-file and batch runs only
// drive it; what the user sees of an outcome is decided in outcome_view.
#pragma once

#include "encoder/input_file.hpp"
#include "encoder/loudness.hpp"
#include "encoder/plan.hpp"
#include "encoder/run_state.hpp"
#include "encoder/silence_wave.hpp"
#include "encoder/sink.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tarvik {

// The smallest input a run takes, in bytes.
inline constexpr long long kMinInputBytes = 10000;

enum class Outcome : uint8_t {
    Converted,         // the MP3, and the VLP when asked for, are in place
    Deleted,           // converted, and -rem deleted the WAV
    CannotOpen,        // not a regular file this process can read
    EmptyFile,         // 0 bytes
    TooSmall,          // below kMinInputBytes
    OutputIsInput,     // the MP3 would replace the WAV itself
    NameClash,         // another WAV of the batch makes the same output
    NoAudio,           // its header says it holds none
    Truncated,         // holds less audio than its header says
    Unreadable,        // not audio that can be read
    SilenceNotCreated, // the temporary silent WAV could not be created
    SilenceNotWritten, // ... or written
    EncodeFailed,
    VlpFailed,  // the MP3 is made, its VLP is not
    NotDeleted, // converted, but -rem kept the WAV
    Cancelled,  // stopped by a signal: not a failure of the file
};

struct ConvertResult {
    Outcome outcome = Outcome::Converted;
    bool mp3_made = false;
    bool vlp_made = false;
    std::string reason;     // why it failed, or why -rem kept the WAV, as a sentence
    std::string clash_with; // NameClash: the WAV that makes the output first
    std::string clash_output;
    // -loudness: what was measured and the gain it got, for an MP3 that was made.
    std::optional<LineLoudness> loudness;
    // The plan the MP3 was (or was to be) made by, once the input got that far.
    std::optional<Plan> plan;
    // The hash of every byte of the input the encoder read, when it did not change meanwhile.
    std::optional<uint64_t> input_hash;
    // A failure that a stop signal overtook: it is shown, and the run ends with the stop
    // status all the same.
    bool stopped = false;
};

// A result that is only its outcome: a refusal before anything was made.
inline ConvertResult refused(Outcome outcome) {
    ConvertResult r;
    r.outcome = outcome;
    return r;
}

// The outputs a batch has put in place, by device and inode. Where a file system folds
// names in a way no rule here predicts, the second WAV whose MP3 or VLP would land on the
// first one's output is caught before it replaces it.
class ProducedFiles {
  public:
    // Renames temp to destination for `wav`, unless destination already is an output this
    // run made: then false, errno 0 and *clash_with names the WAV that made it.
    bool place(const std::string& temp, const std::string& destination, const std::string& wav,
               std::string* clash_with);

  private:
    std::mutex mutex_;
    std::map<std::pair<uint64_t, uint64_t>, std::string> made_;
};

struct Job {
    RunSettings requested;
    // The WAV, opened by the driver (which has refused it by size already); null for a silence.
    InputWav* input = nullptr;
    std::string wav_path;  // the WAV as named; unused for a silence
    std::string shown_wav; // batch: how its lines name the WAV, when not as wav_path does
    // A silence: its length, its plan (the driver's, made for its space check) and where its
    // temporary WAV goes.
    long long silence_seconds = 0;
    Plan silence_plan;
    WavePlace silence_place;
    std::string mp3_path;
    std::string program_dir; // where the lip-sync tool lies
    bool lips = false;
    std::string lips_language; // -lang: the language every VLP is made in; empty: the default
    bool delete_wav = false;
    const std::atomic<bool>* cancel = nullptr;
    ProducedFiles* produced = nullptr; // batch: shared by every file
    std::string clashes_with;          // batch: an earlier WAV of the list makes the same MP3
};

// The refusal of an input by its size, the first check of every WAV (nullopt size: it could
// not be opened), or nullopt when it may go on.
std::optional<Outcome> size_refusal(std::optional<long long> size);

// Runs the job. Its lines and progress go to the sink; sink.starting() is called once the
// input passed its checks. With -loudness the audio is read twice: measured, then encoded
// (with a target, at the gain the measurement calls for). A silence's temporary WAV is removed at
// the end; -rem deletes only the file that was encoded, unchanged, and keeps it when its requested
// VLP failed.
ConvertResult convert(const Job& job, Sink& sink);

} // namespace tarvik

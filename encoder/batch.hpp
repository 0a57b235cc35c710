// SPDX-License-Identifier: GPL-3.0-or-later
// Batch conversion of every WAV of a folder, or of a tree of folders (-recurse), optionally
// skipping the lines whose outputs are up to date (-update).
#pragma once

#include "common/console_out.hpp"
#include "encoder/convert.hpp"
#include "encoder/run_state.hpp"
#include "encoder/tree.hpp"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class UpdateRecord;

inline constexpr size_t kMaxBatchFiles = 16384; // a single folder; a tree has no limit
inline constexpr const char* kReportName = "failed conversions.txt";

// Everything the conversion of one file needs, as plain values.
struct BatchFileParams {
    RunSettings settings;    // as the command line asked
    std::string program_dir; // where the lip-sync tool lies
    bool lips = false;
    std::string lips_language; // -lang, or empty
    bool delete_wav = false;
    const std::atomic<bool>* cancel = nullptr;
    ProducedFiles* produced = nullptr; // shared by every file of the batch
    UpdateRecord* record = nullptr;    // -update: the record of finished lines
    std::string settings_key;          // -update: output_settings_key() of the settings
};

// One WAV of a batch and where its MP3 goes.
struct BatchFile {
    std::string wav;   // the path it is opened by
    std::string shown; // how its lines and the report name it
    std::string key;   // its path relative to the input folder: its record's key
    std::string mp3;
    std::string clashes_with; // an earlier WAV (as shown) that makes the same MP3, or empty
};

struct BatchFileOutcome {
    bool mp3_done = false;
    bool vlp_done = false;
    bool skipped = false; // -update: its outputs were up to date
    bool cancelled = false;
    bool deleted = false;                   // -rem deleted the WAV
    bool delete_failed = false;             // -rem asked, the WAV stayed
    std::optional<std::string> report_line; // the failure line for the report, if any
    std::optional<LineLoudness> loudness;   // -loudness: of a line whose MP3 was made
};

// Converts one WAV through the conversion core, or, with a record, skips it when its outputs
// are up to date; a finished line is recorded once its outputs are in place. Prints its
// whole block (header, lines, warnings) to out; a buffered `out` is a block printed later
// (files converted in parallel): no progress, and the lip-sync tool's output is captured into
// it. n is the file's 1-based number of `total`. A WAV that clashes with another of the list
// (both would make one MP3) is skipped.
BatchFileOutcome convert_batch_file(const BatchFileParams& params, const BatchFile& file, size_t n,
                                    size_t total, ConsoleOut& out);

inline constexpr size_t kNoClash = static_cast<size_t>(-1);

// For each WAV of the list, the earlier WAV of its folder whose MP3 name equals its own once
// folded (line.wav and line.WAV, Ärger.wav and ärger.wav), or kNoClash.
std::vector<size_t> find_name_clashes(const WavList& list);

// Appends one line (escaped, so that every name stays on its own line) to the failure report,
// creating it with its header when missing. False when it could not be written (a report that could
// not take its header is removed).
bool log_failure(const std::string& report_path, const std::string& line);

// What a batch converts: the WAVs listed from input_dir (nullopt when none could be listed)
// and, for a tree, the folders below it that could not be read.
struct BatchSource {
    std::string input_dir; // without a trailing '/'
    std::optional<WavList> files;
    bool tree = false; // -recurse: names are shown relative to input_dir, and outputs mirror it
    std::vector<std::string> unreadable;
};

// Converts the source's WAVs into output_dir (a tree into the same relative folders below
// it). Returns 0 when every file was converted (or, with -update, up to date), 1 when some
// failed, 255 when nothing could be done, 128 + N when stopped by signal N.
int run_batch(Context& ctx, const BatchSource& source, const std::string& output_dir);

} // namespace tarvik

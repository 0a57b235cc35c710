// SPDX-License-Identifier: GPL-3.0-or-later
// Batch conversion of every WAV of a folder.
#pragma once

#include "common/console_out.hpp"
#include "encoder/convert.hpp"
#include "encoder/run_state.hpp"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

inline constexpr size_t kMaxBatchFiles = 16384;
inline constexpr const char* kReportName = "failed conversions.txt";

// The *.wav entries of dir (matched without regard to case), as dir + "/" + name, sorted by
// name. Stops after max_files + 1 entries so a caller can refuse an oversized batch.
// nullopt when the directory cannot be read or holds no match.
std::optional<std::vector<std::string>> list_wav_files(const std::string& dir,
                                                       size_t max_files = kMaxBatchFiles);

// Everything the conversion of one file needs, as plain values.
struct BatchFileParams {
    RunSettings settings; // as the command line asked
    std::string output_dir;
    std::string program_dir; // where the lip-sync tool lies
    bool lips = false;
    bool delete_wav = false;
    const std::atomic<bool>* cancel = nullptr;
    ProducedFiles* produced = nullptr; // shared by every file of the batch
};

struct BatchFileOutcome {
    bool mp3_done = false;
    bool vlp_done = false;
    bool cancelled = false;
    bool deleted = false;                   // -rem deleted the WAV
    bool delete_failed = false;             // -rem asked, the WAV stayed
    std::optional<std::string> report_line; // the failure line for the report, if any
    std::optional<LineLoudness> loudness;   // -loudness: of a line whose MP3 was made
};

// Converts one WAV through the conversion core. Prints its whole block (header, lines,
// warnings) to out; a buffered `out` is a block printed later (files converted in parallel):
// no progress, and the lip-sync tool's output is captured into it. n is the file's 1-based
// number of `total`. A WAV that clashes_with another of the list (both would make one MP3) is
// skipped.
BatchFileOutcome convert_batch_file(const BatchFileParams& params, const std::string& wav_path,
                                    size_t n, size_t total, ConsoleOut& out,
                                    const std::string& clashes_with = {});

// For each WAV of the list, the earlier WAV whose MP3 name equals its own once folded
// (line.wav and line.WAV, Ärger.wav and ärger.wav), or empty.
std::vector<std::string> find_name_clashes(const std::vector<std::string>& wav_paths);

// Appends one line (escaped, so that every name stays on its own line) to the failure report,
// creating it with its header when missing. False when it could not be written (a report that could
// not take its header is removed).
bool log_failure(const std::string& report_path, const std::string& line);

// Converts the WAVs `files` (listed from input_dir, without a trailing '/'; nullopt when
// none could be listed) into output_dir. Returns 0 when every file was converted, 1 when
// some failed, 255 when nothing could be done, 128 + N when stopped by signal N.
int run_batch(Context& ctx, const std::string& input_dir, const std::string& output_dir,
              const std::optional<std::vector<std::string>>& files);

} // namespace tarvik

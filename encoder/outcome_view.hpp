// SPDX-License-Identifier: GPL-3.0-or-later
// What the user sees of a job's outcome: the error box or console line of the silence and
// single-file runs, the WARNING line and failure-report line of a batch. Every such text is in
// one table here; the core only returns outcomes.
#pragma once

#include "common/console_out.hpp"
#include "encoder/convert.hpp"
#include "encoder/output_dir.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tarvik {

enum class Run : uint8_t { Silence = 1, SingleFile = 2, Batch = 4 };

// The files an outcome names: the WAV as named and the MP3.
struct JobFiles {
    std::string wav;
    std::string mp3;
};

// Shows the outcome of a silence or single-file run (its boxes and lines, in order) and
// returns the run's exit status.
int show_outcome(Run run, const ConvertResult& result, const JobFiles& files);

// Prints a batch file's lines for the outcome to out; returns the line its failure adds to
// the report, or nullopt.
std::optional<std::string> show_batch_outcome(const ConvertResult& result, const JobFiles& files,
                                              ConsoleOut& out);

// -loudness: a line's block lines, what was measured and, with a target, the gain it gets
// or why it is left as it is.
std::string loudness_lines(const LineLoudness& line, const LoudnessRequest& request);

// -loudness: the batch summary's section, the lowest, median and highest loudness measured,
// the lines further than kLoudnessOutlierLu from the median (with a target: whose MP3 is that
// far from it) and those that were not measured; empty without -loudness.
std::string loudness_summary(const std::vector<LineLoudness>& lines,
                             const LoudnessRequest& request);

// Shows what became of the output directory: "Directory created", and the box that ends the
// run. Returns true when the run goes on.
bool show_output_dir(Run run, const PreparedDir& prepared, const std::string& dir);

} // namespace tarvik

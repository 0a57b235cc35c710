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

// Shows what became of the output directory: "Directory created", and the box that ends the
// run. Returns true when the run goes on.
bool show_output_dir(Run run, const PreparedDir& prepared, const std::string& dir);

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// The run modes that main hands a run to. Each returns the process exit status.
#pragma once

#include "encoder/run_state.hpp"

#include <string>
#include <vector>

namespace tarvik {

// Silence mode: positionals are <silence_time> [<output_dir>].
int run_silence(Context& ctx, const std::vector<std::string>& positionals);
// Single-file mode: positionals are <input_file> [<output_dir>].
int run_single_file(Context& ctx, const std::vector<std::string>& positionals);
// Batch mode from the command line: positionals are <input_dir> [<output_dir>].
int run_batch_command(Context& ctx, const std::vector<std::string>& positionals);
// Playback of one file; returns when playback ends.
int play(Context& ctx, const std::string& file);

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// Reading tarvik's command line: --help and --version before anything else, pass 1 (playback
// wins anywhere), pass 2 (the switches, read through one table of switches), and the choice
// of run mode. Prints a line for each switch it reads; shows the help, version and error
// boxes.
#pragma once

#include "encoder/run_state.hpp"

#include <optional>
#include <string>
#include <vector>

namespace tarvik {

enum class RunMode { Finished, Play, Silence, SingleFile, Batch };

struct Dispatch {
    RunMode mode = RunMode::Finished;
    int exit_status = kExitSuccess;       // when mode is Finished
    std::vector<std::string> positionals; // one or two: the run's parameters
};

// The text of the GNU-style information options, "--help" (the help box's text) and
// "--version" ("tarvik <version>" on one line), printed on standard output with nothing
// else: no banner, no box, and the encoder library is not loaded. They count only as the
// first argument (matched without regard to case), and whatever follows is ignored;
// elsewhere they are unknown switches. nullopt when the first argument is neither.
std::optional<std::string> information_option(const std::vector<std::string>& args);

// Whether the arguments send the results to standard output ("-json -", the last -json
// counting, and no -play): then standard output must be given up before anything is printed.
bool results_on_standard_output(const std::vector<std::string>& args);

// Reads the arguments (without the program name) into ctx. library_info is the start of the
// text the -ver box shows; -ver adds the audio facility's block (loading its module).
Dispatch read_command_line(const std::vector<std::string>& args, Context& ctx,
                           const std::string& library_info);

// The "Use defaults" lines for the settings the user left alone.
void print_defaults(const Context& ctx);

// The help box text.
const std::string& help_text();

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// The lipsync command line: reads the arguments, runs one action, reports on the given
// streams and returns the exit status.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tarvik::lipsync {

enum ExitStatus : int {
    kExitOk = 0,
    kExitBadInput = 1,    // missing, unreadable, not audio, no audio, not a valid VLP file
    kExitUsage = 2,       // wrong command line
    kExitWriteFailed = 3, // the VLP file could not be written
};

// The VLP path for a sound file: the path cut at the last '.' of its file name (the whole
// path when the name has none), then ".vlp".
std::string vlp_path_for(const std::string& sound_path);

// args are the arguments after the program name.
int run_lipsync(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tarvik::lipsync

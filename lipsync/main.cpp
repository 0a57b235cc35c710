// SPDX-License-Identifier: GPL-3.0-or-later
// lipsync: mouth-shape cues for a spoken sound file (see lipsync --help).
#include "lipsync/tool.hpp"
#include "platform/signals.hpp"

#include <iostream>

int main(int argc, char** argv) {
    // A stop removes the VLP being written and exits with 128 + the signal number.
    tarvik::platform::install_exit_on_stop_handlers();
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int status = tarvik::lipsync::run_lipsync(args, std::cout, std::cerr);
    // A full disk or a closed pipe must not pass for success.
    if (!std::cout.flush()) {
        std::cerr << "lipsync: cannot write to standard output\n";
        return tarvik::lipsync::kExitWriteFailed;
    }
    return status;
}

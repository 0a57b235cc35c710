// Stopping a run cleanly on the signals that end a console program: Ctrl-C, kill, a closed
// terminal, a closed pipe. The handler only raises a flag;
// the work in progress sees it, removes its temporary files and stops its child tools.
#pragma once

#include <atomic>

namespace tarvik::platform {

// Installs the handler for SIGINT, SIGTERM, SIGHUP and SIGPIPE (a signal that the parent set
// to be ignored stays ignored, as a shell's nohup expects), ignores SIGXFSZ so that a file
// too large to write fails by itself, and resets SIGCHLD to its default, so that child exit
// statuses can be collected whatever the parent set.
void install_stop_handlers();

// The flag the handler raises; stays false until one of the signals arrives.
const std::atomic<bool>& stop_flag();
inline bool stop_requested() {
    return stop_flag().load();
}

// The exit status for a stopped run: 128 plus the first signal that arrived.
int stop_exit_status();

} // namespace tarvik::platform

// SPDX-License-Identifier: GPL-3.0-or-later
// Stopping a run cleanly on the signals that end a console program: Ctrl-C, kill, a closed
// terminal, a closed pipe. The handler records the signal and raises a flag, which the work
// in progress sees: it removes its temporary files and stops its child tools. A program that
// has no such loop (lipsync) has the handler itself remove the files registered with
// RemoveOnStop and end the process. Everything the handler does is async-signal-safe.
#pragma once

#include <atomic>
#include <csignal>
#include <string>

namespace tarvik::platform {

// tarvik's: installs the flag-raising handler for SIGINT, SIGTERM, SIGHUP and SIGPIPE (a
// signal that the parent set to be ignored stays ignored, as a shell's nohup expects),
// ignores SIGXFSZ so that a file too large to write fails by itself, and resets SIGCHLD to
// its default, so that child exit statuses can be collected whatever the parent set.
void install_stop_handlers();

// lipsync's: on SIGTERM, SIGINT or SIGHUP (unless the parent set it to be ignored) the
// handler removes every file registered with RemoveOnStop and ends the process at once with
// 128 + the signal number, so that a caller that stops it never finds a stray file and never
// mistakes the stop for success.
void install_exit_on_stop_handlers();

// The flag the handler raises; stays false until one of the signals arrives.
const std::atomic<bool>& stop_flag();
inline bool stop_requested() {
    return stop_flag().load();
}

// The exit status for a stopped run: 128 plus the first signal that arrived.
int stop_exit_status();

// Holds the stop signals off in this thread for its lifetime (they are handled when it
// ends). Creating a temporary file and registering it, or renaming it and dropping the
// registration, happen under one, so that a stop never finds a file that is not
// registered, nor removes a name that another program may have taken since.
class StopSignalsHeld {
  public:
    StopSignalsHeld();
    ~StopSignalsHeld();
    StopSignalsHeld(const StopSignalsHeld&) = delete;
    StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

  private:
    sigset_t previous_;
};

// While it lives, a stop that ends the process (install_exit_on_stop_handlers) removes the
// file at `path`. Guards may be made and dropped on any thread.
class RemoveOnStop {
  public:
    explicit RemoveOnStop(std::string path);
    ~RemoveOnStop();
    RemoveOnStop(const RemoveOnStop&) = delete;
    RemoveOnStop& operator=(const RemoveOnStop&) = delete;

  private:
    friend struct StopRegistry;
    const std::string path_;
    RemoveOnStop* next_ = nullptr;
};

} // namespace tarvik::platform

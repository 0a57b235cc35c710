// SPDX-License-Identifier: GPL-3.0-or-later
// Starting programs with an argument vector (never through a command interpreter).
#pragma once

#include <atomic>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::platform {

struct ProcessResult {
    bool started = false;   // the program could be started
    bool exited = false;    // it ended by itself (not by a signal or a time limit)
    int exit_status = -1;   // its exit status when exited
    int signal = 0;         // the signal that ended it, when one did
    bool timed_out = false; // it was killed because it ran past the time limit
    bool cancelled = false; // it was killed because *cancel was set
};

// What a captured child output keeps at most: its last bytes.
inline constexpr size_t kCapturedTail = 64 * 1024;
// How long a child that is stopped gets to end after SIGTERM before SIGKILL.
inline constexpr int kStopGraceMs = 2000;

// Starts `program` with `args` (argv[0] is the program path), sharing this process's
// standard streams, and waits for it. With timeout_seconds > 0 the child (and whatever it
// started) is stopped when it runs longer; likewise as soon as *cancel is set. Stopping sends
// SIGTERM to its process group and SIGKILL after kStopGraceMs. Optionally captures its
// standard output and error into *captured, keeping at most the last kCapturedTail bytes.
ProcessResult run_and_wait(const std::string& program, const std::vector<std::string>& args,
                           double timeout_seconds = 0, std::string* captured = nullptr,
                           const std::atomic<bool>* cancel = nullptr);

// Starts `program` in `working_dir` in a session of its own, as a child of this process, so
// that its end can be watched with child_exit_status; it keeps running when this process
// ends. env_changes: "NAME=VALUE" sets a variable, a bare "NAME" removes it. Standard input is
// /dev/null; standard output and error go to output_fd (-1: inherited). Returns the process id, or
// -1 when it could not be started.
int spawn_watched(const std::string& program, const std::vector<std::string>& args,
                  const std::string& working_dir, const std::vector<std::string>& env_changes,
                  int output_fd);
// Starts `program` in this process's group, sharing its terminal and standard streams, with
// SIGINT at its default in the child, and waits for it. Ctrl-C then reaches the program; a
// caller that must outlive it holds an InterruptIgnored meanwhile.
ProcessResult run_in_foreground(const std::string& program, const std::vector<std::string>& args);

// Ignores SIGINT in this process for its lifetime (the previous handling comes back after).
class InterruptIgnored {
  public:
    InterruptIgnored();
    ~InterruptIgnored();
    InterruptIgnored(const InterruptIgnored&) = delete;
    InterruptIgnored& operator=(const InterruptIgnored&) = delete;

  private:
    struct sigaction previous_ {};
};

// What a run with captured streams gave.
struct CapturedRun {
    ProcessResult result; // timed_out: its group was killed (SIGKILL) past the time limit
    std::string out;      // standard output
    std::string err;      // standard error
    std::string error;    // why it could not be started ("" when it was)
};

// Starts `program` in `working_dir` ("" = unchanged) with env_changes, in a process group of
// its own, feeds `input` to its standard input, collects its standard output and error apart,
// and waits for it; past timeout_seconds (> 0) its whole group is killed.
CapturedRun run_captured(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& working_dir,
                         const std::vector<std::string>& env_changes, double timeout_seconds);

// Starts `program` as a child sharing this process's session, standard input /dev/null, its
// standard output and error written to the file `output_path` (created or emptied, 0644 less
// the umask). Returns its pid, or -1; wait_for_child waits for it.
int spawn_with_output_file(const std::string& program, const std::vector<std::string>& args,
                           const std::string& output_path);
// Waits for a child to end and gives its raw wait status (as waitpid reports it).
int wait_for_child(int pid);
// True once a child has ended (it is then reaped); false while it runs.
bool child_ended(int pid);
// Sends a signal to a process; false when it cannot be sent.
bool send_signal(int pid, int signal);

// The exit status of a child started by spawn_watched once it has ended (-1 when a signal
// ended it), which also reaps it; nullopt while it runs.
std::optional<int> child_exit_status(int pid);

} // namespace tarvik::platform

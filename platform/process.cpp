// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.hpp"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvik::platform {

namespace {
std::vector<char*> make_argv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// In a forked child whose exec (or a step before it) failed: reports errno on the error pipe
// and ends. Async-signal-safe.
[[noreturn]] void report_errno_and_exit(int err_fd) {
    const int e = errno;
    (void)!::write(err_fd, &e, sizeof e);
    ::_exit(127);
}

// In the parent: closes the error pipe's read end and says whether the child's exec went
// through (the pipe, close-on-exec, closed without data).
bool exec_succeeded(int err_fd) {
    int child_errno = 0;
    ssize_t n;
    while ((n = ::read(err_fd, &child_errno, sizeof child_errno)) < 0 && errno == EINTR) {
    }
    ::close(err_fd);
    return n <= 0;
}

// Asks a child's process group to end (SIGTERM, so the tool can remove its temporary
// files), and kills it when it has not ended after a short grace.
void stop_group(pid_t pid, int pidfd, int& status) {
    ::kill(-pid, SIGTERM);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopGraceMs);
    for (;;) {
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid || (w < 0 && errno != EINTR)) {
            ::kill(-pid, SIGKILL); // whatever the tool itself started
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        if (pidfd >= 0) {
            pollfd fd{pidfd, POLLIN, 0};
            ::poll(&fd, 1, 20);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Starts `program` as a child that leads a process group of its own (so that a stuck program
// is stopped with everything it started) and that the kernel kills when this process dies,
// its standard output and error on output_fd when that is not -1. Returns its pid once it
// runs the program, or -1 when it could not be started.
//
// PR_SET_PDEATHSIG fires when the thread that forked ends, not only the process: the thread
// calling run_and_wait waits in it for the child, so it outlives the child unless the whole
// process dies.
pid_t start_child(const std::string& program, char* const argv[], int output_fd) {
    // Carries exec's errno; closed without data (CLOEXEC) when exec succeeds.
    int err_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return -1;
    // Recorded before fork: a child whose parent differs from it was orphaned before the
    // death signal was set, and nothing would stop it.
    const pid_t parent = ::getpid();
    // No handler of ours may run in the child before exec: every signal stays blocked across
    // fork until the child has reset the handlers to their defaults.
    sigset_t all, old_mask;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old_mask);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec: other threads may have held locks at fork.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        if (output_fd >= 0)
            for (const int target : {STDOUT_FILENO, STDERR_FILENO}) {
                if (output_fd == target)
                    ::fcntl(target, F_SETFD, 0); // kept open across exec
                else
                    ::dup2(output_fd, target);
            }
        for (int sig = 1; sig < NSIG; ++sig) {
            struct sigaction sa {};
            if (::sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler != SIG_IGN &&
                sa.sa_handler != SIG_DFL) {
                sa = {};
                sa.sa_handler = SIG_DFL;
                ::sigaction(sig, &sa, nullptr);
            }
        }
        ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        ::execve(program.c_str(), argv, environ);
        report_errno_and_exit(err_pipe[1]);
    }
    ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    ::close(err_pipe[1]);
    if (pid < 0) {
        ::close(err_pipe[0]);
        return -1;
    }
    if (!exec_succeeded(err_pipe[0])) { // exec failed (or the child ended before it)
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

void fill_status(ProcessResult& r, int status) {
    if (WIFEXITED(status)) {
        r.exited = true;
        r.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
    }
}
} // namespace

ProcessResult run_and_wait(const std::string& program, const std::vector<std::string>& args,
                           double timeout_seconds, std::string* captured,
                           const std::atomic<bool>* cancel) {
    ProcessResult result;
    auto argv = make_argv(program, args);
    int pipe_fds[2] = {-1, -1};
    if (captured && ::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
    const pid_t pid = start_child(program, argv.data(), pipe_fds[1]);
    if (captured) ::close(pipe_fds[1]);
    if (pid < 0) {
        if (captured) ::close(pipe_fds[0]);
        return result;
    }
    result.started = true;

    bool cut = false; // the captured output lost its beginning
    // Reads what is there without blocking; true at the end of the stream.
    auto drain = [&]() {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
            if (n > 0) {
                captured->append(buf, static_cast<size_t>(n));
                // Only the tail is kept: a chatty tool must not fill the memory.
                if (captured->size() > 2 * kCapturedTail) {
                    captured->erase(0, captured->size() - kCapturedTail);
                    cut = true;
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            return n == 0;
        }
    };
    const auto start = std::chrono::steady_clock::now();
    const bool watched = timeout_seconds > 0 || cancel != nullptr;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    int status = 0;
    bool pipe_open = captured != nullptr;
    if (pipe_open) ::fcntl(pipe_fds[0], F_SETFL, O_NONBLOCK);
    for (;;) {
        if (!pipe_open && !watched) {
            // Nothing to watch: a plain blocking wait.
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        // Sleep until output arrives, the child ends (its pidfd becomes readable) or it is
        // time to look at the clock and the cancel flag again.
        pollfd fds[2];
        nfds_t count = 0;
        if (pipe_open) fds[count++] = {pipe_fds[0], POLLIN, 0};
        if (pidfd >= 0) fds[count++] = {pidfd, POLLIN, 0};
        if (count > 0) {
            if (::poll(fds, count, pidfd >= 0 ? 50 : 2) > 0 && pipe_open &&
                (fds[0].revents & (POLLIN | POLLHUP)) && drain())
                pipe_open = false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) break;
        const bool expired =
            timeout_seconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
                timeout_seconds;
        const bool cancelled = cancel && cancel->load();
        if (expired || cancelled) {
            stop_group(pid, pidfd, status);
            result.timed_out = expired;
            result.cancelled = cancelled;
            break;
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    if (captured) {
        // What the child wrote before it ended; a grandchild that keeps the pipe open does
        // not hold us here.
        drain();
        ::close(pipe_fds[0]);
        if (cut || captured->size() > kCapturedTail) {
            if (captured->size() > kCapturedTail)
                captured->erase(0, captured->size() - kCapturedTail);
            captured->insert(0, "[...]\n");
        }
    }
    if (!result.timed_out && !result.cancelled) fill_status(result, status);
    return result;
}

namespace {
// This process's environment with changes ("NAME=VALUE" sets a variable, "NAME" removes
// it), as the null-terminated array that exec takes.
class ChangedEnvironment {
  public:
    explicit ChangedEnvironment(const std::vector<std::string>& env_changes) {
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = false;
            for (const auto& change : env_changes)
                replaced = replaced || change.substr(0, change.find('=')) == name;
            if (!replaced) store_.push_back(entry);
        }
        for (const auto& change : env_changes)
            if (change.find('=') != std::string::npos) store_.push_back(change);
        for (auto& e : store_)
            pointers_.push_back(e.data());
        pointers_.push_back(nullptr);
    }
    char** envp() { return pointers_.data(); }

  private:
    std::vector<std::string> store_;
    std::vector<char*> pointers_;
};
} // namespace

int spawn_watched(const std::string& program, const std::vector<std::string>& args,
                  const std::string& working_dir, const std::vector<std::string>& env_changes,
                  int output_fd) {
    ChangedEnvironment env(env_changes);
    auto argv = make_argv(program, args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output_fd, STDERR_FILENO);
    }
    if (!working_dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
    // A session of its own: no signal aimed at our terminal or process group reaches it.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env.envp());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? static_cast<int>(pid) : -1;
}

std::optional<int> child_exit_status(int pid) {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return std::nullopt;
    if (r < 0) return -1; // not our child (any more): nothing left to watch
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace tarvik::platform

namespace tarvik::platform {

ProcessResult run_in_foreground(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    auto argv = make_argv(program, args);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return result;
    result.started = true;
    fill_status(result, wait_for_child(pid));
    return result;
}

InterruptIgnored::InterruptIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &previous_);
}

InterruptIgnored::~InterruptIgnored() {
    ::sigaction(SIGINT, &previous_, nullptr);
}

namespace {
// Writes all of `text` to a pipe, with SIGPIPE held off in this thread: a reader that has
// gone makes the write fail (EPIPE), and the signal it raised is taken back unhandled.
void write_to_pipe(int fd, const std::string& text) {
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (errno == EPIPE) {
                const timespec none{};
                ::sigtimedwait(&pipe_signal, nullptr, &none);
            }
            break;
        }
        done += static_cast<size_t>(n);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}
} // namespace

CapturedRun run_captured(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& working_dir,
                         const std::vector<std::string>& env_changes, double timeout_seconds) {
    CapturedRun run;
    ChangedEnvironment env(env_changes);
    auto argv = make_argv(program, args);
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) || ::pipe2(out_pipe, O_CLOEXEC) ||
        ::pipe2(err_pipe, O_CLOEXEC)) {
        run.error = std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
    if (!working_dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), env.envp());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (rc != 0) {
        ::close(in_pipe[1]);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        run.error = std::strerror(rc);
        return run;
    }
    run.result.started = true;
    write_to_pipe(in_pipe[1], input);
    ::close(in_pipe[1]);

    const auto start = std::chrono::steady_clock::now();
    bool out_open = true, err_open = true;
    while (out_open || err_open) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        ::poll(fds, 2, 100);
        char buf[65536];
        for (int i = 0; i < 2; ++i) {
            bool& open = i == 0 ? out_open : err_open;
            if (!open || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0)
                (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
            else if (!(n < 0 && errno == EINTR))
                open = false;
        }
        if (timeout_seconds > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
                timeout_seconds) {
            ::kill(-pid, SIGKILL);
            run.result.timed_out = true;
            break;
        }
    }
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    fill_status(run.result, wait_for_child(pid));
    return run;
}

int spawn_with_output_file(const std::string& program, const std::vector<std::string>& args,
                           const std::string& output_path) {
    auto argv = make_argv(program, args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? static_cast<int>(pid) : -1;
}

int wait_for_child(int pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool child_ended(int pid) {
    return ::waitpid(pid, nullptr, WNOHANG) == pid;
}

bool send_signal(int pid, int signal) {
    return ::kill(pid, signal) == 0;
}

} // namespace tarvik::platform

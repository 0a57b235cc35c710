#include "platform/process.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
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
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

void fill_status(ProcessResult& r, int status) {
    if (WIFEXITED(status)) {
        r.exited = true;
        r.exit_status = WEXITSTATUS(status);
    }
}
} // namespace

ProcessResult run_and_wait(const std::string& program, const std::vector<std::string>& args,
                           double timeout_seconds, std::string* captured) {
    ProcessResult result;
    auto argv = make_argv(program, args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (captured) {
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return result;
        }
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDERR_FILENO);
    }
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (captured) ::close(pipe_fds[1]);
    if (rc != 0) {
        if (captured) ::close(pipe_fds[0]);
        return result;
    }
    result.started = true;

    const auto start = std::chrono::steady_clock::now();
    auto expired = [&] {
        return timeout_seconds > 0 &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >
                   timeout_seconds;
    };
    int status = 0;
    bool reaped = false;
    bool pipe_open = captured != nullptr;
    while (!reaped) {
        if (pipe_open) {
            pollfd pfd{pipe_fds[0], POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0) {
                char buf[4096];
                const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
                if (n > 0)
                    captured->append(buf, static_cast<size_t>(n));
                else if (n == 0 || errno != EINTR)
                    pipe_open = false;
            }
        } else if (timeout_seconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const pid_t w = ::waitpid(pid, &status, (pipe_open || timeout_seconds > 0) ? WNOHANG : 0);
        if (w == pid) {
            reaped = true;
        } else if (w < 0 && errno != EINTR) {
            break;
        } else if (expired()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.timed_out = true;
            reaped = true;
        }
    }
    if (captured) {
        // Drain what the child wrote before it ended.
        char buf[4096];
        ssize_t n;
        while (pipe_open && (n = ::read(pipe_fds[0], buf, sizeof buf)) > 0)
            captured->append(buf, static_cast<size_t>(n));
        ::close(pipe_fds[0]);
    }
    if (reaped && !result.timed_out) fill_status(result, status);
    return result;
}

bool spawn_detached(const std::string& program, const std::vector<std::string>& args,
                    const std::string& working_dir) {
    return spawn_detached(program, args, working_dir, {});
}

bool spawn_detached(const std::string& program, const std::vector<std::string>& args,
                    const std::string& working_dir, const std::vector<std::string>& env_changes) {
    if (::access(program.c_str(), X_OK) != 0) return false;
    // The child's environment is built here, before fork, so the child only calls
    // async-signal-safe functions.
    std::vector<std::string> env_store;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& change : env_changes)
            replaced = replaced || change.substr(0, change.find('=')) == name;
        if (!replaced) env_store.push_back(entry);
    }
    for (const auto& change : env_changes)
        if (change.find('=') != std::string::npos) env_store.push_back(change);
    std::vector<char*> envp;
    envp.reserve(env_store.size() + 1);
    for (auto& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);
    // A grandchild started from a short-lived child is re-parented to init, so it is never
    // a zombie of ours and keeps running after we exit. The error pipe reports a failed exec.
    int err_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) return false;
    auto argv = make_argv(program, args);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(err_pipe[0]);
        ::close(err_pipe[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        if (::fork() != 0) ::_exit(0);
        if (!working_dir.empty() && ::chdir(working_dir.c_str()) != 0) {
            const int e = errno;
            (void)!::write(err_pipe[1], &e, sizeof e);
            ::_exit(127);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        const int e = errno;
        (void)!::write(err_pipe[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(err_pipe[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    int child_errno = 0;
    const ssize_t n = ::read(err_pipe[0], &child_errno, sizeof child_errno);
    ::close(err_pipe[0]);
    return n <= 0;
}

} // namespace tarvik::platform

// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program in the terminal it was started in and records how it ended and whether the
// terminal's settings were the same afterwards. Used by the key tests inside tmux:
//   playback_tty_harness <result-file> [NAME=VALUE...] -- <program> [args...]
// The result file ("exit=N", "signal=N", "restored=0|1" lines) appears complete or not at all.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv) {
    int i = 2;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        if (!eq) return 2;
        setenv(std::string(argv[i], static_cast<size_t>(eq - argv[i])).c_str(), eq + 1, 1);
    }
    if (i + 1 >= argc) return 2;
    termios before{}, after{};
    const bool tty = tcgetattr(STDIN_FILENO, &before) == 0;
    // Ctrl-C in the terminal reaches the whole foreground group: only the child may die of it.
    signal(SIGINT, SIG_IGN);
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        execv(argv[i + 1], argv + i + 1);
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0) {
    }
    const bool restored = tty && tcgetattr(STDIN_FILENO, &after) == 0 &&
                          before.c_iflag == after.c_iflag && before.c_oflag == after.c_oflag &&
                          before.c_lflag == after.c_lflag &&
                          std::memcmp(before.c_cc, after.c_cc, sizeof before.c_cc) == 0;
    const std::string text =
        "exit=" + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
        "\nsignal=" + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0) +
        "\nrestored=" + std::to_string(restored ? 1 : 0) + "\n";
    const std::string temp = std::string(argv[1]) + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return 4;
    const bool written = std::fputs(text.c_str(), f) >= 0;
    return std::fclose(f) == 0 && written && std::rename(temp.c_str(), argv[1]) == 0 ? 0 : 4;
}

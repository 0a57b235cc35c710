// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/console.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace tarvik::platform {

bool stdout_is_terminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}
bool stdin_is_terminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

FileDescriptor take_standard_output() {
    FileDescriptor saved(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
    if (saved.valid() && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) saved.reset();
    return saved;
}

void clear_console() {
    if (!stdout_is_terminal()) return;
    std::fputs("\033[H\033[2J\033[3J", stdout);
    std::fflush(stdout);
}

std::vector<int> decode_key_bytes(std::string_view b) {
    std::vector<int> codes;
    size_t i = 0;
    while (i < b.size()) {
        const auto c = static_cast<unsigned char>(b[i]);
        if (c != 0x1B || i + 1 == b.size() || (b[i + 1] != '[' && b[i + 1] != 'O')) {
            codes.push_back(c);
            ++i;
            continue;
        }
        // ESC [ or ESC O: parameter and intermediate bytes, then one final byte.
        size_t j = i + 2;
        while (j < b.size() && static_cast<unsigned char>(b[j]) >= 0x20 &&
               static_cast<unsigned char>(b[j]) <= 0x3F)
            ++j;
        if (j == b.size()) break; // cut off: drop it
        int arrow = 0;
        switch (b[j]) {
        case 'A':
            arrow = kKeyUp;
            break;
        case 'B':
            arrow = kKeyDown;
            break;
        case 'C':
            arrow = kKeyRight;
            break;
        case 'D':
            arrow = kKeyLeft;
            break;
        default:
            break;
        }
        if (arrow) {
            codes.push_back(kKeyPrefix);
            codes.push_back(arrow);
        }
        i = j + 1;
    }
    return codes;
}

namespace {

// State the signal handlers need; written only while no handler of ours is installed.
termios g_saved{};
termios g_raw{};
volatile std::sig_atomic_t g_raw_on = 0;
bool g_atexit_registered = false;

constexpr int kDeathSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_old_death[std::size(kDeathSignals)];
struct sigaction g_old_stop;

bool in_foreground() {
    return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp();
}

void put_back_terminal() {
    if (g_raw_on) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
}

extern "C" void on_death_signal(int sig) {
    put_back_terminal();
    // Installed with SA_RESETHAND | SA_NODEFER: this dies of the signal's default action.
    ::raise(sig);
}

extern "C" void on_stop_signal(int) {
    const int saved_errno = errno;
    put_back_terminal();
    ::kill(::getpid(), SIGSTOP);
    // Continued: back to raw mode, unless we were sent to the background meanwhile.
    if (g_raw_on && in_foreground()) ::tcsetattr(STDIN_FILENO, TCSANOW, &g_raw);
    errno = saved_errno;
}

void put_back_at_exit() {
    put_back_terminal();
}

// Whether the terminal bytes so far end inside an escape sequence that may still go on.
bool ends_inside_sequence(const std::string& b) {
    const size_t esc = b.rfind('\x1b');
    if (esc == std::string::npos) return false;
    if (esc + 1 == b.size()) return true;
    if (b[esc + 1] != '[' && b[esc + 1] != 'O') return false;
    for (size_t j = esc + 2; j < b.size(); ++j) {
        const auto c = static_cast<unsigned char>(b[j]);
        if (c < 0x20 || c > 0x3F) return false;
    }
    return true;
}

} // namespace

KeyReader::KeyReader() {
    if (!stdin_is_terminal() || !in_foreground()) return;
    if (::tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
    g_raw = g_saved;
    g_raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    g_raw.c_cc[VMIN] = 0;
    g_raw.c_cc[VTIME] = 0;

    struct sigaction death {};
    death.sa_handler = on_death_signal;
    sigemptyset(&death.sa_mask);
    death.sa_flags = SA_RESETHAND | SA_NODEFER;
    for (size_t i = 0; i < std::size(kDeathSignals); ++i) {
        ::sigaction(kDeathSignals[i], nullptr, &g_old_death[i]);
        // A signal the process was told to ignore (nohup) stays ignored.
        if (g_old_death[i].sa_handler != SIG_IGN) ::sigaction(kDeathSignals[i], &death, nullptr);
    }
    struct sigaction stop {};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    ::sigaction(SIGTSTP, nullptr, &g_old_stop);
    if (g_old_stop.sa_handler != SIG_IGN) ::sigaction(SIGTSTP, &stop, nullptr);
    if (!g_atexit_registered) g_atexit_registered = std::atexit(put_back_at_exit) == 0;

    g_raw_on = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &g_raw) != 0) {
        g_raw_on = 0;
        for (size_t i = 0; i < std::size(kDeathSignals); ++i)
            ::sigaction(kDeathSignals[i], &g_old_death[i], nullptr);
        ::sigaction(SIGTSTP, &g_old_stop, nullptr);
        return;
    }
    active_ = true;
}

KeyReader::~KeyReader() {
    if (!active_) return;
    // Keys typed but never read stay out of the shell that takes the terminal back. Sent to
    // the background meanwhile, the terminal got its settings back when we were stopped,
    // and touching it now would only stop us again.
    if (in_foreground()) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    g_raw_on = 0;
    for (size_t i = 0; i < std::size(kDeathSignals); ++i)
        ::sigaction(kDeathSignals[i], &g_old_death[i], nullptr);
    ::sigaction(SIGTSTP, &g_old_stop, nullptr);
}

void KeyReader::fill() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
    if (!in_foreground()) return; // reading would stop the process (SIGTTIN)
    std::string bytes;
    char buf[64];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) break;
        bytes.append(buf, static_cast<size_t>(n));
        // A key's escape sequence may arrive in pieces: wait briefly for the rest, so that
        // an arrow is not taken for ESCAPE.
        if (!ends_inside_sequence(bytes)) break;
        if (::poll(&p, 1, 30) <= 0) break;
    }
    const std::vector<int> codes = decode_key_bytes(bytes);
    if (next_ == queue_.size()) {
        queue_.clear();
        next_ = 0;
    }
    queue_.insert(queue_.end(), codes.begin(), codes.end());
}

bool KeyReader::key_pending() {
    if (!active_) return false;
    if (next_ == queue_.size()) fill();
    return next_ < queue_.size();
}

int KeyReader::read_key() {
    if (!key_pending()) return 0;
    return queue_[next_++];
}

} // namespace tarvik::platform

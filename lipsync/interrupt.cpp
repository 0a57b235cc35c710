#include "lipsync/interrupt.hpp"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace tarvik::lipsync {

namespace {

// The temporary file to remove on a stop signal, or null. Lock-free, so the handler may read it.
std::atomic<const char*> g_temp_path{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void on_stop_signal(int signal_number) {
    if (const char* path = g_temp_path.load()) unlink(path);
    _exit(128 + signal_number);
}

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kStopSignals)
        sigaddset(&set, s);
    return set;
}

} // namespace

void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    action.sa_mask = stop_signals();
    for (const int s : kStopSignals) {
        // A signal the caller ignores stays ignored (nohup, background jobs of a script).
        struct sigaction old {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

StopSignalsHeld::StopSignalsHeld() {
    const sigset_t set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

StopSignalsHeld::~StopSignalsHeld() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

TempFileGuard::TempFileGuard(const std::string& path) {
    g_temp_path.store(path.c_str());
}

TempFileGuard::~TempFileGuard() {
    g_temp_path.store(nullptr);
}

} // namespace tarvik::lipsync

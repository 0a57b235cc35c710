// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/signals.hpp"

#include <unistd.h>

namespace tarvik::platform {

struct StopRegistry {
    // The registered guards as a list through their next_ fields. The lock is a spin lock,
    // which a handler may take: whoever holds it has the stop signals blocked in its own
    // thread, so a handler only ever waits for another thread, which goes on running.
    static inline std::atomic_flag lock;
    static inline RemoveOnStop* head = nullptr;

    static void acquire() {
        while (lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    static void release() { lock.clear(std::memory_order_release); }
    static void add(RemoveOnStop* guard) {
        acquire();
        guard->next_ = head;
        head = guard;
        release();
    }
    static void drop(RemoveOnStop* guard) {
        acquire();
        for (RemoveOnStop** at = &head; *at; at = &(*at)->next_)
            if (*at == guard) {
                *at = guard->next_;
                break;
            }
        release();
    }
    // In the handler: unlink is async-signal-safe, and the lock is never released, since
    // the process ends.
    static void remove_all() {
        acquire();
        for (const RemoveOnStop* g = head; g; g = g->next_)
            ::unlink(g->path_.c_str());
    }
};

namespace {
std::atomic<bool> g_stop{false};
std::atomic<int> g_first_signal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void record(int sig) {
    int none = 0;
    g_first_signal.compare_exchange_strong(none, sig);
    g_stop.store(true);
}

extern "C" void on_stop_raise_flag(int sig) {
    record(sig);
}

extern "C" void on_stop_remove_and_exit(int sig) {
    record(sig);
    StopRegistry::remove_all();
    ::_exit(128 + sig);
}

constexpr int kFlagSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kExitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The signals whose handling StopSignalsHeld defers: all of both sets.
sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kFlagSignals)
        sigaddset(&set, s);
    return set;
}

// Installs `handler` for each signal, except for those the parent made ignored (but
// `always`, which is handled even then).
template <size_t N> void install(const int (&signals)[N], void (*handler)(int), int always) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sa.sa_mask = stop_signals();
    for (const int sig : signals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN && sig != always)
            continue;
        ::sigaction(sig, &sa, nullptr);
    }
}
} // namespace

void install_stop_handlers() {
    // SIGPIPE is handled even when ignored: an ignored one would leave a batch converting on
    // into a closed pipe.
    install(kFlagSignals, on_stop_raise_flag, SIGPIPE);
    // A file grown past the size limit (ulimit -f) is that file's failure, not a stop: with
    // the signal ignored, the write fails with EFBIG and the run goes on with the next file.
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction child {};
    child.sa_handler = SIG_DFL;
    sigemptyset(&child.sa_mask);
    ::sigaction(SIGCHLD, &child, nullptr);
}

void install_exit_on_stop_handlers() {
    install(kExitSignals, on_stop_remove_and_exit, 0);
}

const std::atomic<bool>& stop_flag() {
    return g_stop;
}

int stop_exit_status() {
    const int sig = g_first_signal.load();
    return sig ? 128 + sig : 130;
}

StopSignalsHeld::StopSignalsHeld() {
    const sigset_t set = stop_signals();
    ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

StopSignalsHeld::~StopSignalsHeld() {
    ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

RemoveOnStop::RemoveOnStop(std::string path) : path_(std::move(path)) {
    const StopSignalsHeld held;
    StopRegistry::add(this);
}

RemoveOnStop::~RemoveOnStop() {
    const StopSignalsHeld held;
    StopRegistry::drop(this);
}

} // namespace tarvik::platform

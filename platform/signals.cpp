#include "platform/signals.hpp"

#include <csignal>
#include <iterator>

namespace tarvik::platform {

namespace {
std::atomic<bool> g_stop{false};
std::atomic<int> g_first_signal{0};

extern "C" void on_run_stop_signal(int sig) {
    int none = 0;
    g_first_signal.compare_exchange_strong(none, sig);
    g_stop.store(true);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
} // namespace

void install_stop_handlers() {
    struct sigaction sa {};
    sa.sa_handler = on_run_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : kStopSignals) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        // SIGPIPE is handled even when ignored: an ignored one would leave a batch converting
        // on into a closed pipe.
        if (old.sa_handler == SIG_IGN && sig != SIGPIPE) continue;
        ::sigaction(sig, &sa, nullptr);
    }
    // A file grown past the size limit (ulimit -f) is that file's failure, not a stop: with
    // the signal ignored, the write fails with EFBIG and the run goes on with the next file.
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction child {};
    child.sa_handler = SIG_DFL;
    sigemptyset(&child.sa_mask);
    ::sigaction(SIGCHLD, &child, nullptr);
}

const std::atomic<bool>& stop_flag() {
    return g_stop;
}

int stop_exit_status() {
    const int sig = g_first_signal.load();
    return sig ? 128 + sig : 130;
}

} // namespace tarvik::platform

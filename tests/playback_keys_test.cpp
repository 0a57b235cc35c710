// tarvik -play in a real terminal: tmux runs it, the test types keys with send-keys and
// reads the screen with capture-pane. A harness around tarvik records how it ended and
// whether the terminal's settings were put back.
#include "tests/support/test_support.hpp"

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace tarvik {
namespace {

using namespace std::chrono_literals;

std::string find_program(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return {};
}

struct Status {
    std::string time;
    int volume = -1;
    std::string meter;
};

// The status line on the screen, if any.
std::optional<Status> status_of(const std::string& screen) {
    const size_t at = screen.rfind("Time elapsed: ");
    if (at == std::string::npos) return std::nullopt;
    const std::string line = screen.substr(at, screen.find('\n', at) - at);
    const size_t volume = line.find(" - Volume: ");
    const size_t meter = line.find("% - L ");
    if (volume == std::string::npos || meter != volume + 14 || line.size() < meter + 6 + 25 + 2 ||
        line.compare(meter + 6 + 25, 2, " R") != 0)
        return std::nullopt;
    return Status{line.substr(14, volume - 14), std::stoi(line.substr(volume + 11, 3)),
                  line.substr(meter + 6, 25)};
}

class Terminal : public ::testing::Test {
protected:
    void SetUp() override {
        tmux_ = find_program("tmux");
        if (tmux_.empty()) GTEST_SKIP() << "tmux is not installed";
        socket_ = "tarvik-play-" + std::to_string(::getpid());
        ASSERT_TRUE(test::write_file(dir_ / "tmux.conf", "set -g remain-on-exit on\n"));
        ASSERT_TRUE(test::write_wav(dir_ / "tone.wav", {44100, 2, 8.0, 0, 440, 0.5}));
    }
    void TearDown() override {
        if (!tmux_.empty()) tmux({"kill-server"});
    }

    test::RunResult tmux(std::vector<std::string> args) {
        args.insert(args.begin(), {"-L", socket_, "-f", dir_ / "tmux.conf"});
        test::RunOptions options;
        options.env = {{"TMUX", ""}};
        options.timeout_seconds = 20;
        return test::run(tmux_, args, options);
    }

    void start_playing() {
        const auto r = tmux({"new-session", "-d", "-s", "play", "-x", "110", "-y", "30", "-c",
                             dir_.path(), TARVIK_TEST_BIN_DIR "/playback_tty_harness", result(),
                             "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (dir_ / "out.raw"),
                             "--", test::bin("tarvik"), "-play", "tone.wav"});
        ASSERT_EQ(r.exit_status, 0) << r.err;
    }

    std::string screen() { return tmux({"capture-pane", "-p", "-t", "play"}).out; }

    void keys(const std::vector<std::string>& names) {
        std::vector<std::string> args{"send-keys", "-t", "play"};
        args.insert(args.end(), names.begin(), names.end());
        ASSERT_EQ(tmux(args).exit_status, 0);
    }

    // Waits until the screen satisfies the test; returns the last screen seen.
    std::string wait_for(const std::function<bool(const std::string&)>& test,
                         std::chrono::milliseconds limit = 10s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        std::string s;
        do {
            s = screen();
            if (test(s)) return s;
            std::this_thread::sleep_for(50ms);
        } while (std::chrono::steady_clock::now() < until);
        ADD_FAILURE() << "screen never got there:\n" << s;
        return s;
    }

    std::string result() const { return dir_ / "result.txt"; }
    std::string wait_for_result() {
        const auto until = std::chrono::steady_clock::now() + 15s;
        while (!test::exists(result()) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(50ms);
        return test::exists(result()) ? test::read_file(result()) : "no result";
    }

    std::string tmux_;
    std::string socket_;
    test::TempDir dir_;
};

bool playing_at_second(const std::string& s, const char* time) {
    const auto st = status_of(s);
    return st && st->time == time && st->meter != "[......P.A.U.S.E.D......]";
}

TEST_F(Terminal, PauseVolumeAndEscape) {
    start_playing();
    std::string s = wait_for([](const std::string& s) { return playing_at_second(s, "00:00:01"); });
    EXPECT_NE(s.find("---- Interactive keys ----"), std::string::npos) << s;

    keys({"Space"});
    s = wait_for([](const std::string& s) {
        const auto st = status_of(s);
        return st && st->meter == "[......P.A.U.S.E.D......]";
    });
    const auto paused = status_of(s);
    ASSERT_TRUE(paused);
    std::this_thread::sleep_for(1500ms);
    const auto still = status_of(screen());
    ASSERT_TRUE(still);
    EXPECT_EQ(still->time, paused->time) << "the time stands still while paused";
    EXPECT_EQ(still->meter, "[......P.A.U.S.E.D......]");

    keys({"Space"});
    wait_for([](const std::string& s) {
        const auto st = status_of(s);
        return st && st->meter != "[......P.A.U.S.E.D......]";
    });
    keys({"Down", "Down", "Down"});
    wait_for([](const std::string& s) { return status_of(s) && status_of(s)->volume == 97; });
    keys({"Up"});
    wait_for([](const std::string& s) { return status_of(s) && status_of(s)->volume == 98; });
    keys({"P"}); // the second code of DOWN, on its own
    wait_for([](const std::string& s) { return status_of(s) && status_of(s)->volume == 97; });
    std::this_thread::sleep_for(300ms); // let some sound at 97% reach the device

    keys({"Escape"});
    const std::string ended = wait_for_result();
    EXPECT_EQ(ended, "exit=0\nsignal=0\nrestored=1\n");
    s = screen();
    EXPECT_NE(s.find("Stopped."), std::string::npos) << s;
    EXPECT_EQ(s.find("Time elapsed: 00:00:0" + std::string(1, '8')), std::string::npos)
        << "ESCAPE stopped it before the end";

    // What was heard: full volume at first, 97% after the arrows (the sine peaks at half scale).
    const std::string bytes = test::read_file(dir_ / "out.raw");
    std::vector<int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    bool full = false, lowered = false;
    for (size_t block = 0; block + 2048 <= out.size(); block += 2048) {
        int peak = 0;
        for (size_t i = block; i < block + 2048; ++i) peak = std::max(peak, std::abs(int{out[i]}));
        const double ratio = peak / 16383.5;
        full = full || std::abs(ratio - 1.0) < 0.003;
        lowered = lowered || std::abs(ratio - 0.97) < 0.003;
    }
    EXPECT_TRUE(full);
    EXPECT_TRUE(lowered);
}

TEST_F(Terminal, CtrlCPutsTheTerminalBack) {
    start_playing();
    wait_for([](const std::string& s) { return playing_at_second(s, "00:00:01"); });
    keys({"C-c"});
    EXPECT_EQ(wait_for_result(), "exit=-1\nsignal=2\nrestored=1\n");
}

} // namespace
} // namespace tarvik

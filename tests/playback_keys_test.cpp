// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -play in a real terminal: tmux runs it, the test types keys with send-keys and
// reads the screen with capture-pane. A harness around tarvik records how it ended and
// whether the terminal's settings were put back.
#include "tests/support/test_support.hpp"

#include <chrono>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <unistd.h>

namespace tarvik {
namespace {

using namespace std::chrono_literals;
const std::string kPaused = "[......P.A.U.S.E.D......]";

// The last status line on the screen ("" if none).
std::string status_of(const std::string& screen) {
    const size_t at = screen.rfind("Time elapsed: ");
    return at == std::string::npos ? "" : screen.substr(at, screen.find('\n', at) - at);
}

class Terminal : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::exists("/usr/bin/tmux")) GTEST_SKIP() << "tmux is not installed";
        ASSERT_TRUE(test::write_file(dir_ / "tmux.conf", "set -g remain-on-exit on\n"));
        ASSERT_TRUE(test::write_wav(dir_ / "tone.wav", {44100, 2, 8.0, 0, 440, 0.5}));
        ASSERT_EQ(
            tmux({"new-session", "-d", "-s", "play", "-x", "110", "-y", "30", "-c", dir_.path(),
                  TARVIK_TEST_BIN_DIR "/playback_tty_harness", dir_ / "result.txt",
                  "SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (dir_ / "out.raw"), "--",
                  test::bin("tarvik"), "-play", "tone.wav"})
                .exit_status,
            0);
        wait_for("Time elapsed: 00:00:01 - ");
    }
    void TearDown() override { tmux({"kill-server"}); }

    test::RunResult tmux(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"-L", "tarvik-play-" + std::to_string(::getpid()), "-f", dir_ / "tmux.conf"});
        return test::run("/usr/bin/tmux", args, {.env = {{"TMUX", ""}}, .timeout_seconds = 20});
    }
    std::string screen() { return tmux({"capture-pane", "-p", "-t", "play"}).out; }
    void keys(std::vector<std::string> names) {
        names.insert(names.begin(), {"send-keys", "-t", "play"});
        ASSERT_EQ(tmux(names).exit_status, 0);
    }

    // Waits until the status line holds `text` (or, with present false, does not); returns it.
    std::string wait_for(const std::string& text, bool present = true) {
        std::string line;
        for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(50ms))
            if (line = status_of(screen());
                !line.empty() && (line.find(text) != std::string::npos) == present)
                return line;
        ADD_FAILURE() << "the status line never got there: " << line;
        return line;
    }
    std::string result() {
        test::wait_until([&] { return test::exists(dir_ / "result.txt"); }, 15);
        return test::read_file(dir_ / "result.txt");
    }

    test::TempDir dir_;
};

TEST_F(Terminal, PauseVolumeAndEscape) {
    keys({"Space"});
    const std::string paused = wait_for(kPaused);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(status_of(screen()), paused) << "the time stands still while paused";
    keys({"Space"});
    wait_for(kPaused, false);
    keys({"Down", "Down", "Down"});
    wait_for("Volume: 097%");
    keys({"Up", "P"}); // P: the second code of DOWN, on its own
    wait_for("Volume: 097%");
    std::this_thread::sleep_for(300ms); // let some sound at 97% reach the device

    keys({"Escape"});
    EXPECT_EQ(result(), "exit=0\nsignal=0\nrestored=1\n");
    const std::string s = screen();
    EXPECT_TRUE(test::contains(s, "Stopped."));
    EXPECT_FALSE(test::contains(s, "Time elapsed: 00:00:08")) << "ESCAPE stopped it before the end";

    // What was heard, in blocks of 1024 frames: peaks at full volume at first, 97% after the
    // arrows (the sine peaks at half scale).
    const std::string bytes = test::read_file(dir_ / "out.raw");
    std::set<long> peaks; // per mille of half scale
    for (size_t block = 0; block + 4096 <= bytes.size(); block += 4096) {
        int peak = 0;
        for (size_t i = block; i < block + 4096; i += 2)
            peak = std::max(peak, std::abs(int{int16_t(uint8_t(bytes[i]) | bytes[i + 1] << 8)}));
        peaks.insert(std::lround(peak / 16.3835));
    }
    const auto heard = [&](long level) {
        const auto near = peaks.lower_bound(level - 3);
        return near != peaks.end() && *near <= level + 3;
    };
    EXPECT_TRUE(heard(1000) && heard(970)) << testing::PrintToString(peaks);
}

TEST_F(Terminal, CtrlCPutsTheTerminalBack) {
    keys({"C-c"});
    EXPECT_EQ(result(), "exit=-1\nsignal=2\nrestored=1\n");
}

} // namespace
} // namespace tarvik

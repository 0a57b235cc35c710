// SPDX-License-Identifier: GPL-3.0-or-later
// End to end under a real X server (Xvfb): tarvik-gui, set to Silent Mode with an input
// folder of generated WAVs whose name is not ASCII, gets Alt+G (xdotool) and the real
// encoder writes the MP3s; its summary box is closed, then the dialog with Escape.
#include "common/version.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>

using namespace tarvik::test;
using std::chrono::milliseconds;

namespace {
struct Stopper { // stops a program started in the background when the test ends
    int pid;
    ~Stopper() {
        if (pid > 0 && kill(pid, SIGTERM) == 0) wait_program(pid);
    }
};
} // namespace

TEST(FrontEndUnderX, SilentBatchFromAUtf8FolderWritesTheMp3s) {
    if (run("/usr/bin/which", {"Xvfb", "xdotool"}).exit_status != 0)
        GTEST_SKIP() << "needs Xvfb and xdotool (scripts/deps.sh)";
    TempDir dir;
    const std::string gui = dir / "gui", wavs = dir / "À faire — Голоса героя",
                      out = dir / "MP3 Ausgabe";
    for (const auto& d : {gui, wavs, out})
        std::filesystem::create_directories(d);
    // A copy, so that its settings file is written beside it in the test's folder.
    std::filesystem::copy(bin("tarvik-gui"), gui + "/tarvik-gui");
    write_file(gui + "/tarvik-gui.ini",
               "$tarvik folder: " + bin_dir() + "\n$last input folder: " + wavs +
                   "\n$last output folder: " + out + "\n$silent mode: yes\n");
    for (const int tenths : {10, 15}) {
        WavSpec tone;
        tone.seconds = tenths / 10.0;
        ASSERT_TRUE(write_wav(wavs + "/line " + std::to_string(tenths) + ".wav", tone));
    }
    const std::string display = ":" + std::to_string(100 + getpid() % 800);
    Stopper xvfb{start_program("/usr/bin/Xvfb",
                               {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"})};
    for (int i = 0; i < 100 && !exists("/tmp/.X11-unix/X" + display.substr(1)); ++i)
        std::this_thread::sleep_for(milliseconds(100));
    setenv("DISPLAY", display.c_str(), 1), setenv("QT_QPA_PLATFORM", "xcb", 1);
    write_file(dir / "lsan", "leak:libdbus-1.so\n"); // a sanitizer build: the bus library's own
    setenv("LSAN_OPTIONS", ("suppressions=" + dir / "lsan").c_str(), 1);
    auto keys_to = [&](const std::string& name, const std::string& keys) { // focus a window, type
        const std::string id = run("/usr/bin/xdotool", {"search", "--sync", "--name", name}).out;
        ASSERT_FALSE(id.empty()) << "no window " << name;
        run("/usr/bin/xdotool", {"windowfocus", "--sync", id.substr(0, id.find('\n'))});
        run("/usr/bin/xdotool", {"key", "--clearmodifiers", keys});
    };
    Stopper frontEnd{start_program(gui + "/tarvik-gui", {})};
    keys_to("^tarvik's gui " TARVIK_VERSION "$", "alt+g");
    std::vector<std::string> mp3s;
    for (int i = 0; i < 1200 && mp3s.size() < 2;
         ++i, std::this_thread::sleep_for(milliseconds(100))) {
        mp3s.clear();
        for (const auto& name : list_dir(out))
            if (name.front() != '.' && name.ends_with(".mp3")) mp3s.push_back(name);
    }
    ASSERT_EQ(mp3s, (std::vector<std::string>{"line 10.mp3", "line 15.mp3"}));
    for (const auto& [name, seconds] :
         {std::pair{"line 10.mp3", 1.0}, std::pair{"line 15.mp3", 1.5}}) {
        AudioInfo info;
        ASSERT_FALSE(decode(out + "/" + name, &info).empty() || !mp3_facts(out + "/" + name))
            << name;
        EXPECT_EQ(info.sample_rate * 10 + info.channels, 441001);
        EXPECT_NEAR(double(info.frames) / info.sample_rate, seconds, 0.1) << name;
        EXPECT_EQ(mp3_facts(out + "/" + name)->bit_rates.back(), 128); // the Default preset
    }
    keys_to("^tarvik " TARVIK_VERSION "$", "Return"); // the encoder's summary box
    std::this_thread::sleep_for(milliseconds(500));
    keys_to("^tarvik's gui " TARVIK_VERSION "$", "Escape");
    int status = -1; // it ends within 30 s, with exit status 0
    EXPECT_TRUE(wait_until([&] { return waitpid(frontEnd.pid, &status, WNOHANG) > 0; }, 30) &&
                status == 0);
    EXPECT_NE(read_file(gui + "/tarvik-gui.ini").find("$last input folder: " + wavs + "\n"),
              std::string::npos);
}

// "--run-in-terminal": the output, how it ended (Ctrl-C reaches only the program), its status.
TEST(FrontEnd, RunInTerminalReportsTheEndAndWaitsForEnter) {
    const std::string gui = bin("tarvik-gui"), wait = "\nPress Enter to close this window...";
    const RunOptions enter{"", {{"TARVIK_BOX_PROGRAM", gui}}, "\n", 60};
    for (const auto& [program, script, out, status] : std::vector<std::array<std::string, 4>>{
             {"/bin/sh", "echo [${TARVIK_BOX_PROGRAM-none}]; kill -INT $PPID; exit 3",
              "[none]\n\ntarvik ended with exit status 3.", "3"},
             {"/bin/sh", "kill -TERM $$", "\ntarvik was stopped before it finished.", "255"},
             {"/no/tarvik", "", "Cannot start \"/no/tarvik\".", "255"}}) {
        const auto r = run(gui, {"--run-in-terminal", program, "-c", script}, enter);
        EXPECT_EQ(r.out + " " + std::to_string(r.exit_status), out + wait + " " + status);
    }
    const std::string late = "(sleep .3; echo E >&2; echo) | (\"$0\" --run-in-terminal /bin/true;"
                             " echo e >&2)"; // Enter comes late; the front end ends after it
    EXPECT_EQ(run("/bin/sh", {"-c", late, gui}).err, "E\ne\n");
}

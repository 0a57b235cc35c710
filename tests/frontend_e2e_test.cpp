// tarvik-gui run as a user starts it. Under a real X server (Xvfb): tarvik-gui, set to Silent Mode
// with an input folder of generated WAVs whose name is not ASCII, gets Alt+G (xdotool) and the real
// encoder writes the MP3s; its summary box is closed, then the dialog with Escape.
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;
using namespace tarvik::test;
using std::chrono::milliseconds;

namespace {
struct Spawned { // a program running in the background, stopped at the end of the test
    pid_t pid = -1;
    explicit Spawned(std::vector<std::string> argv) {
        std::vector<char*> a;
        for (auto& s : argv)
            a.push_back(s.data());
        a.push_back(nullptr);
        if (posix_spawn(&pid, a[0], nullptr, nullptr, a.data(), environ) != 0) pid = -1;
    }
    int wait_exit() { // its exit status, or -1 when it did not end within 30 s
        int status = 0;
        for (int i = 0; i < 300; ++i, std::this_thread::sleep_for(milliseconds(100)))
            if (waitpid(pid, &status, WNOHANG) == pid)
                return pid = -1, WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return -1;
    }
    ~Spawned() {
        if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
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
    Spawned xvfb({"/usr/bin/Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
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
    Spawned frontEnd({gui + "/tarvik-gui"});
    keys_to("^tarvik's gui 1.0b$", "alt+g");
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
        const auto info = audio_info(out + "/" + name);
        ASSERT_TRUE(info && mp3_facts(out + "/" + name)) << name;
        EXPECT_EQ(info->sample_rate * 10 + info->channels, 441001);
        EXPECT_NEAR(double(info->frames) / info->sample_rate, seconds, 0.1) << name;
        EXPECT_EQ(mp3_facts(out + "/" + name)->bit_rates.back(), 128); // the Default preset
    }
    keys_to("^tarvik 1.1b$", "Return"); // the encoder's summary box
    std::this_thread::sleep_for(milliseconds(500));
    keys_to("^tarvik's gui 1.0b$", "Escape");
    EXPECT_EQ(frontEnd.wait_exit(), 0);
    EXPECT_NE(read_file(gui + "/tarvik-gui.ini").find("$last input folder: " + wavs + "\n"),
              std::string::npos);
}

// "--run-in-terminal": the program's own output, then how it ended; Ctrl-C reaches only the
// program; the window waits for Enter; the program's exit status is returned.
TEST(FrontEnd, RunInTerminalReportsTheEndAndWaitsForEnter) {
    const std::string gui = bin("tarvik-gui"), wait = "\nPress Enter to close this window...";
    RunOptions enter, offscreen;
    enter.env = {{"TARVIK_BOX_PROGRAM", gui}}, enter.stdin_text = "\n";
    offscreen.env = {{"QT_QPA_PLATFORM", "offscreen"}, {"TARVIK_GUI_STARTUP_TIME", "1"}};
    for (auto [args, out, status] :
         std::vector<std::tuple<std::vector<std::string>, std::string, int>>{
             {{"/bin/sh", "-c", "echo \"[${TARVIK_BOX_PROGRAM-none}]\"; kill -INT $PPID; exit 3"},
              "[none]\n\ntarvik ended with exit status 3.",
              3},
             {{"/bin/sh", "-c", "kill -TERM $$"}, "\ntarvik was stopped before it finished.", 255},
             {{"/no/such/tarvik", "-batch"}, "Cannot start \"/no/such/tarvik\".", 255}}) {
        args.insert(args.begin(), "--run-in-terminal");
        const auto r = run(gui, args, enter);
        EXPECT_EQ(r.out, out + wait) << args[1];
        EXPECT_EQ(r.exit_status, status) << args[1];
    }
    // Enter comes 0.3 s late; the front end ends only after it.
    const auto r = run("/bin/sh", {"-c",
                                   "{ sleep 0.3; echo Enter >&2; echo; } | "
                                   "{ \"$0\" --run-in-terminal /bin/true; echo ended >&2; }",
                                   gui});
    EXPECT_EQ(r.err, "Enter\nended\n");
    // Offscreen: bad box requests; the dialog, found by its settings file, comes up quickly.
    EXPECT_EQ(run(gui, {"--message-box", "error", "only caption"}, offscreen).exit_status, 2);
    EXPECT_EQ(run(gui, {"--message-box", "loud", "tarvik", "text"}, offscreen).exit_status, 2);
    TempDir dir;
    std::filesystem::copy(gui, dir / "tarvik-gui");
    write_file(dir / "tarvik-gui.ini", "$tarvik folder: " + bin_dir() + "\n");
    const auto shown = run(dir / "tarvik-gui", {}, offscreen);
    EXPECT_EQ(shown.exit_status, 0);
    EXPECT_NE(shown.err.find("dialog shown after"), std::string::npos) << shown.err;
}

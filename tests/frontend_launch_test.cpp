// The batch command line and the encoder's start, without the dialog.
#include "frontend/launch.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <thread>

using namespace tarvik::gui;
using tarvik::test::TempDir;
using Args = std::vector<std::string>;

namespace {
void make_executable(const std::string& path, const std::string& text) {
    tarvik::test::write_file(path, text);
    ::chmod(path.c_str(), 0755);
}

bool wait_for_file(const std::string& path, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (tarvik::test::exists(path) && !tarvik::test::read_file(path).empty()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}
} // namespace

TEST(BatchCommandLine, SwitchesInTheirFixedOrder) {
    struct Case {
        std::string name;
        std::function<void(GuiSettings&)> set;
        std::optional<Args> args; // nullopt: refused (invalid custom bit rate)
    };
    const std::vector<Case> cases = {
        {"default preset, no options", [](GuiSettings& s) { s.inputFolder = "/in"; },
         Args{"-batch", "-brate", "128", "/in"}},
        {"both folders", [](GuiSettings& s) { s.inputFolder = "/in"; s.outputFolder = "/out"; },
         Args{"-batch", "-brate", "128", "/in", "/out"}},
        {"VBR 7 with High", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityHigh = true;
             s.useVbr = true;
             s.vbrValue = 7;
             s.inputFolder = "/in";
         }, Args{"-batch", "-vbr", "7", "-brate", "256", "/in"}},
        {"every option", [](GuiSettings& s) {
             s.generateVlp = s.deleteWavs = s.useVbr = true;
             s.vbrValue = 4;
             s.qualityDefault = false;
             s.qualityLow = true;
             s.lowBitrate = 32;
         }, Args{"-batch", "-lips", "-rem", "-vbr", "4", "-brate", "32"}},
        {"custom 144", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityCustom = true;
             s.customBitrate = 144;
         }, Args{"-batch", "-brate", "144"}},
        {"custom none", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityCustom = true;
         }, std::nullopt},
        {"custom 100", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityCustom = true;
             s.customBitrate = 100;
         }, std::nullopt},
        {"folders stay single arguments", [](GuiSettings& s) {
             s.inputFolder = "/My \"Voices\"/";
             s.outputFolder = "/out dir/it's -rem";
         }, Args{"-batch", "-brate", "128", "/My \"Voices\"/", "/out dir/it's -rem"}},
    };
    for (const auto& c : cases) {
        GuiSettings s;
        c.set(s);
        const auto bitrate = SelectedBitrate(s);
        ASSERT_EQ(bitrate.has_value(), c.args.has_value()) << c.name;
        if (bitrate) {
            EXPECT_EQ(BatchArguments(s, *bitrate, false), *c.args) << c.name;
        }
    }
    GuiSettings s;
    s.inputFolder = "/in";
    EXPECT_EQ(BatchArguments(s, 128, true), (Args{"-batch", "-brate", "128", "-noclick", "/in"}));
}

TEST(BatchCommandLine, TextFormIsShellQuoted) {
    EXPECT_EQ(CommandText("/opt/tarvik/tarvik", {"-batch", "-brate", "128", "/data/My Voices",
                                                  "/it's", ""}),
              "/opt/tarvik/tarvik -batch -brate 128 '/data/My Voices' '/it'\\''s' ''");
}

TEST(Terminal, FoundInOrderWithItsCommandForm) {
    TempDir dir;
    make_executable(dir / "xterm", "");
    make_executable(dir / "gnome-terminal", "");
    tarvik::test::write_file(dir / "konsole", ""); // not executable: skipped
    const std::string path = "/nonexistent:" + dir.path();

    auto t = FindTerminal(nullptr, path.c_str());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, dir / "gnome-terminal");
    EXPECT_EQ(t->beforeCommand, Args{"--"});

    t = FindTerminal("xterm", path.c_str());
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, dir / "xterm");
    EXPECT_EQ(t->beforeCommand, Args{"-e"});

    make_executable(dir / "myterm", "");
    t = FindTerminal((dir / "myterm").c_str(), "");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->path, dir / "myterm");

    EXPECT_FALSE(FindTerminal(nullptr, "/nonexistent"));
}

TEST(Launch, PlanWithAndWithoutAWindow) {
    const ProcessLauncher launcher("/opt/gui/tarvik-gui");
    const LaunchRequest request{"/opt/t/tarvik", {"-batch", "-brate", "128", "/in dir"}, "/opt/t", false};
    const TerminalCommand xterm{"/usr/bin/xterm", {"-e"}};

    auto plan = launcher.MakePlan(request, xterm);
    EXPECT_TRUE(plan.inTerminal);
    EXPECT_EQ(plan.program, "/usr/bin/xterm");
    EXPECT_EQ(plan.arguments, (Args{"-e", "/usr/bin/env", "-u", "TARVIK_BOX_PROGRAM", "TARVIK_BOX_WAIT=1",
                                    "/opt/t/tarvik", "-batch", "-brate", "128", "/in dir"}));

    for (const bool silent : {true, false}) {
        LaunchRequest r = request;
        r.silent = silent;
        plan = launcher.MakePlan(r, silent ? std::optional(xterm) : std::nullopt);
        EXPECT_FALSE(plan.inTerminal);
        EXPECT_EQ(plan.program, "/opt/t/tarvik");
        EXPECT_EQ(plan.arguments, request.arguments);
        EXPECT_EQ(plan.envChanges, (Args{"TARVIK_BOX_WAIT", "TARVIK_BOX_PROGRAM=/opt/gui/tarvik-gui"}));
    }
}

TEST(Launch, StartsTheEncoderDetachedInItsFolderOrReportsFailure) {
    TempDir dir;
    // A stand-in encoder that records its arguments, working directory and box settings.
    make_executable(dir / "tarvik",
                    "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; "
                    "echo \"wait=${TARVIK_BOX_WAIT-unset} box=${TARVIK_BOX_PROGRAM-unset}\"; } "
                    "> \"$(dirname \"$0\")/ran.tmp\"; mv \"$(dirname \"$0\")/ran.tmp\" \"$(dirname \"$0\")/ran\"\n");
    ProcessLauncher launcher("/opt/gui/tarvik-gui");
    const LaunchRequest request{dir / "tarvik", {"-batch", "-brate", "128", "/a b/\"q\""}, dir.path(), true};
    ASSERT_TRUE(launcher.Start(request));
    ASSERT_TRUE(wait_for_file(dir / "ran", 10));
    EXPECT_EQ(tarvik::test::read_file(dir / "ran"),
              dir.path() + "\n[-batch]\n[-brate]\n[128]\n[/a b/\"q\"]\nwait=unset box=/opt/gui/tarvik-gui\n");

    LaunchRequest missing = request;
    missing.program = dir / "nothing-here";
    EXPECT_FALSE(launcher.Start(missing));
    tarvik::test::write_file(dir / "plain", "not a program");
    missing.program = dir / "plain";
    EXPECT_FALSE(launcher.Start(missing));
}

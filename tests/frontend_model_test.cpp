// SPDX-License-Identifier: GPL-3.0-or-later
// The front end without its window: the settings parser, the settings file, the command
// line, the launch and what a silent run reports.
#include "frontend/launch.hpp"
#include "frontend/settings.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace tarvik::gui;
using tarvik::test::list_dir;
using tarvik::test::read_file;
using tarvik::test::run;
using tarvik::test::TempDir;
using tarvik::test::write_file;
using Args = std::vector<std::string>;

namespace {
void make_executable(const std::string& path, const std::string& text) {
    write_file(path, text);
    ::chmod(path.c_str(), 0755);
}
// The value after `key` read as a string ("s"), integer ("i") or boolean ("b", from false).
std::string value_of(const std::string& text, const char* key, char kind) {
    TokenParser p;
    p.LoadText(text);
    if (!p.FindToken(key)) return "<none>";
    std::string s;
    int32_t n = 0;
    bool b = false;
    if (kind == 's') p.ReadString(s);
    if (kind == 'i') p.ReadInteger(n), s = std::to_string(n) + (p.ConversionFailed() ? "!" : "");
    if (kind == 'b') p.ReadBoolean(b), s = b ? "true" : "false";
    return s;
}
} // namespace

TEST(FrontEndParser, FindsKeysAtLineStartsAndReadsValues) {
    for (const auto& [text, key, kind, value] :
         std::vector<std::tuple<std::string, const char*, char, std::string>>{
             {"  \t$SILENT Mode:   YES    ; note\n", "$silent mode:", 'b', "true"},
             {"; $k: 1\nx $k: 2\n", "$k:", 's', "<none>"},       // comments, middle of a line
             {"a: 1\n#eof\nb: 2\n#Eof\nc: 3\n", "b:", 'i', "2"}, // "#Eof" wins over "#eof"
             {"a: 1\n#eof\nb: 2\n#Eof\nc: 3\n", "c:", 'i', "<none>"},
             {"$f: /my wavs/take one  \t \nnext\n", "$f:", 's', "/my wavs/take one"},
             {"$f: /a;b\r\n", "$f:", 's', "/a"},
             {"$f: /À faire/Голоса — \xe2\x80\x94\n$g: 1\n", "$f:", 's',
              "/À faire/Голоса — \xe2\x80\x94"},
             {"$f: \x80\n$g: 7\n", "$g:", 'i', "7"}, // a 0x80 byte is text like any other
             {"$f: " + std::string(300, 'v'), "$f:", 's', std::string(256, 'v')},
             {"$n: 12abc\n", "$n:", 'i', "12"},
             {"$n: abc\n", "$n:", 'i', "-1!"},
             {"$n:\n\n +9, 4\n", "$n:", 'i', "9"},
             {"$b: 7up\n", "$b:", 'b', "true"},
             {"x;" + std::string(2045, 'x') + "$k: 5", "$k:", 'i', "5"}, // pieces of 2047
             {"x;" + std::string(2046, 'x') + "$k: 5", "$k:", 'i', "<none>"}})
        EXPECT_EQ(value_of(text, key, kind), value) << text;
    for (const char* other : {"maybe", "", "-1", "yes please"}) // the destination is kept
        EXPECT_EQ(value_of(std::string("$b: ") + other + "\n", "$b:", 'b'), "false") << other;
}

TEST(FrontEndSettings, RoundTripKeepsUtf8FoldersAndTheCustomBitRate) {
    TempDir dir;
    const std::string wavs = dir / "À faire — Голоса героя";
    const std::string out = dir / "Sortie \xe2\x80\x94 MP3";
    ASSERT_EQ(::mkdir(wavs.c_str(), 0755) + ::mkdir(out.c_str(), 0755), 0);
    write_file(wavs + "/Line01.WAV", "x");
    GuiSettings s;
    s.inputFolder = wavs, s.outputFolder = out;
    s.generateVlp = s.silentMode = s.noClick = s.useVbr = s.recurse = s.normalizeLoudness = true;
    s.vbrValue = 0, s.quality = Quality::Custom, s.customBitrate = 144, s.loudnessTarget = -5;
    s.lipsLanguage = "pt-br";
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    ASSERT_TRUE(WriteSettings(s, paths));
    TokenParser p;
    ASSERT_TRUE(p.Load(paths.settingsPath));
    GuiSettings back;
    ReadAllSettings(p, back);
    EXPECT_EQ(back, s);
    EXPECT_TRUE(
        tarvik::test::contains(read_file(paths.settingsPath),
                               "of 8, 11.025, 12, 16, 22.05 and 24 kHz):\n; |-> 8, 16, 24"));
}

TEST(FrontEndSettings, DefaultsAndChecksOfTheKeys) {
    const std::vector<std::pair<std::string, std::function<void(GuiSettings&)>>> cases = {
        {"$last quality: HIGH\n$custom bitrate: 176\n", [](auto& s) { s.quality = Quality::High; }},
        {"$low bitrate: 176\n$default bitrate: 0\n$high bitrate: loud\n$last quality: best\n",
         [](GuiSettings&) {}},
        {"$last option vbr: yes\n$last vbr value: 12\n", [](GuiSettings&) {}},
        {"$last option vbr: no\n$last vbr value: 5\n$No Click: 1\n#eof\n$silent mode: yes\n",
         [](GuiSettings& s) { s.noClick = true; }},
        {"$last input folder: /nowhere\n$last output folder: /nowhere\n$custom bitrate: 8\n",
         [](GuiSettings& s) { s.customBitrate = 8; }},
        {"$loudness target: -41\n$last option update: yes\n", [](auto& s) { s.update = true; }},
        {"$lip-sync language:\n", [](GuiSettings&) {}}, // older files have none: en-us
        {"$LIP-SYNC LANGUAGE: yue ; Cantonese\n", [](auto& s) { s.lipsLanguage = "yue"; }},
    };
    for (const auto& [text, expect] : cases) {
        GuiSettings expected, s;
        expect(expected);
        TokenParser p;
        p.LoadText(text);
        ReadAllSettings(p, s);
        EXPECT_EQ(s, expected) << text;
    }
    for (const char* bad : {"/a;b", "/two\nlines", "/x#eofy", " /lead", "/trail\t"})
        EXPECT_FALSE(FolderStorable(bad)) << bad;
    // An output folder kept by an older version that tarvik refuses is not offered again.
    TempDir dir;
    ASSERT_TRUE(std::filesystem::create_directory(dir / "say \"hi\""));
    TokenParser p;
    p.LoadText("$last output folder: " + dir / "say \"hi\"" + "\n");
    GuiSettings s;
    ReadAllSettings(p, s);
    EXPECT_EQ(s.outputFolder, "");
    // A tree's WAVs may all lie in its subfolders.
    ASSERT_TRUE(std::filesystem::create_directories(dir / "tree/npc"));
    write_file(dir / "tree/npc/Line.WAV", "");
    EXPECT_FALSE(FolderHasWavs(dir / "tree"));
    EXPECT_TRUE(FolderHasWavs(dir / "tree", true));
}

TEST(FrontEndSettings, WrittenThroughALinkAndReadOnlyWhenRegular) {
    TempDir dir;
    // A FIFO, or a link to one, is refused at once instead of waiting for a writer.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("fifo", (dir / "link").c_str()), 0);
    TokenParser p;
    EXPECT_FALSE(p.Load(dir / "fifo") || p.Load(dir / "link"));
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    write_file(dir / "real/tarvik-gui.ini", "old\n");
    ASSERT_EQ(::symlink("real/tarvik-gui.ini", (dir / "tarvik-gui.ini").c_str()), 0);
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    ASSERT_TRUE(WriteSettings(GuiSettings{}, paths));
    EXPECT_TRUE(std::filesystem::is_symlink(paths.settingsPath));
    EXPECT_NE(read_file(dir / "real/tarvik-gui.ini").find("#eof"), std::string::npos);
}

// Nothing is written beside a program in a system folder (under /usr, or another user's);
// the configuration folder is made private to the user.
TEST(FrontEndSettings, ProgramsInSystemFoldersKeepTheirSettingsInTheConfigFolder) {
    TempDir dir;
    const std::string xdg = dir / "cfg/tarvik/tarvik-gui.ini", other = dir / "other";
    ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
    EXPECT_EQ(SettingsPathFor("/usr/bin"), xdg);
    EXPECT_EQ(SettingsPathFor(dir.path()), dir / "tarvik-gui.ini");
    ASSERT_TRUE(WriteSettings(GuiSettings{}, {xdg, ""}));
    EXPECT_EQ(std::filesystem::status(dir / "cfg/tarvik").permissions(),
              std::filesystem::perms::owner_all);
    ::mkdir(other.c_str(), 0755);
    if (::chown(other.c_str(), ::geteuid() + 1, ::getegid()) == 0)
        EXPECT_EQ(SettingsPathFor(other), xdg);
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(FrontEndSettings, AReplacedFileKeepsItsPermissions) {
    TempDir dir;
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    write_file(paths.settingsPath, "$silent mode: yes\n");
    ::chmod(paths.settingsPath.c_str(), 0600);
    ASSERT_TRUE(WriteSettings(GuiSettings{}, paths));
    EXPECT_EQ(std::filesystem::status(paths.settingsPath).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// A write that fails, on a full file system and then on a read-only one, says why and leaves
// the old file as it was (a tmpfs of one page, which the old file fills).
TEST(FrontEndSettings, AFailedWriteKeepsTheOldFile) {
    TempDir dir;
    if (run("/bin/mount", {"-t", "tmpfs", "-o", "size=4k", "tmpfs", dir.path()}).exit_status != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    write_file(paths.settingsPath, "$silent mode: yes\n");
    for (const std::string why : {"No space left on device", "Read-only file system"}) {
        std::string said;
        EXPECT_TRUE(!WriteSettings(GuiSettings{}, paths, &said) && said == why) << said;
        EXPECT_EQ(list_dir(dir.path()), Args{"tarvik-gui.ini"});
        EXPECT_EQ(read_file(paths.settingsPath), "$silent mode: yes\n");
        run("/bin/mount", {"-o", "remount,ro", dir.path()});
    }
    run("/bin/umount", {dir.path()});
}

TEST(FrontEndEncoder, FoundBesideTheFrontEndThenOnThePath) {
    TempDir dir;
    for (const char* d : {"gui", "bin1", "bin2"})
        ::mkdir((dir / d).c_str(), 0755);
    write_file(dir / "bin1/tarvik", "not executable");
    make_executable(dir / "bin2/tarvik", "");
    const std::string path = dir / "bin1" + ":" + dir / "bin2";
    EXPECT_EQ(CheckEncoder(dir / "bin1/tarvik"), EncoderCheck::NotExecutable);
    EXPECT_EQ(FindEncoderNear(dir / "gui", path.c_str()), dir / "bin2/tarvik");
    make_executable(dir / "gui/tarvik", "");
    EXPECT_EQ(FindEncoderNear(dir / "gui", path.c_str()), dir / "gui/tarvik");
    EXPECT_EQ(FindEncoderNear(dir / "bin1", ""), std::nullopt);
}

TEST(FrontEndLaunch, FindsATerminalAndStartsTheBatchInIt) {
    TempDir dir; // stand-ins for the usual ones, in search order: "title option|words before"
    const Args found = {"gnome-terminal", "--title|--", "konsole",    "|-e",   "xfce4-terminal",
                        "--title|-x",     "alacritty",  "--title|-e", "kitty", "--title|",
                        "xterm",          "-T|-e",      "my-term",    "-T|-e"};
    for (size_t i = 0; i < found.size(); i += 2) // each writes down its words, folder, box variable
        make_executable(dir / found[i],
                        "#!/bin/sh\nprintf '[%s]' \"$@\" $PWD ${TARVIK_BOX_WAIT-0} >$0.w");
    write_file(dir / "x-terminal-emulator", ""); // not executable: passed over
    const std::string path = "/nowhere:" + dir.path();
    EXPECT_EQ(FindTerminal("kitty", path.c_str())->path, dir / "kitty"); // $TERMINAL first
    for (size_t i = 0; i + 2 < found.size(); i += 2) { // each found one removed in turn
        const auto t = FindTerminal("", path.c_str()).value();
        const std::string words = t.beforeCommand.empty() ? "" : t.beforeCommand.at(0);
        EXPECT_EQ(t.path + " " + t.titleOption + "|" + words, dir / found[i] + " " + found[i + 1]);
        std::remove((dir / found[i]).c_str());
    }
    EXPECT_FALSE(FindTerminal("", path.c_str()));
    // The real start: in $TERMINAL, through the front end's wrapper (boxes too, without one).
    EXPECT_EQ(BatchTitle("/data/Голоса/"), "tarvik: Голоса");
    make_executable(dir / "t", "");
    ::setenv("TERMINAL", (dir / "my-term").c_str(), 1), ::setenv("TARVIK_BOX_WAIT", "1", 1);
    ProcessLauncher launcher("/opt/gui/tarvik-gui");
    LaunchRequest request{dir / "t", {"-batch", "/in"}, "/", false, "tarvik: in"};
    ASSERT_EQ(launcher.Start(request), LaunchResult::Started);
    tarvik::test::wait_until([&] { return read_file(dir / "my-term.w").ends_with("]"); }, 10);
    EXPECT_EQ(read_file(dir / "my-term.w"),
              "[-T][tarvik: in][-e][/opt/gui/tarvik-gui][--run-in-terminal][" +
                  dir / "t][-batch][/in][/][0]");
    EXPECT_EQ(launcher.MakePlan(request, std::nullopt).envChanges,
              (Args{"TARVIK_BOX_WAIT", "TARVIK_BOX_PROGRAM=/opt/gui/tarvik-gui"}));
    request.workingDir = dir / "gone"; // fails the start, in a terminal or silent
    EXPECT_EQ(launcher.Start(request), LaunchResult::Failed);
    request.silent = true;
    EXPECT_EQ(launcher.Start(request), LaunchResult::Failed);
    ::unsetenv("TERMINAL"), ::unsetenv("TARVIK_BOX_WAIT");
}

TEST(FrontEndLaunch, SilentRunIsWatchedAndEndsWithItsFailures) {
    TempDir dir;
    make_executable(dir / "tarvik",
                    "#!/bin/sh\nprintf '10%%\\r99%%\\rWARNING! Cannot open \"a.wav\"\\n"
                    "Skipping it...\\n'\nsleep 0.3\nexit 1\n");
    ProcessLauncher launcher("");
    LaunchRequest request{dir / "tarvik", {}, dir.path(), true, ""};
    ASSERT_EQ(launcher.Start(request), LaunchResult::Started);
    EXPECT_FALSE(launcher.PollRun().ended); // still running
    std::optional<BatchEnd> end;
    ASSERT_TRUE(
        tarvik::test::wait_until([&] { return bool(end = launcher.PollRun().silentEnd); }, 10));
    EXPECT_EQ(end->exitStatus, 1);
    // Its failures from its results, else the last lines it printed.
    RunResults results;
    results.AddFile("converted", "a.wav", ""), results.AddFile("failed", "b.wav", "it is empty");
    EXPECT_EQ(BatchEndText(*end, results),
              "tarvik ended with exit status 1.\n\n1 of 2 file(s) failed:\nb.wav: it is empty\n");
    EXPECT_EQ(BatchEndText(*end, {}), "tarvik ended with exit status 1.\n\nWhat it printed "
                                      "last:\nWARNING! Cannot open \"a.wav\"\nSkipping it...\n");

    request.program = dir / "gone";
    EXPECT_EQ(launcher.Start(request), LaunchResult::Missing);
    write_file(dir / "plain", "");
    request.program = dir / "plain";
    EXPECT_EQ(launcher.Start(request), LaunchResult::NotExecutable);
}

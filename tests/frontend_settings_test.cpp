// The front end's settings file: where it lives, its exact text, reading it back with every
// default and check, and writing it safely.
#include "frontend/settings.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvik::gui;
using tarvik::test::TempDir;
using tarvik::test::read_file;
using tarvik::test::write_file;

namespace {

GuiSettings read_back(const std::string& text) {
    TokenParser p;
    p.LoadText(text);
    GuiSettings s;
    s.resetOnExit = true; // reading clears it
    ReadAllSettings(p, s);
    return s;
}

void make_encoder(const std::string& folder) {
    write_file(folder + "/tarvik", "#!/bin/sh\n");
    ::chmod((folder + "/tarvik").c_str(), 0755);
}

std::tm fixed_time() {
    std::tm t{};
    t.tm_year = 2004 - 1900;
    t.tm_mon = 3; // April
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

} // namespace

TEST(SettingsText, MatchesTheTemplateByteForByte) {
    GuiSettings s;
    s.lowBitrate = 48;
    s.inputFolder = "/data/My Voices";
    s.qualityDefault = false;
    s.qualityHigh = true;
    s.useVbr = true;
    s.vbrValue = 9;
    s.noClick = true;
    const AppPaths paths{"/opt/gui/tarvik-gui.ini", "/opt/tarvik/tarvik"};

    const std::string sep = ";---------------------------------------------------------------------------";
    ASSERT_EQ(sep.size(), 76u);
    const std::string expected =
        "; this file was generated on 04/03/04 @ 09:05:07\n"
        "\n"
        "; config file for tarvik-gui v1.0b\n"
        "\n"
        "; nb: the semi-column character denotes a line of comments\n"
        "; --> do not use it as a punctuation sign!\n"
        "\n"
        "; specifies the location of tarvik's executable file\n"
        "$tarvik folder: /opt/tarvik\n"
        "; specifies whether tarvik should be allowed to show up its DOS box\n"
        "$silent mode:\t\tno\n"
        "\n" +
        sep + "\n"
        "; specifies the bitrate to use for the \"Low\" quality setting (see below)\n"
        "$low bitrate:\t\t48\n"
        "; specifies the bitrate to use for the \"Default\" quality setting (see below)\n"
        "$default bitrate:\t128\n"
        "; specifies the bitrate to use for the \"High\" quality setting (see below)\n"
        "$high bitrate:\t\t256\n"
        "\n"
        "; Here is the list of usable bitrate:\n"
        "; - For MPEG-1 (sampling frequencies of 32, 44.1 and 48 kHz):\n"
        "; |-> 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320\n"
        "\n"
        "; - For MPEG-2 and MPEG-2.5 (sampling frequencies of 8, 11.025, 12, 16, 22.05 and 24 kHz):\n"
        "; |-> 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160\n"
        "\n"
        "; tarvik will reprocess your value if necessary, so don't get stunned by those\n"
        "; numbers ;) Just remember that the medium value for MPEG-1 is 128kps and for\n"
        "; MPEG-2/MPEG-2.5 80kbps, which corresponds to a good CD quality\n"
        "\n" +
        sep + "\n"
        "; specifies the directory containing the WAVs files to be encoded\n"
        "$last input folder: /data/My Voices\n"
        "; specifies the destination directory for the encoded files\n"
        "$last output folder: \n"
        "\n" +
        sep + "\n"
        "; defines the acoustic quality of produced MP3s (low, default, high or\n"
        "; custom). The latter lets you specify the encoding bit rate to reach\n"
        "$last quality:\t\thigh\n"
        "; specifies whether to generate VLPs files or not (yes or no)\n"
        "$last option vlp:\tno\n"
        "; specifies whether to delete WAVs files after process or not (yes or no)\n"
        "$last option delete:\tno\n"
        "; specifies whether to use Variable Bit Rate encoding technique or not (yes or no)\n"
        "$last option vbr:\tyes\n"
        "; specifies the ratio compression/quality when VBR technique is used (0 ... 9)\n"
        "$last vbr value:\t9\n"
        "\n" +
        sep + "\n"
        "; specifies whether tarvik should try to fix the \"click\" sound that is\n"
        "; sometimes produced at the end of monophonic MP3s. Notice that this artefact\n"
        "; doesn't affect all encoding of mono WAVs, so use it only on a need basis\n"
        "$no click:\t\tyes\t\n"
        "\n"
        "#eof\n";
    const std::string text = SettingsText(s, paths, fixed_time());
    EXPECT_EQ(text, expected);
    EXPECT_EQ(tarvik::test::count_occurrences(text, "\n"), 57); // header, blank, 55 lines
}

TEST(SettingsFile, RoundTripGivesTheSameRecord) {
    TempDir dir;
    const std::string wavs = dir / "Voice Lines";
    const std::string out = dir / "MP3 out";
    ASSERT_EQ(::mkdir(wavs.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    write_file(wavs + "/Line01.WAV", "x");
    make_encoder(dir.path());

    GuiSettings s;
    s.lowBitrate = 8;
    s.defaultBitrate = 144;
    s.highBitrate = 320;
    s.inputFolder = wavs;
    s.outputFolder = out;
    s.generateVlp = s.deleteWavs = s.silentMode = s.noClick = true;
    s.useVbr = true;
    s.vbrValue = 0;
    s.qualityDefault = false;
    s.qualityCustom = true;
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    ASSERT_TRUE(WriteSettings(s, paths));

    TokenParser p;
    ASSERT_TRUE(p.Load(paths.settingsPath));
    GuiSettings back;
    ReadAllSettings(p, back);
    EXPECT_EQ(back, s);

    AppPaths located{paths.settingsPath, ""};
    EXPECT_TRUE(LocateEncoder(located));
    EXPECT_EQ(located.encoderPath, paths.encoderPath);

    // The start values survive a round trip too.
    GuiSettings defaults;
    ASSERT_TRUE(WriteSettings(defaults, paths));
    p.Load(paths.settingsPath);
    ReadAllSettings(p, back);
    EXPECT_EQ(back, defaults);
    EXPECT_NE(read_file(paths.settingsPath).find("$last vbr value:\t-1\n"), std::string::npos);
}

TEST(SettingsFile, DefaultsAndChecksOfEveryKey) {
    TempDir dir;
    const std::string wavs = dir / "wavs";
    const std::string empty = dir / "empty";
    ASSERT_EQ(::mkdir(wavs.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(empty.c_str(), 0755), 0);
    write_file(wavs + "/a.Wav", "x");

    struct Case {
        std::string name;
        std::string text;
        std::function<void(GuiSettings&)> expect; // applied to the start values
    };
    const std::vector<Case> cases = {
        {"nothing", "", [](GuiSettings&) {}},
        {"HIGH in capitals", "$last quality: HIGH\n", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityHigh = true;
         }},
        {"unknown quality word", "$last quality: best\n", [](GuiSettings&) {}},
        {"custom", "$LAST QUALITY:\tCustom ; typed value is not kept\n", [](GuiSettings& s) {
             s.qualityDefault = false;
             s.qualityCustom = true;
         }},
        {"176, 0 and a word revert",
         "$low bitrate: 176\n$default bitrate: 0\n$high bitrate: loud\n", [](GuiSettings&) {}},
        {"144 and 8 stay", "$low bitrate: 8\n$default bitrate: 144\n$high bitrate: 320\n",
         [](GuiSettings& s) {
             s.lowBitrate = 8;
             s.defaultBitrate = 144;
             s.highBitrate = 320;
         }},
        {"VBR yes with 12", "$last option vbr: yes\n$last vbr value: 12\n", [](GuiSettings&) {}},
        {"VBR yes without value", "$last option vbr: yes\n", [](GuiSettings& s) {
             s.useVbr = true; // the dialog shows -1 as 0
         }},
        {"VBR yes with 4", "$last vbr value: 4\n$last option vbr: 1\n", [](GuiSettings& s) {
             s.useVbr = true;
             s.vbrValue = 4;
         }},
        {"VBR value ignored while off", "$last option vbr: no\n$last vbr value: 5\n",
         [](GuiSettings&) {}},
        {"booleans", "$SILENT MODE: yes\n$no click: 1\n$last option vlp: TRUE\n$last option delete: maybe\n",
         [](GuiSettings& s) {
             s.silentMode = s.noClick = s.generateVlp = true;
         }},
        {"keys in any order and case",
         "$No Click: yes\n$HIGH BITRATE: 192\n; comment\n\n$Last Input Folder: " + wavs +
             "\n$last output folder: " + empty + "\n$LOW bitrate: 32\n",
         [&](GuiSettings& s) {
             s.noClick = true;
             s.highBitrate = 192;
             s.lowBitrate = 32;
             s.inputFolder = wavs;
             s.outputFolder = empty; // an existing folder is kept even when empty
         }},
        {"text after #eof ignored", "$low bitrate: 32\n#eof\n$high bitrate: 192\n",
         [](GuiSettings& s) { s.lowBitrate = 32; }},
        {"output folder key missing, later keys still read",
         "$last input folder: " + wavs + "\n$last quality: low\n", [&](GuiSettings& s) {
             s.inputFolder = wavs;
             s.qualityDefault = false;
             s.qualityLow = true;
         }},
        {"folders that are gone or hold no WAV are forgotten",
         "$last input folder: " + empty + "\n$last output folder: " + dir.path() + "/gone\n",
         [](GuiSettings&) {}},
        {"input folder that is gone", "$last input folder: " + dir.path() + "/gone\n",
         [](GuiSettings&) {}},
    };
    for (const auto& c : cases) {
        GuiSettings expected;
        c.expect(expected);
        EXPECT_EQ(read_back(c.text), expected) << c.name;
    }
}

TEST(SettingsFile, WritingReplacesTheFileWholeAndKeepsItOnFailure) {
    TempDir dir;
    const AppPaths paths{dir / "tarvik-gui.ini", dir / "tarvik"};
    write_file(paths.settingsPath, "old contents\n");
    // A second name for the old file: an in-place rewrite would change it, a rename does not.
    ASSERT_EQ(::link(paths.settingsPath.c_str(), (dir / "old-link").c_str()), 0);
    ASSERT_TRUE(WriteSettings(GuiSettings{}, paths));
    EXPECT_EQ(read_file(dir / "old-link"), "old contents\n");
    EXPECT_NE(read_file(paths.settingsPath).find("#eof\n"), std::string::npos);
    EXPECT_EQ(tarvik::test::list_dir(dir.path()),
              (std::vector<std::string>{"old-link", "tarvik-gui.ini"})); // no temporary left

    // A target that cannot be replaced: false, nothing left behind, nothing touched.
    const std::string blocked = dir / "blocked";
    ASSERT_EQ(::mkdir(blocked.c_str(), 0755), 0);
    write_file(blocked + "/keep", "k");
    EXPECT_FALSE(WriteSettings(GuiSettings{}, AppPaths{blocked, dir / "tarvik"}));
    EXPECT_EQ(tarvik::test::list_dir(blocked), std::vector<std::string>{"keep"});
    EXPECT_EQ(tarvik::test::list_dir(dir.path()).size(), 3u);

    // A missing configuration folder is created.
    const AppPaths nested{dir / "config/tarvik/tarvik-gui.ini", dir / "tarvik"};
    EXPECT_TRUE(WriteSettings(GuiSettings{}, nested));
    EXPECT_TRUE(tarvik::test::exists(nested.settingsPath));
}

TEST(SettingsFile, FolderNamesThatCannotBeReadBackAreRefused) {
    struct Case {
        std::string folder;
        bool storable;
    };
    const std::vector<Case> cases = {
        {"", true},
        {"/data/My Voices", true},
        {"/data/#EOF is fine", true},
        {"/data/a;b", false},
        {"/data/two\nlines", false},
        {"/data/cr\r", false},
        {"/data/\xD1\x80ussian", false}, // UTF-8 with a 0x80 byte: the end marker
        {"/data/#eof", false},
        {"/data/x#Eofy", false},
        {" /lead", false},
        {"/trail\t", false},
        {"/" + std::string(255, 'a'), true},
        {"/" + std::string(256, 'a'), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FolderStorable(c.folder), c.storable) << c.folder;

    // Should such a folder reach the record, it is written as "none" and the keys after it
    // survive.
    GuiSettings s;
    s.inputFolder = "/data/a;b\n$low bitrate: 8";
    s.outputFolder = "/data/#eof";
    s.noClick = true;
    const std::string text = SettingsText(s, AppPaths{"/c/tarvik-gui.ini", "/t/tarvik"}, fixed_time());
    EXPECT_NE(text.find("$last input folder: \n"), std::string::npos);
    EXPECT_NE(text.find("$last output folder: \n"), std::string::npos);
    GuiSettings expected;
    expected.noClick = true;
    EXPECT_EQ(read_back(text), expected);
}

TEST(SettingsPath, BesideTheExecutableOrInTheUserConfiguration) {
    TempDir dir;
    EXPECT_EQ(SettingsPathFor(dir.path()), dir / "tarvik-gui.ini");

    // A folder that cannot be written (here: one that does not exist).
    const std::string locked = dir / "not-there";
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", (dir / "xdg").c_str(), 1);
    EXPECT_EQ(SettingsPathFor(locked), dir / "xdg/tarvik/tarvik-gui.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(SettingsPathFor(locked), home + "/.config/tarvik/tarvik-gui.ini");
    }
    if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);

    AppPaths paths;
    EXPECT_FALSE(MakeSettingsPath(paths, dir.path()));
    EXPECT_EQ(paths.settingsPath, dir / "tarvik-gui.ini");
    write_file(paths.settingsPath, "x");
    EXPECT_TRUE(MakeSettingsPath(paths, dir.path()));
}

TEST(SettingsPath, LocateEncoderChecksTheNamedFolder) {
    TempDir dir;
    const std::string with = dir / "with encoder";
    const std::string without = dir / "without";
    ASSERT_EQ(::mkdir(with.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(without.c_str(), 0755), 0);
    make_encoder(with);
    write_file(without + "/tarvik", "not executable");

    struct Case {
        std::string text;
        bool found;
        std::string encoderPath; // "keep": unchanged
    };
    const std::vector<Case> cases = {
        {"$tarvik folder: " + with + "\n", true, with + "/tarvik"},
        {"$TARVIK FOLDER:\t" + with + "/   ; trailing slash\n", true, with + "/tarvik"},
        {"$tarvik folder: " + without + "\n", false, without + "/tarvik"},
        {"$tarvik folder: " + dir.path() + "/gone\n", false, dir.path() + "/gone/tarvik"},
        {"$silent mode: no\n", false, "keep"},
        {"; $tarvik folder: " + with + "\n", false, "keep"},
    };
    for (const auto& c : cases) {
        write_file(dir / "tarvik-gui.ini", c.text);
        AppPaths paths{dir / "tarvik-gui.ini", "keep"};
        EXPECT_EQ(LocateEncoder(paths), c.found) << c.text;
        EXPECT_EQ(paths.encoderPath, c.encoderPath) << c.text;
    }
    EXPECT_EQ(EncoderPathIn("/"), "/tarvik");
}

TEST(Bitrates, TheEighteenValidValues) {
    int valid = 0;
    for (int k = -1; k <= 400; ++k) valid += IsValidBitrate(k) ? 1 : 0;
    EXPECT_EQ(valid, 18);
    EXPECT_TRUE(IsValidBitrate(144));
    EXPECT_FALSE(IsValidBitrate(176));
}

// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik's command line, end to end: the real program with arguments, checking the console
// lines, the box (caption and text) and the exit status.
#include "common/version.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;

namespace {

std::string missing(const std::string& name) {
    return "Missing parameter: \"" + name + "\". Run with -? (or -h, -help) for help";
}
std::string unknown(const std::string& s) {
    return "Unknown switch: \"" + s + "\". Run with -? (or -h, -help) for help";
}
std::string no_value(const std::string& s) {
    return "Missing argument after '" + s + "'";
}
std::string out_of_range(const std::string& s, int max) {
    return "Wrong argument after '" + s + "'. It must be a value comprised between 0 and " +
           std::to_string(max) + ".";
}

// A run refused with exit status 255 and an error box (by default the missing silence time).
// `lines` are printed in this order on standard output; a line starting with '!' nowhere.
struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;
    int box_line = 583;
    std::string box_message = missing("silence_time");
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        TempDir cwd;
        const RunResult r = tarvik_in(cwd.path(), c.args);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_EQ(r.out.rfind("tarvik " TARVIK_VERSION " - ", 0), 0u) << "banner first: " << r.out;
        size_t pos = 0;
        for (const auto& line : c.lines) {
            const bool absent = line[0] == '!';
            const size_t found = r.out.find(line.substr(absent), absent ? 0 : pos);
            EXPECT_EQ(found == std::string::npos, absent) << line << "\nin:\n" << r.out;
            if (!absent && found != std::string::npos) pos = found + line.size();
        }
        EXPECT_EQ(r.err, error_box(c.box_line, c.box_message));
    }
}

} // namespace

// How many parameters each mode takes, which switches it allows, and -play winning wherever.
TEST(CommandLine, ModesParametersAndAllowedSwitches) {
    const std::string play = "Play a sound file\n";
    check({
        {{}, {"![---> checking switch(es) <---]"}},
        {{"5", "out", "extra"}, {"[---> checking switch(es) <---]\n"}},
        {{"-wav", "-rem"},
         {"Convert a regular WAV file\nDelete WAV file after process\n"},
         643,
         missing("input_file")},
        {{"-batch", "-rem", "-noclick", "-jobs", "3", "a", "b", "c"},
         {"Batch process enabled\nDelete WAV files after process\nTry to fix the click produced at "
          "the end of *monophonic* mp3s\nParallel jobs = 3\n"},
         600,
         missing("input_dir")},
        {{"-wav", "a", "-vbr", "4"}, {}, 643, missing("input_file")}, // switch after a parameter
        {{"-bitrate", "128", "-play"}, {play, "!Bitrate"}, 311, missing("input_file")},
        {{"-PLAY", "-X"}, {play}, 316, unknown("-x")},
        {{"-vbr", "99", "-play", "-ver"}, {play, "!VBR", "!LAME"}, 316, unknown("-ver")},
        {{"-rem", "-wav", "a"}, {"!Delete WAV"}, 570, unknown("-rem")},
        {{"-wav", "-batch", "a"}, {"!Batch process"}, 570, unknown("-batch")},
        {{"-noclick", "5"}, {}, 570, unknown("-noclick")},
        {{"-lang", "de", "-lips", "5"}, {}, 570, unknown("-lang")},
        {{"-5"}, {}, 570, unknown("-5")},
        // A quoted directory name ending in a separator reaches the program with a quote inside.
        {{"-batch", "in", "out\""},
         {"Input directory = \"in\"\n"},
         621,
         "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these characters "
         "consecutively when specifying output_dir: \\\""},
    });
}

TEST(CommandLine, SwitchValuesAndTheirLines) {
    check({
        {{"-SRATE", "22050", "-BitRate", "192", "-numbar", "5", "-6", "7"},
         {"Sample rate = 22050Hz (MPEG-2/MPEG-2.5)\n",
          "Bitrate = 160kbps (adjusted to fit MPEG-2/MPEG-2.5 compliance)\n",
          "Display a digital progress bar\n"}},
        {{"-bitrate", "192", "-srate", "22050", "-vbr", "3", "-mode", "JStereo", "-lips", "5", "6",
          "7"},
         {"Bitrate = 192kbps (MPEG-1)\n", "Sample rate = 22050Hz (MPEG-2/MPEG-2.5)\n",
          "VBR efficiency = 3\n", "Mode = joint stereo\n", "Generate a VLP file\n"}},
        {{"-bitrate", "100", "-brate", "8", "-samplerate", "44000", "-brate", "144", "-srate",
          "8000", "-brate", "320", "1", "2", "3"},
         {"Bitrate = 64kbps (MPEG-1)\n", "Bitrate = 32kbps (adjusted to fit MPEG-1 compliance)\n",
          "Sample rate = 44100Hz (MPEG-1)\n",
          "Bitrate = 160kbps (adjusted to fit MPEG-1 compliance)\n",
          "Sample rate = 8000Hz (MPEG-2/MPEG-2.5)\n",
          "Bitrate = 64kbps (adjusted to fit MPEG-2/MPEG-2.5 compliance)\n"}},
        {{"-srate", "-mode", "stereo", "-mode", "dual", "-mode", "mono", "-mode", "other", "-mode",
          "-brate", "-vlp", "1", "2", "3"},
         {"Sample rate = 44100Hz (MPEG-1)\nMode = stereo\nMode = dual channel\nMode = mono\n"
          "Mode = mono\nMode = mono\nBitrate = 64kbps (MPEG-1)\nGenerate a VLP file\n"}},
        // 65536 + 128 keeps 128 in the low 16 bits of the 16-bit setting.
        {{"-brate", "65664", "1", "2", "3"}, {"Bitrate = 128kbps (MPEG-1)\n"}},
        {{"-vbr", "x", "1", "2", "3"}, {"VBR efficiency = 0\n"}},
        {{"-SampleRate"}, {}, 377, no_value("-samplerate")},
        {{"-mode"}, {}, 411, no_value("-mode")},
        {{"-bitrate"}, {}, 456, no_value("-bitrate")},
        {{"-vbr", "-1", "5"}, {}, 530, no_value("-vbr")},
        {{"-vbr", "10", "5"}, {}, 536, out_of_range("-vbr", 9)},
        {{"-jobs", "-2", "5"}, {}, 545, no_value("-jobs")},
        {{"-jobs", "65", "5"}, {}, 551, out_of_range("-jobs", 64)},
        {{"-lips", "-lang", "-numbar", "5"}, {"Generate a VLP file\n"}, 563, no_value("-lang")},
    });
}

TEST(CommandLine, InformationBoxes) {
    TempDir cwd;
    // --help and --version first on the line print alone: the help box's text, the version.
    const RunResult help = tarvik_in(cwd.path(), {"--help"}),
                    version = tarvik_in(cwd.path(), {"--VERSION", "-frobnicate"});
    EXPECT_EQ(version.out + help.err + version.err, "tarvik " TARVIK_VERSION "\n");
    EXPECT_EQ(help.exit_status + version.exit_status, 0);
    EXPECT_TRUE(contains(help.out, "\nUsage:    tarvik [<switches>]") &&
                contains(help.out, "the lipsync tool")); // the tool we ship
    for (const std::string sw : {"-Help", "-h", "-?"}) {
        const RunResult box = tarvik_in(cwd.path(), {"-wav", sw, "5"});
        EXPECT_EQ(box.exit_status, 0);
        EXPECT_TRUE(box.out.ends_with(
            "Convert a regular WAV file\nDisplay help panel\ntarvik " TARVIK_VERSION "\n" +
            help.out));
    }
    // The SDL2 part of -ver is checked with playback.
    const RunResult ver = tarvik_in(cwd.path(), {"-VER"});
    EXPECT_EQ(ver.exit_status, 0);
    EXPECT_TRUE(contains(ver.out, "Display info about 3rd-party libraries\ntarvik " TARVIK_VERSION
                                  "\n\n---- "
                                  "LAME Ain't an MP3 Encoder ----\n| DLL version:            "
                                  "1.32\n| Engine version:       3.100\n| Home page: "));
    EXPECT_TRUE(
        contains(ver.out, "\n---- Libsndfile ----\n| Version tag:            libsndfile-1."));
    EXPECT_EQ(ver.err, "");
}

TEST(CommandLine, HostileArgumentsAreShownLiterally) {
    const std::string longarg = "-" + std::string(5000, 'q');
    const std::string hostile = "-%s%n%x\"'\n;|$(rm -rf x)";
    check({
        {{longarg}, {}, 570, unknown(longarg)},
        {{hostile}, {}, 570, unknown(hostile)},
        {{"-mode", std::string(5000, 'm') + "%n", "1", "2", "3"}, {"Mode = mono\n"}},
        {{"-srate", "%s%s%s", "1", "2", "3"}, {"Sample rate = 44100Hz (MPEG-1)\n"}},
    });
}

// The library is found by name beside the executable; a missing one, or one that lacks an
// entry point (even one never called), stops every run before any switch is read.
TEST(CommandLine, EncoderLibraryMustBeComplete) {
    for (const bool partial : {false, true}) {
        TempDir dir;
        std::filesystem::copy_file(bin("tarvik"), dir / "tarvik");
        if (partial)
            std::filesystem::copy_file(TARVIK_TEST_BIN_DIR "/lame_enc_partial.so",
                                       dir / "lame_enc.so");
        const RunOptions options{.cwd = dir.path(), .env = {{"LD_LIBRARY_PATH", ""}}};
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"-help"}, {"-play", "x"}, {"5"}}) {
            const RunResult r = run(dir / "tarvik", args, options);
            EXPECT_EQ(r.exit_status, 255) << partial;
            EXPECT_EQ(r.err, error_box(256, "\nmain() failed on load_lame(). File not found: "
                                            "\"lame_enc.so\""));
            EXPECT_EQ(r.out.find("checking switch"), std::string::npos) << "only the banner";
        }
    }
}

// The system's libraries come from the system's folders, never from the working directory: a
// file there named like one of them is not loaded.
TEST(CommandLine, LibrariesAreNeverTakenFromTheWorkingDirectory) {
    TempDir dir;
    for (const char* name : {"libsndfile.so.1", "libutf8proc.so.2", "libstdc++.so.6"})
        write_file(dir / name, "not a library");
    const RunResult r = tarvik_in(dir.path(), {"-h"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
}

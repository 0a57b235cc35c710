// tarvik's command line, end to end: the real program with arguments, checking the console
// lines, the box (caption and text) and the exit status.
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>

using namespace tarvik::test;

namespace {

const std::string kMissingSilence =
    "Missing parameter: \"silence_time\". Run with -? (or -h, -help) for help";
const std::string kMissingInputFile =
    "Missing parameter: \"input_file\". Run with -? (or -h, -help) for help";
const std::string kMissingInputDir =
    "Missing parameter: \"input_dir\". Run with -? (or -h, -help) for help";
const std::string kCrash =
    "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these characters "
    "consecutively when specifying output_dir: \\\"";

std::string unknown(const std::string& s) {
    return "Unknown switch: \"" + s + "\". Run with -? (or -h, -help) for help";
}

struct Case {
    std::vector<std::string> args;
    int exit_status;
    std::vector<std::string> printed;     // in this order on standard output
    std::vector<std::string> not_printed; // nowhere on standard output
    int box_line = 0;                     // 0: no error box
    std::string box_message;
};

void check(const Case& c) {
    std::string label;
    for (const auto& a : c.args) label += "[" + a + "] ";
    SCOPED_TRACE(label);
    TempDir cwd;
    RunOptions options;
    options.cwd = cwd.path();
    const RunResult r = run(bin("tarvik"), c.args, options);
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.out.rfind("tarvik 1.1b - ", 0), 0u) << "banner first: " << r.out;
    size_t pos = 0;
    for (const auto& line : c.printed) {
        const size_t found = r.out.find(line, pos);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << r.out;
        if (found != std::string::npos) pos = found + line.size();
    }
    for (const auto& line : c.not_printed)
        EXPECT_EQ(r.out.find(line), std::string::npos) << "unexpected: " << line;
    if (c.box_line)
        EXPECT_EQ(r.err, error_box(c.box_line, c.box_message));
    else
        EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
}

} // namespace

TEST(CommandLine, ArgumentCountAndModeSelection) {
    const std::vector<Case> cases = {
        {{}, 255, {}, {"[---> checking switch(es) <---]"}, 583, kMissingSilence},
        {{"5", "out", "extra"}, 255, {"[---> checking switch(es) <---]\n"}, {}, 583, kMissingSilence},
        {{"-wav"}, 255, {"Convert a regular WAV file\n"}, {}, 643, kMissingInputFile},
        {{"-batch"}, 255, {"Batch process enabled\n"}, {}, 600, kMissingInputDir},
        {{"-batch", "a", "b", "c"}, 255, {}, {}, 600, kMissingInputDir},
        {{"-wav", "a", "-vbr", "4"}, 255, {}, {}, 643, kMissingInputFile}, // switch after a parameter
    };
    for (const auto& c : cases) check(c);
}

TEST(CommandLine, PlayWinsWherever) {
    const std::vector<Case> cases = {
        {{"-bitrate", "128", "-play"}, 255, {"Play a sound file\n"}, {"Bitrate"}, 311, kMissingInputFile},
        {{"-play", "-x"}, 255, {"Play a sound file\n"}, {}, 316, unknown("-x")},
        {{"-PLAY", "-X"}, 255, {"Play a sound file\n"}, {}, 316, unknown("-x")},
        {{"-vbr", "99", "-play", "-ver"}, 255, {"Play a sound file\n"}, {"VBR", "LAME"}, 316, unknown("-ver")},
    };
    for (const auto& c : cases) check(c);
}

TEST(CommandLine, SwitchConditions) {
    const std::vector<Case> cases = {
        {{"-rem", "-wav", "a"}, 255, {}, {"Delete WAV"}, 570, unknown("-rem")},
        {{"-wav", "-batch", "a"}, 255, {"Convert a regular WAV file\n"}, {"Batch process enabled"}, 570, unknown("-batch")},
        {{"-noclick", "5"}, 255, {}, {}, 570, unknown("-noclick")},
        {{"-Unknown", "5"}, 255, {}, {}, 570, unknown("-unknown")},
        {{"-5"}, 255, {}, {}, 570, unknown("-5")},
    };
    for (const auto& c : cases) check(c);
}

TEST(CommandLine, SampleRateModeAndBitRateLines) {
    const std::vector<Case> cases = {
        {{"-SRATE", "22050", "-BitRate", "192", "-numbar", "5", "-6", "7"}, 255,
         {"Sample rate = 22050Hz (MPEG-2/MPEG-2.5)\n",
          "Bitrate = 160kbps (adjusted to fit MPEG-2/MPEG-2.5 compliance)\n",
          "Display a digital progress bar\n"}, {}, 583, kMissingSilence},
        {{"-bitrate", "192", "-srate", "22050", "-vbr", "3", "-mode", "JStereo", "-lips", "5", "6", "7"}, 255,
         {"Bitrate = 192kbps (MPEG-1)\n", "Sample rate = 22050Hz (MPEG-2/MPEG-2.5)\n",
          "VBR efficiency = 3\n", "Mode = joint stereo\n", "Generate a VLP file\n"}, {}, 583, kMissingSilence},
        {{"-bitrate", "100", "-brate", "8", "-samplerate", "44000", "-brate", "144", "-srate", "8000", "-brate", "320", "1", "2", "3"}, 255,
         {"Bitrate = 64kbps (MPEG-1)\n", "Bitrate = 32kbps (adjusted to fit MPEG-1 compliance)\n",
          "Sample rate = 44100Hz (MPEG-1)\n", "Bitrate = 160kbps (adjusted to fit MPEG-1 compliance)\n",
          "Sample rate = 8000Hz (MPEG-2/MPEG-2.5)\n",
          "Bitrate = 64kbps (adjusted to fit MPEG-2/MPEG-2.5 compliance)\n"}, {}, 583, kMissingSilence},
        {{"-srate", "-mode", "stereo", "-mode", "dual", "-mode", "mono", "-mode", "other", "-mode", "-brate", "-vlp", "1", "2", "3"}, 255,
         {"Sample rate = 44100Hz (MPEG-1)\nMode = stereo\nMode = dual channel\nMode = mono\nMode = mono\nMode = mono\n"
          "Bitrate = 64kbps (MPEG-1)\nGenerate a VLP file\n"}, {}, 583, kMissingSilence},
        // 65536 + 128 keeps 128 in the low 16 bits of the 16-bit setting.
        {{"-brate", "65664", "1", "2", "3"}, 255, {"Bitrate = 128kbps (MPEG-1)\n"}, {}, 583, kMissingSilence},
    };
    for (const auto& c : cases) check(c);
}

TEST(CommandLine, MissingAndWrongValues) {
    const std::vector<Case> cases = {
        {{"-srate"}, 255, {}, {}, 377, "Missing argument after '-srate'"},
        {{"-SampleRate"}, 255, {}, {}, 377, "Missing argument after '-samplerate'"},
        {{"-mode"}, 255, {}, {}, 411, "Missing argument after '-mode'"},
        {{"-bitrate"}, 255, {}, {}, 456, "Missing argument after '-bitrate'"},
        {{"-vbr"}, 255, {}, {}, 530, "Missing argument after '-vbr'"},
        {{"-vbr", "-1", "5"}, 255, {}, {}, 530, "Missing argument after '-vbr'"},
        {{"-vbr", "10", "5"}, 255, {}, {}, 536,
         "Wrong argument after '-vbr'. It must be a value comprised between 0 and 9."},
        {{"-vbr", "x", "1", "2", "3"}, 255, {"VBR efficiency = 0\n"}, {}, 583, kMissingSilence},
    };
    for (const auto& c : cases) check(c);
}

TEST(CommandLine, InformationBoxes) {
    TempDir cwd;
    RunOptions options;
    options.cwd = cwd.path();
    const RunResult help = run(bin("tarvik"), {"-wav", "-Help", "5"}, options);
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("Convert a regular WAV file\nDisplay help panel\ntarvik 1.1b\n\nUsage:    tarvik "),
              std::string::npos) << help.out;
    EXPECT_NE(help.out.find("the lipsync tool"), std::string::npos); // the tool we ship
    for (const std::string sw : {"-h", "-?"}) {
        const RunResult r = run(bin("tarvik"), {sw}, options);
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_NE(r.out.find("Display help panel\ntarvik 1.1b\n"), std::string::npos);
    }

    const RunResult ver = run(bin("tarvik"), {"-VER"}, options);
    EXPECT_EQ(ver.exit_status, 0);
    EXPECT_NE(ver.out.find("Display info about 3rd-party libraries\ntarvik 1.1b\n\n---- LAME Ain't an MP3 Encoder ----\n"
                           "| DLL version:            1.32\n| Engine version:       3.100\n| Home page: "),
              std::string::npos)
        << ver.out;
    EXPECT_NE(ver.out.find("\n---- Libsndfile ----\n| Version tag:            libsndfile-1."), std::string::npos);
    EXPECT_NE(ver.out.find("\n---- SDL2 ----\n| Version tag:            "), std::string::npos);
    EXPECT_TRUE(ver.err.empty());
}

TEST(CommandLine, OutputDirectoryWithQuoteIsRefusedAsFailure) {
    // A quoted directory name ending in a separator reaches the program with a quote inside.
    check({{"-batch", "in", "out\""}, 255, {"Input directory = \"in\"\n"}, {}, 621, kCrash});
}

TEST(CommandLine, HostileArgumentsAreShownLiterally) {
    const std::string longarg = "-" + std::string(5000, 'q');
    const std::string hostile = "-%s%n%x\"'\n;|$(rm -rf x)";
    const std::vector<Case> cases = {
        {{longarg}, 255, {}, {}, 570, unknown(longarg)},
        {{hostile}, 255, {}, {}, 570, unknown(hostile)},
        {{"-mode", std::string(5000, 'm') + "%n", "1", "2", "3"}, 255, {"Mode = mono\n"}, {}, 583, kMissingSilence},
        {{"-srate", "%s%s%s", "1", "2", "3"}, 255, {"Sample rate = 44100Hz (MPEG-1)\n"}, {}, 583, kMissingSilence},
    };
    for (const auto& c : cases) check(c);
}

// The library is found by name beside the executable; a missing one, or one that lacks an
// entry point (even one never called), stops every run before any switch is read.
TEST(CommandLine, EncoderLibraryMustBeComplete) {
    namespace fs = std::filesystem;
    const std::string load_error =
        error_box(256, "\nmain() failed on load_lame(). File not found: \"lame_enc.so\"");
    for (const bool partial : {false, true}) {
        TempDir dir;
        fs::copy_file(bin("tarvik"), dir / "tarvik");
        if (partial) fs::copy_file(std::string(TARVIK_TEST_BIN_DIR) + "/lame_enc_partial.so", dir / "lame_enc.so");
        RunOptions options;
        options.cwd = dir.path();
        options.env["LD_LIBRARY_PATH"] = "";
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"-help"}, {"-play", "x"}, {"5"}}) {
            const RunResult r = run(dir / "tarvik", args, options);
            EXPECT_EQ(r.exit_status, 255) << partial;
            EXPECT_EQ(r.err, load_error);
            EXPECT_EQ(r.out.find("checking switch"), std::string::npos) << "only the banner: " << r.out;
        }
    }
}

// tarvik -lips with stand-in tools beside a private copy of the program: a missing tool, one
// that writes nothing, one that writes an empty VLP, and the real lipsync.
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

enum class Tool { Missing, WritesNothing, WritesEmpty, Real };

// A program directory holding tarvik, the encoder library and the chosen tool.
void make_program_dir(const std::string& dir, Tool tool) {
    fs::create_directories(dir);
    fs::copy_file(bin("tarvik"), dir + "/tarvik");
    fs::copy_file(bin("lame_enc.so"), dir + "/lame_enc.so");
    std::string script;
    switch (tool) {
    case Tool::Missing: return;
    case Tool::Real: fs::copy_file(bin("lipsync"), dir + "/lipsync"); return;
    case Tool::WritesNothing: script = "#!/bin/sh\necho stand-in tool ran on \"$1\"\nexit 0\n"; break;
    case Tool::WritesEmpty: script = "#!/bin/sh\n: > \"${1%.*}.vlp\"\n"; break;
    }
    ASSERT_TRUE(write_file(dir + "/lipsync", script));
    chmod((dir + "/lipsync").c_str(), 0755);
}

std::string vlp_box(int line, const std::string& mp3) {
    return "tarvik 1.1b - [called from \"tarvik\", line " + std::to_string(line) +
           "]\n************ ERROR ************\nCannot generate a VLP file for \"" + mp3 +
           "\"\nMake sure Ritual's Lipsync tool stands in the same directory as tarvik\n";
}

RunResult run_in(const std::string& program, const std::string& cwd, const std::vector<std::string>& args) {
    RunOptions o;
    o.cwd = cwd;
    return run(program, args, o);
}

} // namespace

TEST(VlpGeneration, SilenceRunWithEachTool) {
    struct Case {
        Tool tool;
        bool vlp_made;
        std::string printed; // after "Space saved"
    };
    const std::vector<Case> cases = {
        {Tool::Missing, false, ""},
        {Tool::WritesNothing, false, "Generating VLP file...\nstand-in tool ran on"},
        {Tool::WritesEmpty, false, "Generating VLP file...\n\n-Failure\n"},
        {Tool::Real, true, "Generating VLP file...\n"}, // then the tool's own line, then "-Success"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.tool));
        TempDir t;
        make_program_dir(t / "prog", c.tool);
        fs::create_directories(t / "work");
        // Started from another working directory, with the MP3 going to a third place.
        const RunResult r = run_in(t / "prog/tarvik", t / "work", {"-lips", "5", t / "sounds"});
        EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
        EXPECT_TRUE(exists(t / "sounds/5_sec.mp3"));
        const size_t saved = r.out.find("Space saved: ");
        ASSERT_NE(saved, std::string::npos);
        const std::string after = r.out.substr(r.out.find('\n', saved) + 1);
        EXPECT_EQ(after.rfind(c.printed, 0), 0u) << after;
        if (c.vlp_made) {
            EXPECT_TRUE(r.err.empty()) << r.err;
            EXPECT_NE(after.find("\n-Success\n"), std::string::npos);
            EXPECT_GT(file_size(t / "sounds/5_sec.vlp"), 0);
        } else {
            EXPECT_EQ(r.err, vlp_box(761, t.path() + "/sounds/5_sec.mp3"));
            EXPECT_FALSE(exists(t / "sounds/5_sec.vlp"));
        }
        // Nothing temporary is left beside the program: no WAV, no VLP.
        std::vector<std::string> expected{"lame_enc.so", "tarvik"};
        if (c.tool != Tool::Missing) expected.insert(expected.begin() + 1, "lipsync");
        EXPECT_EQ(list_dir(t / "prog"), expected);
        EXPECT_EQ(list_dir(t / "sounds").size(), c.vlp_made ? 2u : 1u);
    }
}

TEST(VlpGeneration, SingleFileVlpFollowsTheMp3) {
    TempDir t;
    make_program_dir(t / "prog", Tool::Real);
    fs::create_directories(t / "takes");
    WavSpec tone;
    tone.seconds = 1.2;
    ASSERT_TRUE(write_wav(t / "takes/take.01.wav", tone));
    const RunResult r = run_in(t / "prog/tarvik", t.path(), {"-wav", "-lips", "takes/take.01", "out"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(list_dir(t / "out"), (std::vector<std::string>{"take.01.mp3", "take.01.vlp"}));
    EXPECT_EQ(list_dir(t / "takes"), std::vector<std::string>{"take.01.wav"}); // moved, not copied

    // The same directory under another name (here a link differing in case): nothing moves.
    fs::create_directory_symlink(t / "takes", t / "TAKES");
    const RunResult same = run_in(t / "prog/tarvik", t.path(), {"-wav", "-lips", "takes/take.01", "TAKES"});
    EXPECT_EQ(same.exit_status, 0);
    EXPECT_EQ(list_dir(t / "takes"), (std::vector<std::string>{"take.01.mp3", "take.01.vlp", "take.01.wav"}));
}

TEST(VlpGeneration, RemoveStillDeletesTheWavWhenTheVlpFails) {
    TempDir t;
    make_program_dir(t / "prog", Tool::WritesEmpty);
    WavSpec tone;
    ASSERT_TRUE(write_wav(t / "line.wav", tone));
    const RunResult r = run_in(t / "prog/tarvik", t.path(), {"-wav", "-lips", "-rem", "line"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, vlp_box(777, t.path() + "/line.mp3"));
    EXPECT_NE(r.out.find("Input file deleted: \"" + t.path() + "/line.wav\"\n"), std::string::npos);
    EXPECT_EQ(list_dir(t.path()), (std::vector<std::string>{"line.mp3", "prog"}));
}

TEST(VlpGeneration, BatchWithTheRealTool) {
    TempDir t;
    make_program_dir(t / "prog", Tool::Real);
    fs::create_directories(t / "in");
    WavSpec tone;
    tone.seconds = 1;
    ASSERT_TRUE(write_wav(t / "in/a.wav", tone));
    tone.channels = 2;
    ASSERT_TRUE(write_wav(t / "in/b.wav", tone));
    const RunResult r = run_in(t / "prog/tarvik", t.path(), {"-batch", "-vlp", "in", "out"});
    EXPECT_EQ(r.exit_status, 0) << r.out;
    EXPECT_NE(r.out.find("| 2/2 MP3 files encoded\n| 2/2 VLP files generated\n"), std::string::npos);
    EXPECT_EQ(list_dir(t / "out"), (std::vector<std::string>{"a.mp3", "a.vlp", "b.mp3", "b.vlp"}));
    EXPECT_EQ(list_dir(t / "in"), (std::vector<std::string>{"a.wav", "b.wav"}));
}

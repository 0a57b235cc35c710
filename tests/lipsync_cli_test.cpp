// SPDX-License-Identifier: GPL-3.0-or-later
// The lipsync program end to end: where the VLP goes (beside the sound or -o), stop signals,
// sound formats, the text forms and picture agreeing with the file, bad input and output, the
// command line.
#include "common/version.hpp"
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvik::lipsync {
namespace {

using namespace tarvik::test;

class LipsyncCli : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string lipsync = bin("lipsync");
};

TEST_F(LipsyncCli, AStopSignalLeavesNoTemporaryFileAndExits128PlusTheSignal) {
    // The preloaded library stalls fsync, so lipsync is caught with its temporary file.
    ASSERT_TRUE(write_wav(dir / "line.wav", WavSpec{.seconds = 0.5}));
    ASSERT_TRUE(write_file(dir / "old.vlp", "earlier"));
    const auto start = [&] { // once its temporary file is there
        const int pid =
            start_program("/usr/bin/env", {std::string("LD_PRELOAD=") + STALL_FSYNC,
                                           "ASAN_OPTIONS=verify_asan_link_order=0", lipsync, "-o",
                                           dir / "old.vlp", dir / "line.wav"});
        EXPECT_TRUE(wait_until([&] { return list_dir(dir.path()).size() == 3; }, 30));
        return pid;
    };
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const int pid = start();
        kill(pid, sig);
        const int status = wait_program(pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << status;
        EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"line.wav", "old.vlp"}));
        EXPECT_EQ(read_file(dir / "old.vlp"), "earlier");
    }
    // A signal that the caller ignores (nohup) does not stop it.
    signal(SIGHUP, SIG_IGN);
    const int pid = start();
    signal(SIGHUP, SIG_DFL);
    kill(pid, SIGHUP);
    usleep(300000);
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "ended by an ignored SIGHUP";
    kill(pid, SIGTERM);
    wait_program(pid);
}

// -o (or --output) writes only there, quietly with -q; else the VLP goes beside the sound.
TEST_F(LipsyncCli, NamesTheVlpAfterTheSoundOrAsOSaysAndReadsAnyFormat) {
    for (const char* sub : {"voice.lines", "out"})
        ASSERT_EQ(mkdir((dir / sub).c_str(), 0755), 0);
    const std::string longest(250, 'n'); // the temporary name beside it must fit too
    const struct {
        std::string sound, vlp;
        int rate, channels, format;
    } cases[] = {
        {"take.01.wav", "take.01.vlp", 8000, 1, 0},
        {"voice.lines/take", "voice.lines/take.vlp", 11025, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_U8},
        {"LOUD.WAV", "LOUD.vlp", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"-dash.wav", "-dash.vlp", 48000, 6, SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {"two words.aiff", "two words.vlp", 22050, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {longest + ".flac", longest + ".vlp", 16000, 1, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sound);
        ASSERT_TRUE(write_wav(dir / c.sound, {c.rate, c.channels, 1.234, c.format}));
        const RunResult q = run(lipsync, {"-q", "--output", dir / "out/fresh.vlp", dir / c.sound});
        EXPECT_EQ(q.exit_status + q.out.size(), 0u) << q.err << q.out;
        const auto fresh = read_vlp_file(dir / "out/fresh.vlp").track;
        EXPECT_FALSE(exists(dir / c.vlp));
        const RunResult r = tarvik_in(dir.path(), {"--", c.sound}, lipsync);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        const VlpReadResult read = read_vlp_file(dir / c.vlp);
        ASSERT_TRUE(read.track) << read.error;
        EXPECT_EQ(read.track, fresh);
        EXPECT_EQ(read.track->sample_rate, uint32_t(c.rate));
        EXPECT_EQ(read.track->sample_frames, uint64_t(std::llround(1.234 * c.rate)));
        EXPECT_EQ(read.track->frame_count, 123u);
        EXPECT_EQ(std::filesystem::status(dir / c.vlp).permissions() & std::filesystem::perms(044),
                  std::filesystem::perms(044))
            << "readable like any new file";
        const size_t cues = read.track->cues.size();
        EXPECT_EQ(r.out, "Wrote \"" + c.vlp + "\": " + std::to_string(cues) + " cue" +
                             (cues == 1 ? "" : "s") + " over 1.23 s\n");
        for (const std::string& made : {dir / c.sound, dir / c.vlp, dir / "out/fresh.vlp"})
            std::remove(made.c_str());
    }
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"out", "voice.lines"}));
}

// Each text form, from the VLP file as from the sound, shows the file's cues (the TSV ends
// with an X line only after speech).
TEST_F(LipsyncCli, TextFormsAgreeWithTheFile) {
    ASSERT_EQ(
        run("/usr/bin/espeak-ng", {"-w", dir / "talk.wav", "Peter picked a peck"}).exit_status, 0);
    ASSERT_EQ(run(lipsync, {"-q", dir / "talk.wav"}).exit_status, 0);
    const auto track = read_vlp_file(dir / "talk.vlp").track;
    ASSERT_TRUE(track);
    const int cues = int(track->cues.size());
    const RunResult dump = run(lipsync, {"--dump", dir / "talk.vlp"});
    EXPECT_TRUE(contains(dump.out, "cues: " + std::to_string(cues) + "\n"));
    EXPECT_EQ(count_occurrences(dump.out, "\n"), 7 + cues);
    const std::string tsv = run(lipsync, {"--format", "tsv", dir / "talk.vlp"}).out;
    EXPECT_EQ(count_occurrences(tsv, "\n"), cues + (track->cues.back().shape == Shape::X ? 0 : 1));
    for (const std::string& input : {dir / "talk.vlp", dir / "talk.wav"}) {
        EXPECT_EQ(run(lipsync, {"--format", "tsv", input}).out, tsv) << input;
        const RunResult json = run(lipsync, {"--format=json", input});
        EXPECT_EQ(count_occurrences(json.out, "\"value\""), cues) << input;
        EXPECT_TRUE(contains(json.out, "\"soundFile\": \"" + input + "\""));
        // The picture: 200 px a second after the lane letters, a lane per shape, a bar per cue,
        // the waveform only from the sound.
        const std::string svg = run(lipsync, {"--format", "svg", input}).out;
        EXPECT_TRUE(contains(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                                      std::to_string(28 + 2 * track->frame_count + 8) + "\""));
        EXPECT_EQ(count_occurrences(svg, "<rect class=\"cue\""), cues);
        EXPECT_EQ(count_occurrences(svg, "<text class=\"lane\""), 9);
        const size_t wave = svg.find("class=\"wave\"");
        EXPECT_EQ(svg.find("M", wave) < svg.find("/>", wave), input == dir / "talk.wav");
    }
    const RunResult frames = run(lipsync, {"--format", "frames", dir / "talk.wav"});
    EXPECT_TRUE(frames.out.starts_with("time\tshape\topening\tlevel\t"));
    EXPECT_EQ(count_occurrences(frames.out, "\n"), 1 + int(track->frame_count));
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"talk.vlp", "talk.wav"}));
}

TEST_F(LipsyncCli, BadInputAndOutputGiveOneLineAndNoFile) {
    ASSERT_TRUE(write_file(dir / "text.wav", "This is a text file with a sound file's name.\n"));
    ASSERT_TRUE(write_wav(dir / "empty.wav", WavSpec{.seconds = 0}));
    ASSERT_EQ(mkdir((dir / "folder.wav").c_str(), 0755), 0);
    ASSERT_TRUE(write_wav(dir / "audio.vlp", WavSpec{.seconds = 0.5}));
    ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0644), 0); // nobody ever writes to it
    ASSERT_TRUE(write_wav(dir / "ok.wav", WavSpec{.seconds = 0.5}));
    ASSERT_TRUE(write_file(dir / "xx.txt", "#lang: xx\nwords\n"));
    const std::string audio_vlp = read_file(dir / "audio.vlp");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string reason;
    } cases[] = {
        {{dir / "missing.wav"}, 1, "no such file"},
        {{"--format", "json", dir / "text.wav"}, 1, "not a sound file"},
        {{dir / "empty.wav"}, 1, "contains no audio"},
        {{dir / "folder.wav"}, 1, "is a directory"},
        {{dir / "audio.vlp"}, 1, "would replace the input"},
        {{"-o", dir / "ok.wav", dir / "ok.wav"}, 1, "would replace the input"},
        {{dir / "fifo.wav"}, 1, "is not a regular file"},
        {{"--text", dir / "none.txt", dir / "ok.wav"}, 1, "cannot use the text: no such file"},
        {{"--text", dir / "xx.txt", dir / "ok.wav"}, 1, "cannot use the text: unknown language"},
        {{"--dump", dir / "ok.wav"}, 1, "not a valid VLP file"},
        {{"-o", dir / "folder.wav", dir / "ok.wav"}, 3, "cannot write the VLP file"},
    };
    const std::vector<std::string> before = list_dir(dir.path());
    for (const Case& c : cases) {
        const RunResult r = run(lipsync, c.args, {.timeout_seconds = 20});
        EXPECT_EQ(r.exit_status, c.status) << c.reason;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count_occurrences(r.err, "\n"), 1) << r.err;
        EXPECT_EQ(r.err.rfind("lipsync: \"", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path()), before) << "no VLP, no temporary file";
    }
    EXPECT_TRUE(list_dir(dir / "folder.wav").empty());
    EXPECT_EQ(read_file(dir / "audio.vlp"), audio_vlp);
}

TEST_F(LipsyncCli, WrongCommandLinesGiveExitTwoAndHelpExplains) {
    ASSERT_TRUE(write_wav(dir / "a.wav", WavSpec{.seconds = 0.3}));
    // clang-format off
    const std::vector<std::string> cases[] = {
        {}, {"--frobnicate", dir / "a.wav"}, {"--format", "xml", dir / "a.wav"}, {"--format"},
        {dir / "a.wav", dir / "a.wav"}, {"--dump", "--format", "json", dir / "a.wav"}, {"-o"},
        {"-o", dir / "x.vlp", "--format", "tsv", dir / "a.wav"}, {"--text"},
        {"--text-string", "a", "--text", "b", dir / "a.wav"}};
    // clang-format on
    for (const auto& args : cases) {
        const RunResult r = run(lipsync, args);
        EXPECT_EQ(r.exit_status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(count_occurrences(r.err, "\n"), 1) << r.err;
        EXPECT_NE(r.err.find("lipsync --help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"a.wav"});
    const RunResult help = run(lipsync, {"--help"}), version = run(lipsync, {"--version"});
    EXPECT_EQ(help.exit_status + version.exit_status, 0);
    EXPECT_EQ(version.out, "lipsync " TARVIK_VERSION " (VLP version 1)\n");
    for (const char* text : {"-o FILE.vlp SOUND", "--text FILE", "--fast", "--format svg",
                             "take.01.wav gives take.01.vlp", "Exit status:"})
        EXPECT_TRUE(contains(help.out, text));
}

// The language comes from --language or, over it, from the text's first line "#lang: LANG",
// which is not part of the words; eSpeak NG's languages are listed, and an unknown one is a
// wrong command line.
TEST_F(LipsyncCli, TheLanguageIsNamedOnTheCommandLineOrInTheText) {
    const std::string words = "Bitte bring mir meinen Mantel mit.";
    ASSERT_EQ(run("/usr/bin/espeak-ng", {"-v", "de", "-w", dir / "de.wav", words}).exit_status, 0);
    ASSERT_TRUE(write_file(dir / "de.txt", "#lang: de\n" + words + "\n"));
    const RunResult named =
        run(lipsync, {"--format", "tsv", "--text", dir / "de.txt", dir / "de.wav"});
    const RunResult given =
        run(lipsync, {"--format", "tsv", "--language=de", "--text-string", words, dir / "de.wav"});
    EXPECT_EQ(named.err + given.err, "");
    EXPECT_EQ(named.out, given.out);
    EXPECT_EQ(run(lipsync, {"--format", "tsv", "--language", "en-us", "--text", dir / "de.txt",
                            dir / "de.wav"})
                  .out,
              given.out);

    const RunResult list = run(lipsync, {"--language", "list"});
    EXPECT_EQ(list.exit_status, 0);
    for (const char* line : {"\nde\tGerman\n", "\nru\tRussian\n", "\nyue\tChinese (Cantonese)\n"})
        EXPECT_TRUE(contains(list.out, line)) << line;
    const RunResult unknown = run(lipsync, {"--language", "xx", dir / "de.wav"});
    EXPECT_EQ(unknown.exit_status, 2);
    EXPECT_EQ(unknown.err,
              "lipsync: unknown language \"xx\" (lipsync --language list shows them)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "de.vlp"));
}

} // namespace
} // namespace tarvik::lipsync

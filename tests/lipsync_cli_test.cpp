// The lipsync program end to end: the VLP beside the sound, its name, sound formats, the
// text forms agreeing with the file, bad input and output, and the command line.
#include "lipsync/vlp.hpp"
#include "tests/support/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <sndfile.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace tarvik::lipsync {
namespace {

using namespace tarvik::test;

std::string lipsync() {
    return bin("lipsync");
}

std::string program(const std::string& name) {
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
        if (access((dir + name).c_str(), X_OK) == 0) return dir + name;
    return name;
}

// Speech from espeak-ng: a phrase, a pause and another phrase.
bool speak(const std::string& path, const std::string& text) {
    return run(program("espeak-ng"), {"-w", path, text}).exit_status == 0;
}

struct CueText {
    std::string start; // seconds, two decimals
    char shape;
    bool operator==(const CueText&) const = default;
};

void PrintTo(const CueText& c, std::ostream* os) {
    *os << c.start << ' ' << c.shape;
}

std::vector<CueText> cues_of(const LipSyncTrack& t) {
    std::vector<CueText> out;
    for (const Cue& c : t.cues) {
        char start[32];
        std::snprintf(start, sizeof start, "%u.%02u", c.start / 100, c.start % 100);
        out.push_back({start, shape_letter(c.shape)});
    }
    return out;
}

std::vector<CueText> parse_tsv(const std::string& text) {
    std::vector<CueText> out;
    std::istringstream in(text);
    std::string start, shape;
    while (std::getline(in, start, '\t') && std::getline(in, shape))
        out.push_back({start, shape.size() == 1 ? shape[0] : '?'});
    return out;
}

// The values of `"key": value` pairs in order of appearance (strings without quotes).
std::vector<std::string> json_values(const std::string& json, const std::string& key) {
    std::vector<std::string> out;
    const std::string marker = "\"" + key + "\": ";
    for (size_t pos = json.find(marker); pos != std::string::npos;
         pos = json.find(marker, pos + 1)) {
        size_t begin = pos + marker.size();
        size_t end;
        if (json[begin] == '"') {
            end = json.find('"', ++begin);
        } else {
            end = json.find_first_of(",\n }", begin);
        }
        out.push_back(json.substr(begin, end - begin));
    }
    return out;
}

class LipsyncCli : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(LipsyncCli, WritesTheVlpBesideTheSound) {
    const std::string wav = dir / "line.wav";
    ASSERT_TRUE(speak(wav, "Hello there. How are you today?"));
    const RunResult r = run(lipsync(), {wav});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const VlpReadResult read = read_vlp_file(dir / "line.vlp");
    ASSERT_TRUE(read.track) << read.error;
    const LipSyncTrack& t = *read.track;
    EXPECT_EQ(r.out, "Wrote \"" + (dir / "line.vlp") + "\": " + std::to_string(t.cues.size()) +
                         " cues over " + std::to_string(t.frame_count / 100) + "." +
                         (t.frame_count % 100 < 10 ? "0" : "") +
                         std::to_string(t.frame_count % 100) + " s\n");
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"line.vlp", "line.wav"}));

    const auto info = audio_info(wav);
    ASSERT_TRUE(info);
    EXPECT_EQ(t.sample_rate, uint32_t(info->sample_rate));
    EXPECT_EQ(t.sample_frames, uint64_t(info->frames));
    EXPECT_EQ(t.frame_rate, 100);
    EXPECT_EQ(t.frame_count, uint32_t(std::lround(info->frames * 100.0 / info->sample_rate)));
    EXPECT_GT(t.cues.size(), 5u) << "speech gives more than a few cues";
    EXPECT_EQ(t.cues.front().start, 0u);

    // Quiet mode prints nothing, and a second run replaces the first file.
    ASSERT_TRUE(write_file(dir / "line.vlp", "stale"));
    const RunResult quiet = run(lipsync(), {"-q", wav});
    EXPECT_EQ(quiet.exit_status, 0);
    EXPECT_EQ(quiet.out, "");
    EXPECT_EQ(read_vlp_file(dir / "line.vlp").track, read.track);
}

TEST_F(LipsyncCli, OutputOptionNamesTheVlpAndAStopLeavesNoFile) {
    ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
    ASSERT_TRUE(write_wav(dir / "line.wav", WavSpec{.seconds = 0.5}));
    for (const std::string& o : {std::string("-o"), std::string("--output")}) {
        const RunResult r = run(lipsync(), {"-q", o, dir / "out/fresh.vlp", dir / "line.wav"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(read_vlp_file(dir / "out/fresh.vlp").track);
    }
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"line.wav", "out"}));

    // Stopped while the temporary file exists (its fsync never returns): the temporary file
    // goes, the earlier VLP stays as it was, and the exit status is 128 + the signal.
    const std::string before = read_file(dir / "out/fresh.vlp");
    std::string preload = std::string("LD_PRELOAD=") + STALL_FSYNC;
    char* const envp[] = {preload.data(),
                          const_cast<char*>("ASAN_OPTIONS=verify_asan_link_order=0"), nullptr};
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const std::string tool = lipsync(), target = dir / "out/fresh.vlp", wav = dir / "line.wav";
        char* const argv[] = {const_cast<char*>(tool.c_str()), const_cast<char*>("-o"),
                              const_cast<char*>(target.c_str()), const_cast<char*>(wav.c_str()),
                              nullptr};
        pid_t pid;
        ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, envp), 0);
        for (int i = 0; i < 1000 && list_dir(dir / "out").size() < 2; ++i)
            usleep(10000);
        EXPECT_EQ(list_dir(dir / "out").size(), 2u) << "the temporary file appears";
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + sig) << status;
        EXPECT_EQ(list_dir(dir / "out"), std::vector<std::string>{"fresh.vlp"});
        EXPECT_EQ(read_file(dir / "out/fresh.vlp"), before);
    }
}

TEST_F(LipsyncCli, NamesTheVlpAfterTheSoundCutAtTheLastDotOfItsName) {
    ASSERT_EQ(mkdir((dir / "voice.lines").c_str(), 0755), 0);
    struct Case {
        std::vector<std::string> args; // run in dir
        std::string sound;
        std::string vlp;
    } cases[] = {
        {{"take.01.wav"}, "take.01.wav", "take.01.vlp"},
        {{"voice.lines/take"}, "voice.lines/take", "voice.lines/take.vlp"},
        {{"LOUD.WAV"}, "LOUD.WAV", "LOUD.vlp"},
        {{"two words.wav"}, "two words.wav", "two words.vlp"},
        {{"--", "-dash.wav"}, "-dash.wav", "-dash.vlp"},
        {{dir / "voice.lines/abs.wav"}, "voice.lines/abs.wav", "voice.lines/abs.vlp"},
        // A name as long as the system allows: the temporary file beside it must fit too.
        {{std::string(251, 'n') + ".wav"},
         std::string(251, 'n') + ".wav",
         std::string(251, 'n') + ".vlp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sound);
        ASSERT_TRUE(write_wav(dir / c.sound, WavSpec{.seconds = 0.5}));
        RunOptions in_dir;
        in_dir.cwd = dir.path();
        const RunResult r = run(lipsync(), c.args, in_dir);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(read_vlp_file(dir / c.vlp).track);
        std::remove((dir / c.sound).c_str());
        std::remove((dir / c.vlp).c_str());
    }
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"voice.lines"});
    EXPECT_TRUE(list_dir(dir / "voice.lines").empty());
}

TEST_F(LipsyncCli, ReadsAnyRateChannelCountAndSampleFormat) {
    struct Case {
        const char* name;
        WavSpec tone;
    } cases[] = {
        {"8k.wav", {.sample_rate = 8000, .channels = 1}},
        {"44k-stereo-24.wav",
         {.sample_rate = 44100, .channels = 2, .format = SF_FORMAT_WAV | SF_FORMAT_PCM_24}},
        {"48k-6ch-float.wav",
         {.sample_rate = 48000, .channels = 6, .format = SF_FORMAT_WAV | SF_FORMAT_FLOAT}},
        {"96k-32.wav",
         {.sample_rate = 96000, .channels = 1, .format = SF_FORMAT_WAV | SF_FORMAT_PCM_32}},
        {"11k-u8.wav",
         {.sample_rate = 11025, .channels = 1, .format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8}},
        {"22k-stereo.aiff",
         {.sample_rate = 22050, .channels = 2, .format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16}},
        {"16k.flac",
         {.sample_rate = 16000, .channels = 1, .format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WavSpec tone = c.tone;
        tone.seconds = 1.234;
        const std::string path = dir / c.name;
        ASSERT_TRUE(write_wav(path, tone));
        const RunResult r = run(lipsync(), {"-q", path});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        std::string vlp = path.substr(0, path.rfind('.')) + ".vlp";
        const VlpReadResult read = read_vlp_file(vlp);
        ASSERT_TRUE(read.track) << read.error;
        EXPECT_EQ(read.track->sample_rate, uint32_t(tone.sample_rate));
        EXPECT_EQ(read.track->sample_frames, uint64_t(std::llround(1.234 * tone.sample_rate)));
        EXPECT_EQ(read.track->frame_count, 123u);
    }
}

TEST_F(LipsyncCli, DumpTsvAndJsonAgreeWithTheFile) {
    const std::string wav = dir / "talk.wav";
    ASSERT_TRUE(speak(dir / "a.wav", "Peter picked a peck of peppers"));
    ASSERT_TRUE(speak(dir / "b.wav", "and then he went home"));
    ASSERT_EQ(run(program("sox"), {dir / "a.wav", dir / "b.wav", wav}).exit_status, 0);
    ASSERT_EQ(run(lipsync(), {"-q", wav}).exit_status, 0);
    const VlpReadResult read = read_vlp_file(dir / "talk.vlp");
    ASSERT_TRUE(read.track) << read.error;
    const LipSyncTrack& t = *read.track;
    const std::vector<CueText> expected = cues_of(t);
    char length[32];
    std::snprintf(length, sizeof length, "%u.%02u", t.frame_count / 100, t.frame_count % 100);

    // --dump: a header, then start, end, shape and opening per cue.
    const RunResult dump = run(lipsync(), {"--dump", dir / "talk.vlp"});
    ASSERT_EQ(dump.exit_status, 0) << dump.err;
    const std::string heading = "start\tend\tshape\topening\n";
    const size_t table = dump.out.find(heading);
    ASSERT_NE(table, std::string::npos) << dump.out;
    std::istringstream rows(dump.out.substr(table + heading.size()));
    std::vector<CueText> dumped;
    std::vector<std::string> ends;
    std::string start, end, shape, opening;
    while (std::getline(rows, start, '\t') && std::getline(rows, end, '\t') &&
           std::getline(rows, shape, '\t') && std::getline(rows, opening)) {
        dumped.push_back({start, shape[0]});
        ends.push_back(end);
    }
    EXPECT_EQ(dumped, expected);
    ASSERT_FALSE(ends.empty());
    EXPECT_EQ(ends.back(), length);

    // TSV: the same starts and shapes; a final X line only when the track ends in speech.
    const RunResult tsv = run(lipsync(), {"--format", "tsv", wav});
    ASSERT_EQ(tsv.exit_status, 0) << tsv.err;
    std::vector<CueText> tsv_cues = parse_tsv(tsv.out);
    if (t.cues.back().shape != Shape::X) {
        ASSERT_FALSE(tsv_cues.empty());
        EXPECT_EQ(tsv_cues.back(), (CueText{length, 'X'}));
        tsv_cues.pop_back();
    }
    EXPECT_EQ(tsv_cues, expected);

    // JSON: metadata, then cues whose ends are the next starts.
    const RunResult json = run(lipsync(), {"--format=json", wav});
    ASSERT_EQ(json.exit_status, 0) << json.err;
    EXPECT_EQ(json_values(json.out, "soundFile"), std::vector<std::string>{wav});
    EXPECT_EQ(json_values(json.out, "duration"), std::vector<std::string>{length});
    const auto starts = json_values(json.out, "start");
    const auto json_ends = json_values(json.out, "end");
    const auto values = json_values(json.out, "value");
    ASSERT_EQ(starts.size(), expected.size());
    ASSERT_EQ(values.size(), expected.size());
    ASSERT_EQ(json_ends.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ((CueText{starts[i], values[i].size() == 1 ? values[i][0] : '?'}), expected[i]);
        EXPECT_EQ(json_ends[i], i + 1 < expected.size() ? starts[i + 1] : std::string(length));
    }

    // Converting the VLP gives the same cues as analysing the sound.
    const RunResult converted = run(lipsync(), {"--format", "json", dir / "talk.vlp"});
    ASSERT_EQ(converted.exit_status, 0) << converted.err;
    EXPECT_EQ(converted.out.substr(converted.out.find("\"duration\"")),
              json.out.substr(json.out.find("\"duration\"")));
    EXPECT_EQ(run(lipsync(), {"--format", "tsv", dir / "talk.vlp"}).out, tsv.out);

    // The text forms write no file.
    EXPECT_EQ(list_dir(dir.path()),
              (std::vector<std::string>{"a.wav", "b.wav", "talk.vlp", "talk.wav"}));
}

TEST_F(LipsyncCli, PerFrameMeasurementsCoverTheWholeSound) {
    const std::string wav = dir / "tone.wav";
    ASSERT_TRUE(write_wav(wav, WavSpec{.sample_rate = 16000, .seconds = 0.75}));
    const RunResult r = run(lipsync(), {"--format", "frames", wav});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("time\tshape\topening\tlevel\t", 0), 0u);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + 75);
}

TEST_F(LipsyncCli, BadInputGivesOneLineAndNoVlp) {
    ASSERT_TRUE(write_file(dir / "text.wav", "This is a text file with a sound file's name.\n"));
    ASSERT_TRUE(write_wav(dir / "empty.wav", WavSpec{.seconds = 0}));
    ASSERT_EQ(mkdir((dir / "folder.wav").c_str(), 0755), 0);
    ASSERT_TRUE(write_wav(dir / "audio.vlp", WavSpec{.seconds = 0.5}));
    ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0644), 0); // nobody ever writes to it
    const std::string audio_vlp = read_file(dir / "audio.vlp");
    struct Case {
        std::string file;
        std::string reason;
    } cases[] = {
        {"missing.wav", "no such file"},          {"text.wav", "not a sound file"},
        {"empty.wav", "contains no audio"},       {"folder.wav", "is a directory"},
        {"audio.vlp", "would replace the input"}, {"fifo.wav", "is not a regular file"},
    };
    const std::vector<std::string> before = list_dir(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir / c.file;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{path}, {"--format", "json", path}}) {
            RunOptions in_time;
            in_time.timeout_seconds = 20;
            const RunResult r = run(lipsync(), args, in_time);
            EXPECT_EQ(r.exit_status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.err.rfind("lipsync: \"" + path + "\": ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
            if (args.size() == 1 && c.file == "audio.vlp") break;
        }
        EXPECT_EQ(list_dir(dir.path()), before) << "no VLP, no temporary file";
        EXPECT_TRUE(list_dir(dir / "folder.wav").empty());
    }
    EXPECT_EQ(read_file(dir / "audio.vlp"), audio_vlp);
}

TEST_F(LipsyncCli, UnreadableSoundIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    ASSERT_TRUE(write_wav(dir / "locked.wav", WavSpec{.seconds = 0.5}));
    chmod((dir / "locked.wav").c_str(), 0);
    const RunResult r = run(lipsync(), {dir / "locked.wav"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    EXPECT_FALSE(exists(dir / "locked.vlp"));
}

TEST_F(LipsyncCli, UnwritableVlpGivesExitThreeAndLeavesNothing) {
    ASSERT_TRUE(write_wav(dir / "line.wav", WavSpec{.seconds = 0.5}));
    ASSERT_EQ(mkdir((dir / "line.vlp").c_str(), 0755), 0); // a directory holds the name
    const RunResult r = run(lipsync(), {dir / "line.wav"});
    EXPECT_EQ(r.exit_status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("lipsync: \"" + (dir / "line.vlp") + "\": cannot write", 0), 0u) << r.err;
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"line.vlp", "line.wav"}));
    EXPECT_TRUE(list_dir(dir / "line.vlp").empty());
}

TEST_F(LipsyncCli, DumpRejectsWhatIsNotAVlp) {
    ASSERT_TRUE(write_wav(dir / "line.wav", WavSpec{.seconds = 0.5}));
    ASSERT_EQ(run(lipsync(), {"-q", dir / "line.wav"}).exit_status, 0);
    const std::string good = read_file(dir / "line.vlp");
    ASSERT_TRUE(write_file(dir / "cut.vlp", good.substr(0, good.size() - 3)));
    const std::pair<std::string, std::string> cases[] = {
        {dir / "line.wav", "not a valid VLP file: does not begin with \"TVLP\""},
        {dir / "cut.vlp", "not a valid VLP file: truncated cue list"},
        {dir / "none.vlp", "no such file"},
        {dir.path(), "is a directory"},
        {dir / "fifo.vlp", "is not a regular file"},
    };
    ASSERT_EQ(mkfifo((dir / "fifo.vlp").c_str(), 0644), 0);
    RunOptions in_time;
    in_time.timeout_seconds = 20;
    for (const auto& [path, reason] : cases) {
        const RunResult r = run(lipsync(), {"--dump", path}, in_time);
        EXPECT_EQ(r.exit_status, 1) << path;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "lipsync: \"" + path + "\": " + reason + "\n");
    }
}

TEST_F(LipsyncCli, WrongCommandLinesGiveExitTwo) {
    ASSERT_TRUE(write_wav(dir / "a.wav", WavSpec{.seconds = 0.3}));
    const std::vector<std::string> cases[] = {
        {},           {"--frobnicate", dir / "a.wav"},
        {"-x"},       {"--format", "xml", dir / "a.wav"},
        {"--format"}, {dir / "a.wav", dir / "a.wav"},
        {"--dump"},   {"--dump", "--format", "json", dir / "a.wav"},
        {"-o"},       {"-o", dir / "x.vlp", "--format", "tsv", dir / "a.wav"},
    };
    for (const auto& args : cases) {
        const RunResult r = run(lipsync(), args);
        EXPECT_EQ(r.exit_status, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("lipsync --help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"a.wav"});
}

TEST_F(LipsyncCli, HelpExplainsFormsShapesAndExitStatus) {
    const RunResult r = run(lipsync(), {"--help"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* text :
         {"lipsync [-q] SOUND", "-o FILE.vlp SOUND", "SIGTERM", "--format tsv", "--format json",
          "--dump", "take.01.wav gives take.01.vlp", "A  closed (M, B, P)",
          "G  upper teeth on lower lip (F, V)", "X  rest", "\"mouthCues\"",
          "Exit status:", "  0  success", "  1  the input", "  2  wrong",
          "  3  the VLP file (or standard output) could not be written"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    EXPECT_EQ(run(lipsync(), {"-h"}).out, r.out);
    const RunResult version = run(lipsync(), {"--version"});
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_EQ(version.out.rfind("lipsync ", 0), 0u);
}

} // namespace
} // namespace tarvik::lipsync

// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile and malformed input through tarvik -wav, tarvik -batch, tarvik -play and lipsync.
// Every run must end by itself within its time limit, say what happened, and leave either a
// complete output or none.
#include "tests/support/test_support.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sndfile.h>
#include <sys/stat.h>

using namespace tarvik::test;
namespace fs = std::filesystem;

namespace {

// A PCM WAV with a data chunk whose size field and payload are given separately.
std::string pcm_wav(int channels, uint32_t rate, int bits, uint32_t data_size_field,
                    size_t payload) {
    std::string data(payload, '\0');
    for (size_t i = 0; i < payload; ++i)
        data[i] = static_cast<char>((i * 37) & 0x7F); // some signal
    return riff_wav(1, channels, rate, bits, data, data_size_field);
}

// A float WAV (32 or 64 bits) repeating `pattern` for 0.2 s.
std::string float_wav(int bits, int channels, uint32_t rate, const std::vector<float>& pattern) {
    std::string payload;
    for (size_t i = 0; i < rate / 5 * channels; ++i) {
        const float f = pattern[i % pattern.size()];
        const double d = f;
        payload.append(bits == 32 ? reinterpret_cast<const char*>(&f)
                                  : reinterpret_cast<const char*>(&d),
                       static_cast<size_t>(bits / 8));
    }
    return riff_wav(3, channels, rate, bits, payload);
}

enum class Expect {
    Encoded, // -wav exits 0 with a decodable MP3
    Refused, // -wav exits 255 with a box and no MP3
    Either,  // the encoder may take it or refuse it, but cleanly
};

struct BadInput {
    std::string name; // file name inside the case folder
    Expect wav;
    std::string box_part; // for Refused: a piece of the box text
    int64_t frames = -1;  // for Encoded: the decoded length, when known
    double level = -1;    // for Encoded: the decoded RMS level, when known
};

class BadInputs : public ::testing::Test {
  protected:
    TempDir dir;
    std::vector<BadInput> cases;

    void add(const std::string& name, const std::string& bytes, Expect e, std::string box = {},
             int64_t frames = -1, double level = -1) {
        ASSERT_TRUE(bytes.empty() || write_file(dir / ("in/" + name), bytes));
        cases.push_back({name, e, std::move(box), frames, level});
    }
    void SetUp() override {
        fs::create_directories(dir / "in");
        const std::string cannot_open = "main() failed on fopen(). Cannot open";
        const std::string no_specs = "There was a problem for retrieving some specs";
        ASSERT_TRUE(write_file(dir / "in/empty.wav", ""));
        add("empty.wav", "", Expect::Refused, "Input file size is null!");
        add("truncated.wav", pcm_wav(1, 22050, 16, 20000, 20000).substr(0, 30), Expect::Refused,
            "Input file size < 10kb");
        add("cut-header.wav",
            pcm_wav(1, 22050, 16, 20000, 0).substr(0, 28) + std::string(12000, 'j'),
            Expect::Refused, no_specs);
        // Still being written, or left by a recorder that died before its header: never taken
        // as complete, never deleted.
        add("claims-more.wav", pcm_wav(1, 22050, 16, 10000000, 30000), Expect::Refused,
            "holds less audio than its header says");
        std::string unfinished = pcm_wav(1, 22050, 16, 0, 30000);
        add("no-sizes.wav", unfinished.replace(4, 4, le32(0)), Expect::Refused, "No audio in");
        // A header that does not state the length (a recorder still writing), or states less
        // than follows and is followed by no chunks (one that crashed): encoded as far as it
        // states, never deleted.
        add("size-ffffffff.wav", pcm_wav(1, 22050, 16, 0xFFFFFFFF, 30000), Expect::Encoded, {},
            15000);
        add("understated.wav", pcm_wav(1, 22050, 16, 15000, 70000), Expect::Encoded, {}, 7500);
        // ... also when the audio it does not state is digital silence (zeros, which read as
        // chunk headers of no size).
        std::string quiet_tail = pcm_wav(1, 22050, 16, 15000, 15000).substr(44);
        quiet_tail.resize(35000, '\0');
        add("understated-quiet.wav", riff_wav(1, 1, 22050, 16, quiet_tail, 15000), Expect::Encoded,
            {}, 7500);
        add("odd-bytes.wav", pcm_wav(1, 22050, 16, 30001, 30001), Expect::Encoded, {}, 15000);
        add("8bit.wav", pcm_wav(1, 22050, 8, 30000, 30000), Expect::Encoded, {}, 30000);
        add("24bit.wav", pcm_wav(2, 44100, 24, 60000, 60000), Expect::Encoded, {}, 10000);
        add("six.wav", pcm_wav(6, 48000, 16, 96000, 96000), Expect::Encoded, {}, 8000);
        add("1hz.wav", pcm_wav(1, 1, 16, 30000, 30000), Expect::Refused,
            "There was a problem for encoding");
        add("384khz.wav", pcm_wav(2, 384000, 16, 400000, 400000), Expect::Either);
        add("text.wav", std::string(20000, 't'), Expect::Refused, no_specs);
        // Not-a-number samples are silence; infinities and overshoot are clamped, not undefined.
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const float inf = std::numeric_limits<float>::infinity();
        add("nan.wav", float_wav(32, 1, 44100, {nan}), Expect::Encoded, {}, 8820, 0);
        add("extremes.wav",
            float_wav(64, 6, 48000, {nan, 0.25f, inf, -inf, 1e30f, -7.0f, 1.5f, -0.25f, nan}),
            Expect::Encoded, {}, 9600);
        for (const std::string encoding : {"a-law", "u-law", "ima-adpcm", "ms-adpcm"}) {
            const std::string wav = dir / ("in/" + encoding + ".wav"); // over 10000 bytes
            ASSERT_EQ(run("/usr/bin/sox", {"-n", "-r", "16000", "-c", "1", "-e", encoding, wav,
                                           "synth", "4", "sine", "300"})
                          .exit_status,
                      0);
            add(encoding + ".wav", "", Expect::Encoded);
        }
        // An MP3 under a WAV name (3 s: over 10000 bytes) is taken as the audio it holds, never
        // encoded as noise (its bytes as samples: some 0.5): the sine decodes near its level,
        // 0.5 / sqrt(2), and its length.
        ASSERT_TRUE(write_wav(dir / "seed.wav", WavSpec{44100, 1, 3.0}));
        ASSERT_EQ(run(bin("tarvik"), {"-wav", dir / "seed.wav"}).exit_status, 0);
        fs::rename(dir / "seed.mp3", dir / "in/mp3-renamed.wav");
        add("mp3-renamed.wav", "", Expect::Encoded, {}, 132300, 0.5 / std::sqrt(2.0));
        fs::create_directories(dir / "in/folder.wav");
        add("folder.wav", "", Expect::Refused, cannot_open);
        ASSERT_EQ(mkfifo((dir / "in/fifo.wav").c_str(), 0644), 0);
        add("fifo.wav", "", Expect::Refused, cannot_open);
        fs::create_symlink(dir / "nowhere.wav", dir / "in/dangling.wav");
        add("dangling.wav", "", Expect::Refused, cannot_open);
        add("50% \"q\" 'x' sp ace\n nl \x1b[31m \xff\xfe.wav", pcm_wav(1, 16000, 16, 32000, 32000),
            Expect::Encoded, {}, 16000);
    }
};

// No crash, no sanitizer report, no time-out.
void expect_clean(const RunResult& r, const std::string& what) {
    EXPECT_FALSE(r.timed_out) << what << " hung";
    EXPECT_NE(r.exit_status, -1) << what << " died by a signal";
    EXPECT_FALSE(contains(r.err, "Sanitizer")) << what;
    EXPECT_FALSE(contains(r.err, "runtime error")) << what;
}

std::string stem_of(const std::string& name) {
    return name.substr(0, name.rfind('.'));
}

} // namespace

TEST_F(BadInputs, SingleFileRuns) {
    const RunOptions o{.timeout_seconds = 60};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "out");
        const RunResult r = run(bin("tarvik"), {"-wav", dir / ("in/" + c.name), dir / "out"}, o);
        expect_clean(r, c.name);
        const std::string mp3 = dir / ("out/" + stem_of(c.name) + ".mp3");
        if (c.wav == Expect::Refused || (c.wav == Expect::Either && r.exit_status != 0)) {
            EXPECT_EQ(r.exit_status, 255) << r.out;
            EXPECT_FALSE(exists(mp3));
            EXPECT_TRUE(contains(r.err, "************ ERROR ************\n"));
            EXPECT_TRUE(contains(r.err, c.box_part));
        } else {
            EXPECT_EQ(r.exit_status, 0) << r.err;
            AudioInfo info;
            const auto pcm = decode(mp3, &info);
            EXPECT_GT(info.frames, 0);
            if (c.frames >= 0) EXPECT_EQ(info.frames, c.frames);
            if (c.level >= 0) EXPECT_NEAR(channel_rms(pcm, info.channels, 0), c.level, 0.05);
            // The name as typed, its control characters escaped: no terminal escape reaches
            // the console.
            std::string shown = mp3;
            for (const auto& [raw, text] : {std::pair{"\n", "\\n"}, {"\x1b", "\\x1b"}})
                for (size_t at; (at = shown.find(raw)) != std::string::npos;)
                    shown.replace(at, 1, text);
            EXPECT_TRUE(contains(r.out, "Output file = \"" + shown + "\"\n"));
            EXPECT_FALSE(contains(r.out, "\x1b"));
        }
        EXPECT_EQ(hidden_names(dir / "out"), std::vector<std::string>{});
    }
}

TEST_F(BadInputs, BatchOfAllOfThem) {
    const RunOptions o{.timeout_seconds = 120};
    for (const std::string jobs : {"1", "3"}) {
        SCOPED_TRACE("-jobs " + jobs);
        fs::remove_all(dir / "out");
        const bool rem = jobs == "3"; // the last run: what it deletes is gone for good
        std::vector<std::string> args{"-batch", "-jobs", jobs, dir / "in", dir / "out"};
        if (rem) args.insert(args.begin() + 1, "-rem");
        const RunResult r = run(bin("tarvik"), args, o);
        expect_clean(r, "batch");
        EXPECT_EQ(r.exit_status, 1);
        const std::string report = read_file(dir / "out/failed conversions.txt");
        for (const auto& c : cases) {
            const bool made = exists(dir / ("out/" + stem_of(c.name) + ".mp3"));
            const std::string path = dir / ("in/" + c.name);
            const bool reported = report.find("\n" + path + "\n") != std::string::npos;
            EXPECT_NE(made, reported)
                << c.name << ": either converted or reported, never both or neither";
            const bool length_unsure =
                c.name == "size-ffffffff.wav" || c.name.starts_with("understated");
            if (rem)
                EXPECT_EQ(fs::exists(fs::symlink_status(path)), !made || length_unsure)
                    << c.name << ": -rem";
            if (rem && length_unsure) EXPECT_TRUE(contains(report, "\nREM: " + path + "\n"));
            if (c.wav != Expect::Either) EXPECT_EQ(made, c.wav == Expect::Encoded) << c.name;
        }
        EXPECT_EQ(hidden_names(dir / "out"), std::vector<std::string>{});
    }
}

TEST_F(BadInputs, LipsyncTool) {
    const RunOptions o{.timeout_seconds = 60};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir / ("in/" + c.name);
        const std::string vlp = dir / ("in/" + stem_of(c.name) + ".vlp");
        const RunResult r = run(bin("lipsync"), {wav}, o);
        expect_clean(r, c.name);
        EXPECT_EQ(file_size(vlp) > 0, r.exit_status == 0);
        if (r.exit_status != 0) EXPECT_FALSE(r.err.empty()) << "a failure says why";
        if (c.wav == Expect::Encoded) EXPECT_EQ(r.exit_status, 0) << r.err;
        fs::remove(vlp);
    }
    EXPECT_EQ(hidden_names(dir / "in"), std::vector<std::string>{});
}

// Files that are not sound, or sound at rates no device plays, end cleanly. (The 1 Hz WAV
// holds no frame: every frame at 1 Hz is a second, and the resampler pads the end with
// thousands of them.)
TEST_F(BadInputs, Playback) {
    const RunOptions o{.env = {{"SDL_AUDIODRIVER", "disk"},
                               {"SDL_DISKAUDIOFILE", "/dev/null"},
                               {"SDL_DISKAUDIODELAY", "0"}},
                       .timeout_seconds = 60};
    ASSERT_TRUE(write_file(dir / "in/1hz.wav", pcm_wav(1, 1, 16, 0, 0)));
    for (const auto& c : cases) {
        if (c.wav == Expect::Encoded && c.name != "nan.wav") continue; // as any sound plays
        SCOPED_TRACE(c.name);
        const RunResult r = run(bin("tarvik"), {"-play", dir / ("in/" + c.name)}, o);
        expect_clean(r, c.name);
        EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 255) << r.exit_status;
        if (r.exit_status != 0) EXPECT_TRUE(contains(r.err, "************ ERROR ************"));
    }
}

// Paths longer than the system allows are refused with the usual messages.
TEST(LongPaths, AreRefusedCleanly) {
    TempDir t;
    std::string deep = t.path();
    while (deep.size() < 4200)
        deep += "/" + std::string(200, 'd');
    const RunResult wav = run(bin("tarvik"), {"-wav", deep + "/voice.wav"});
    EXPECT_EQ(wav.exit_status, 255);
    EXPECT_TRUE(
        contains(wav.err, "main() failed on fopen(). Cannot open \"" + deep + "/voice.wav\"."));
    const RunResult batch = run(bin("tarvik"), {"-batch", deep, t / "out"});
    EXPECT_EQ(batch.exit_status, 255);
    EXPECT_TRUE(contains(batch.out, "Failed (no WAV file detected)"));
    const RunResult silence = run(bin("tarvik"), {"2", deep});
    EXPECT_EQ(silence.exit_status, 255);
    const RunResult tool = run(bin("lipsync"), {deep + "/voice.wav"});
    expect_clean(tool, "lipsync");
    EXPECT_GT(tool.exit_status, 0);
}

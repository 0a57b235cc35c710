// tarvik -play end to end, with standard input not a terminal (no keys: playback runs to
// its end) and SDL's disk driver writing what would be heard to a raw 16-bit stereo file
// at 44100 Hz.
#include "tests/support/test_support.hpp"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const std::string kStopped = "Stopped." + std::string(67, ' ') + "\r\n";

// Stereo samples from the first sounding frame to the last.
std::vector<int16_t> sounding(const std::vector<int16_t>& s) {
    size_t first = 0, last = s.size() & ~size_t{1};
    while (first < last && s[first] == 0 && s[first + 1] == 0)
        first += 2;
    while (last > first && s[last - 1] == 0 && s[last - 2] == 0)
        last -= 2;
    return {s.begin() + static_cast<std::ptrdiff_t>(first),
            s.begin() + static_cast<std::ptrdiff_t>(last)};
}

class Play : public ::testing::Test {
  protected:
    test::RunResult run(const std::vector<std::string>& args, const std::string& driver = "disk",
                        const std::string& program = test::bin("tarvik")) {
        test::RunOptions options;
        options.cwd = dir_.path();
        options.env = {{"SDL_AUDIODRIVER", driver}, {"SDL_DISKAUDIOFILE", dir_ / "out.raw"}};
        options.timeout_seconds = 60;
        return test::run(program, args, options);
    }
    std::vector<int16_t> heard() const {
        const std::string bytes = test::read_file(dir_ / "out.raw");
        std::vector<int16_t> s(bytes.size() / 2);
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
        return sounding(s);
    }
    test::TempDir dir_;
};

// Each file plays to its end at its own level: a 16-bit WAV sample for sample, float WAVs
// (which once played as silence) and compressed files at the level they were written.
TEST_F(Play, PlaysEachFormatAtItsLevel) {
    const struct {
        const char* name;
        test::WavSpec spec;
        bool via_sox; // written as WAV, converted by sox
    } cases[] = {
        {"pcm16.wav", {44100, 2, 1.2, 0, 440, 0.7}, false},
        {"float32.wav", {44100, 2, 1.0, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 440, 0.5}, false},
        {"float64.wav", {22050, 1, 1.0, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 300, 0.25}, false},
        {"voice.mp3", {44100, 1, 1.0, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 440, 0.5}, false},
        {"voice.ogg", {44100, 1, 1.0, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 440, 0.5}, false},
        {"voice.mp2", {44100, 1, 1.0, 0, 440, 0.5}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = dir_ / (c.via_sox ? "source.wav" : c.name);
        ASSERT_TRUE(test::write_wav(source, c.spec));
        if (c.via_sox) ASSERT_EQ(test::run("/usr/bin/sox", {source, dir_ / c.name}).exit_status, 0);
        const auto r = run({"-play", c.name});
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find("Play a sound file\n\n[---> playing <---]\nStreaming file \"" +
                             std::string(c.name) +
                             "\" [duration: 00:00:01]\n\n---- Interactive keys ----\n"),
                  std::string::npos)
            << r.out;
        EXPECT_TRUE(r.out.ends_with(kStopped)) << r.out;
        const std::vector<int16_t> out = heard();
        EXPECT_NEAR(static_cast<double>(out.size()) / 2 / 44100, c.spec.seconds, 0.1);
        int peak = 0;
        for (const int16_t s : out)
            peak = std::max(peak, std::abs(int{s}));
        EXPECT_NEAR(peak, c.spec.amplitude * 32768,
                    c.via_sox || c.spec.format & SF_FORMAT_MPEG ? 1600 : 330);
        if (c.spec.format == 0 && !c.via_sox) { // exactly the file's samples, left and right apart
            SF_INFO info{};
            SNDFILE* f = sf_open(source.c_str(), SFM_READ, &info);
            std::vector<int16_t> in(static_cast<size_t>(info.frames * 2));
            sf_readf_short(f, in.data(), info.frames);
            sf_close(f);
            EXPECT_TRUE(out == sounding(in));
        }
    }
}

TEST_F(Play, NameWithoutExtension) {
    fs::create_directories(dir_ / "mp3");
    for (const char* name : {"voice.wav", "Other.WAV", "mp3/line.wav"})
        ASSERT_TRUE(test::write_wav(dir_ / name, {44100, 1, 0.3, 0, 440, 0.5}));
    ASSERT_TRUE(test::write_wav(
        dir_ / "voice.mp3", {44100, 1, 0.3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 440, 0.5}));
    const struct {
        const char *typed, *streamed;
    } cases[] = {{"voice", "voice.mp3"},
                 {"VOICE.txt", "voice.mp3"},
                 {"other", "Other.WAV"},
                 {"mp3/line", "line.wav"}};
    for (const auto& c : cases) {
        const auto r = run({"-play", c.typed});
        EXPECT_EQ(r.exit_status, 0) << c.typed << r.err;
        EXPECT_NE(r.out.find("Streaming file \"" + std::string(c.streamed) + "\""),
                  std::string::npos)
            << r.out;
    }
}

TEST_F(Play, ErrorBoxes) {
    ASSERT_TRUE(test::write_file(dir_ / "garbage.ogg", std::string(20000, 'x')));
    ASSERT_TRUE(test::write_wav(dir_ / "tone.wav", {44100, 1, 0.3, 0, 440, 0.5}));
    // A copy of the program without its audio module beside it.
    fs::create_directories(dir_ / "bare");
    for (const char* file : {"tarvik", "lame_enc.so"})
        fs::copy_file(test::bin(file), dir_ / ("bare/" + std::string(file)));
    const struct {
        std::string file, driver, program;
        int line;
        std::string message;
    } cases[] = {
        {"nothing", "disk", "", 1669,
         "File not found: \"nothing\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
        {"sub.dir/nothing.x", "disk", "", 1669,
         "File not found: \"sub.dir/nothing\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
        {"gone.mp3", "disk", "", 1685,
         "play() failed on access(). This file is missing: \"gone.mp3\"."},
        {"garbage.ogg", "disk", "", 1709, "play() failed on sf_open(). Error code: 41\n"},
        // No sound output at all: the box names the cause, and nothing hangs.
        {"tone.wav", "dummy", "", 1702, "play() failed on SDL_InitSubSystem(). Error code: 3\n"},
        {"tone.wav", "no-such-driver", "", 1702,
         "play() failed on SDL_InitSubSystem(). Error code: 3\n"},
        {"tone.wav", "disk", dir_ / "bare/tarvik", 1694,
         "play() cannot start: its audio module \"tarvik_audio.so\" (SDL2 playback) did not "
         "load.\n" +
             dir_ / "bare/tarvik_audio.so: cannot open shared object file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.driver + " " + c.program);
        const auto r =
            run({"-play", c.file}, c.driver, c.program.empty() ? test::bin("tarvik") : c.program);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_NE(r.err.find("tarvik 1.1b - [called from \"tarvik\", line " +
                             std::to_string(c.line) + "]\n************ ERROR ************\n" +
                             c.message),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("Interactive keys"), std::string::npos);
    }
    // -ver names SDL2, the facility that plays, and says so when its module is missing.
    const auto ver = run({"-ver"}), bare = run({"-ver"}, "disk", dir_ / "bare/tarvik");
    EXPECT_EQ(ver.exit_status, 0);
    EXPECT_NE(ver.out.find("\n---- SDL2 ----\n| Version tag:            2."), std::string::npos)
        << ver.out;
    EXPECT_NE(ver.out.find("\n| Home page: https://www.libsdl.org/\n"), std::string::npos)
        << ver.out;
    EXPECT_EQ(bare.exit_status, 0);
    EXPECT_NE(bare.out.find("\n---- SDL2 ----\n| Version tag:            n/a ("), std::string::npos)
        << bare.out;
}

// Start-up cost: the program itself does not link SDL2; only the audio module does.
TEST(PlayModule, OnlyTheModuleLinksSdl) {
    const auto program = test::run("/usr/bin/readelf", {"-d", test::bin("tarvik")});
    const auto module = test::run("/usr/bin/readelf", {"-d", test::bin("tarvik_audio.so")});
    ASSERT_EQ(program.exit_status, 0);
    EXPECT_EQ(program.out.find("libSDL2"), std::string::npos) << program.out;
    EXPECT_NE(module.out.find("libSDL2"), std::string::npos) << module.out;
}

} // namespace
} // namespace tarvik

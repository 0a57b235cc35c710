// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik -play end to end, standard input not a terminal (no keys: it plays to the end), SDL's
// disk driver writing what would be heard to a raw 16-bit stereo file at 44100 Hz.
#include "tests/support/test_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

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
        return test::run(
            program, args,
            {.cwd = dir_.path(),
             .env = {{"SDL_AUDIODRIVER", driver}, {"SDL_DISKAUDIOFILE", dir_ / "out.raw"}},
             .timeout_seconds = 60});
    }
    std::vector<int16_t> heard() const {
        const std::string bytes = test::read_file(dir_ / "out.raw");
        std::vector<int16_t> s(bytes.size() / 2);
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
        return sounding(s);
    }
    test::TempDir dir_;
};

// Each file plays to its end at its own level: 16-bit and float WAVs at 44100 Hz sample for
// sample, left and right apart (a float sine at full scale reaches full scale, clamped, not
// wrapped), others at the level they were written. A name typed without extension is found
// by its file name's extension alone.
TEST_F(Play, PlaysEachFormatAtItsLevel) {
    fs::create_directories(dir_ / "mp3");
    constexpr int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                  kDouble = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
    constexpr int kMp3 = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
                  kOgg = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    const struct {
        const char *file, *typed;
        test::WavSpec tone;
    } cases[] = {
        {"pcm16.wav", "pcm16.wav", {44100, 2, 1.2, 0, 440, 0.7}},
        {"float32.wav", "FLOAT32", {44100, 2, 1.0, kFloat, 441, 1.0}}, // sample 25 is 1.0
        {"mp3/line.wav", "mp3/line", {22050, 1, 1.0, kDouble, 300, 0.25}},
        {"voice.mp3", "voice", {44100, 1, 1.0, kMp3, 440, 0.5}},
        {"voice.ogg", "voice.ogg", {44100, 1, 1.0, kOgg, 440, 0.5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string source = dir_ / c.file;
        ASSERT_TRUE(test::write_wav(source, c.tone));
        const auto r = run({"-play", c.typed});
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_TRUE(
            test::contains(r.out, "Play a sound file\n\n[---> playing <---]\nStreaming file \"" +
                                      fs::path(c.file).filename().string() +
                                      "\" [duration: 00:00:01]\n\n---- Interactive keys ----\n"));
        EXPECT_TRUE(r.out.ends_with("Stopped." + std::string(67, ' ') + "\r\n")) << r.out;
        const std::vector<int16_t> out = heard();
        EXPECT_NEAR(static_cast<double>(out.size()) / 2 / 44100, c.tone.seconds, 0.1);
        ASSERT_FALSE(out.empty());
        const auto [low, high] = std::minmax_element(out.begin(), out.end());
        EXPECT_NEAR(std::max(-int{*low}, int{*high}), c.tone.amplitude * 32768,
                    c.tone.format == kMp3 || c.tone.format == kOgg ? 1600 : 330);
        if (c.tone.format == 0 || c.tone.format == kFloat) {
            std::vector<int16_t> in;
            for (const float x : test::decode(source))
                in.push_back(
                    static_cast<int16_t>(std::clamp(std::lrint(x * 32768), -32768L, 32767L)));
            EXPECT_TRUE(out == sounding(in));
        }
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
        std::string file, driver;
        bool bare; // the copy without the module
        int line;
        std::string message;
    } cases[] = {
        {"sub.dir/nothing.x", "disk", false, 1669,
         "File not found: \"sub.dir/nothing\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
        {"gone.mp3", "disk", false, 1685,
         "play() failed on access(). This file is missing: \"gone.mp3\"."},
        {"garbage.ogg", "disk", false, 1709, "play() failed on sf_open(). Error code: 41\n"},
        // No sound output at all: the box names the cause, and nothing hangs.
        {"tone.wav", "dummy", false, 1702, "play() failed on SDL_InitSubSystem(). Error code: 3\n"},
        {"tone.wav", "disk", true, 1694,
         "play() cannot start: its audio module \"tarvik_audio.so\" (SDL2 playback) did not "
         "load.\ntarvik_audio.so: cannot open shared object file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.driver);
        const auto r =
            run({"-play", c.file}, c.driver, c.bare ? dir_ / "bare/tarvik" : test::bin("tarvik"));
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_TRUE(test::contains(r.err, test::error_box_head(c.line) + c.message));
        EXPECT_EQ(r.out.find("Interactive keys"), std::string::npos);
    }
    // -ver names SDL2, the facility that plays, and says so when its module is missing.
    const auto ver = run({"-ver"}), bare = run({"-ver"}, "disk", dir_ / "bare/tarvik");
    EXPECT_EQ(ver.exit_status, 0);
    EXPECT_TRUE(test::contains(ver.out, "\n---- SDL2 ----\n| Version tag:            2."));
    EXPECT_EQ(bare.exit_status, 0);
    EXPECT_TRUE(test::contains(bare.out, "\n---- SDL2 ----\n| Version tag:            n/a ("));
    // Start-up cost: the program itself does not link SDL2; only the audio module does.
    EXPECT_EQ(test::run("/usr/bin/readelf", {"-d", test::bin("tarvik")}).out.find("libSDL2"),
              std::string::npos);
}

} // namespace
} // namespace tarvik

// tarvik -play end to end, with standard input not a terminal (no keys: playback runs to
// its end) and SDL's disk driver writing what would be heard to a raw file.
#include "audio/audio.hpp"
#include "tests/support/test_support.hpp"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sndfile.h>

namespace tarvik {
namespace {

const std::string kKeysBlock = "\n---- Interactive keys ----\n"
                               "| SPACE:               pause/unpause the stream\n"
                               "| ESCAPE:              stop the stream\n"
                               "| UP ARROW/DOWN ARROW: adjust the \"WAVE\" volume\n\n";
const std::string kStopped = "Stopped." + std::string(67, ' ') + "\r\n";

std::string caption(int line) {
    return "tarvik 1.1b - [called from \"tarvik\", line " + std::to_string(line) + "]\n";
}

// Stereo samples from the first sounding frame to the last.
std::vector<int16_t> sounding(const std::vector<int16_t>& s) {
    size_t first = 0, last = s.size() & ~size_t{1};
    while (first < last && s[first] == 0 && s[first + 1] == 0) first += 2;
    while (last > first && s[last - 1] == 0 && s[last - 2] == 0) last -= 2;
    return {s.begin() + static_cast<std::ptrdiff_t>(first),
            s.begin() + static_cast<std::ptrdiff_t>(last)};
}

class Play : public ::testing::Test {
protected:
    test::RunResult play(const std::string& file, const std::string& driver = "disk") {
        test::RunOptions options;
        options.cwd = dir_.path();
        options.env = {{"SDL_AUDIODRIVER", driver}, {"SDL_DISKAUDIOFILE", raw()}};
        options.timeout_seconds = 60;
        return test::run(test::bin("tarvik"), {"-play", file}, options);
    }
    std::string raw() const { return dir_ / "out.raw"; }

    std::vector<int16_t> heard() const {
        const std::string bytes = test::read_file(raw());
        std::vector<int16_t> s(bytes.size() / 2);
        std::memcpy(s.data(), bytes.data(), s.size() * 2);
        return sounding(s);
    }

    test::TempDir dir_;
};

TEST_F(Play, WavPlaysExactlyItsSamples) {
    // Left and right differ (440 and 550 Hz), so a swap or a mix-down would show.
    ASSERT_TRUE(test::write_wav(dir_ / "tone.wav", {44100, 2, 1.2, 0, 440, 0.7}));
    const auto r = play("tone.wav");
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.out.find("Play a sound file\n\n[---> playing <---]\n"
                         "Streaming file \"tone.wav\" [duration: 00:00:01]\n" +
                         kKeysBlock + "Time elapsed: n/a - Volume: 100% - L [........... ...........] R\r"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Time elapsed: 00:00:01 - Volume: 100% - L ["), std::string::npos);
    EXPECT_GE(r.out.size(), kStopped.size());
    EXPECT_EQ(r.out.substr(r.out.size() - kStopped.size()), kStopped);
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;

    SF_INFO info{};
    SNDFILE* f = sf_open((dir_ / "tone.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<int16_t> in(static_cast<size_t>(info.frames * 2));
    sf_readf_short(f, in.data(), info.frames);
    sf_close(f);
    in = sounding(in);
    const std::vector<int16_t> out = heard();
    ASSERT_EQ(out.size(), in.size());
    EXPECT_TRUE(out == in);
}

TEST_F(Play, CompressedFilesPlayToTheirEnd) {
    struct Case {
        const char* name;
        int format; // 0: converted from a WAV by sox
    };
    const Case cases[] = {
        {"voice.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        {"voice.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"voice.mp2", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.format) {
            ASSERT_TRUE(test::write_wav(dir_ / c.name, {44100, 1, 1.0, c.format, 440, 0.5}));
        } else {
            ASSERT_TRUE(test::write_wav(dir_ / "source.wav", {44100, 1, 1.0, 0, 440, 0.5}));
            const auto sox = test::run("/usr/bin/sox", {dir_ / "source.wav", dir_ / c.name});
            if (sox.exit_status != 0) {
                ADD_FAILURE() << "sox cannot write " << c.name << ": " << sox.err;
                continue;
            }
        }
        const auto r = play(c.name);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find("Streaming file \"" + std::string(c.name) + "\" [duration: 00:00:01]"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(kStopped), std::string::npos);
        const std::vector<int16_t> out = heard();
        // About one second of a sine at half scale on both sides.
        EXPECT_NEAR(static_cast<double>(out.size()) / 2 / 44100, 1.0, 0.1);
        int peak = 0;
        for (const int16_t s : out) peak = std::max(peak, std::abs(int{s}));
        EXPECT_NEAR(peak, 16384, 1600);
    }
}

TEST_F(Play, NameWithoutExtension) {
    ASSERT_TRUE(test::write_wav(dir_ / "voice.wav", {44100, 1, 0.3, 0, 440, 0.5}));
    ASSERT_TRUE(test::write_wav(dir_ / "voice.mp3",
                                {44100, 1, 0.3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 440, 0.5}));
    ASSERT_TRUE(test::write_wav(dir_ / "Other.WAV", {44100, 1, 0.3, 0, 440, 0.5}));
    struct Case {
        const char* typed;
        const char* streamed;
        bool remove_mp3_first;
    };
    const Case cases[] = {
        {"voice", "voice.mp3", false}, // the MP3 comes before the WAV
        {"VOICE.txt", "voice.mp3", false},
        {"other", "Other.WAV", false}, // names match without regard to case
        {"voice", "voice.wav", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        if (c.remove_mp3_first) std::filesystem::remove(dir_ / "voice.mp3");
        const auto r = play(c.typed);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        EXPECT_NE(r.out.find("Streaming file \"" + std::string(c.streamed) + "\""), std::string::npos)
            << r.out;
    }
}

TEST_F(Play, ErrorBoxes) {
    std::filesystem::create_directories(dir_ / "wavs");
    ASSERT_TRUE(test::write_file(dir_ / "garbage.ogg", std::string(20000, 'x')));
    ASSERT_TRUE(test::write_wav(dir_ / "tone.wav", {44100, 1, 0.3, 0, 440, 0.5}));
    struct Case {
        std::string file;
        std::string driver;
        int line;
        std::string message;
    };
    const Case cases[] = {
        {"nothing", "disk", 1669,
         "File not found: \"nothing\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
        {"sub.dir/nothing.x", "disk", 1669,
         "File not found: \"sub.dir/nothing\". Supported streams: WAV/MP3/MP2/MP1/OGG."},
        {"wavs/voice", "disk", 1685, "play() failed on access(). This file is missing: \"wavs/voice\"."},
        {"garbage.ogg", "disk", 1709, "play() failed on BASS_StreamCreateFile(). Error code: 41"},
        // No sound output at all: the box names the cause, and nothing hangs.
        {"tone.wav", "dummy", 1702, "play() failed on BASS_Init(). Error code: 3"},
        {"tone.wav", "no-such-driver", 1702, "play() failed on BASS_Init(). Error code: 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.driver);
        const auto r = play(c.file, c.driver);
        ASSERT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_status, 255);
        EXPECT_NE(r.err.find(caption(c.line) + "************ ERROR ************\n" + c.message + "\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.out.find("Interactive keys"), std::string::npos);
    }
}

TEST(PlayVersion, LibraryBlockNamesTheAudioFacility) {
    const uint32_t v = audio::get_version();
    const std::string block = "\n---- BASS ----\n| Version tag:            " +
                              std::to_string(v & 0xFFFF) + "." + std::to_string(v >> 16) +
                              "\n| Home page: https://www.libsdl.org/\n";
    test::RunOptions options;
    const auto r = test::run(test::bin("tarvik"), {"-ver"}, options);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_NE(r.out.find(block), std::string::npos) << r.out;
}

} // namespace
} // namespace tarvik

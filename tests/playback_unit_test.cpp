// The parts of playback that need no device: the status line, key decoding, the sample
// arithmetic, the ring between the threads, and the search for the file to play.
#include "audio/mix.hpp"
#include "audio/ring.hpp"
#include "encoder/playback.hpp"
#include "platform/console.hpp"
#include "tests/support/test_support.hpp"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace tarvik {
namespace {

uint32_t levels(uint32_t left, uint32_t right) {
    return left | (right << 16);
}

TEST(PlaybackStatus, Line) {
    const struct {
        double seconds;
        int volume;
        bool paused;
        uint32_t level;
        const char* line;
    } cases[] = {
        {0.0, 100, false, 0, "Time elapsed: n/a - Volume: 100% - L [........... ...........] R\r"},
        {0.4, 0, false, levels(10, 10),
         "Time elapsed: 00:00:00 - Volume: 000% - L [......||||| |||||......] R\r"},
        {3725.9, 7, false, levels(128, 1),
         "Time elapsed: 01:02:05 - Volume: 007% - L [||||||||||| |..........] R\r"},
        {5, 55, false, levels(92, 2),
         "Time elapsed: 00:00:05 - Volume: 055% - L [.|||||||||| ||.........] R\r"},
        {5, 55, false, levels(3, 93),
         "Time elapsed: 00:00:05 - Volume: 055% - L [........||| |||||||||||] R\r"},
        {61.0, 55, true, levels(128, 128),
         "Time elapsed: 00:01:01 - Volume: 055% - L [......P.A.U.S.E.D......] R\r"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(status_line(c.seconds, c.volume, c.paused, c.level), c.line);
}

TEST(PlaybackKeys, TerminalBytesToCodes) {
    const struct {
        std::string bytes;
        std::vector<int> codes;
    } cases[] = {
        {" \x1b", {0x20, 0x1B}},
        {"\x1b[A\x1bOB", {0xE0, 0x48, 0xE0, 0x50}},
        {"\x1b[1;5A", {0xE0, 0x48}},
        {"\x1b[5~", {}}, // page up: nothing
        {"\x1b[", {}},
        {"HP", {0x48, 0x50}}, // UP and DOWN's second codes
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::decode_key_bytes(c.bytes), c.codes) << c.bytes;
}

TEST(AudioMix, FloatSamplesGainsAndLevels) {
    const float in[] = {0.5f, -1.0f, 1.0f, 2.0f, -3.0f, NAN, 1.0f / 32768, -0.25f};
    int16_t out[std::size(in)];
    audio::to_pcm16(in, std::size(in), out);
    EXPECT_EQ(std::vector<int16_t>(out, out + std::size(out)),
              (std::vector<int16_t>{16384, -32768, 32767, 32767, -32768, 0, 1, -8192}));

    const struct {
        int16_t left, right;
        float gain_start, gain_end;
        int16_t out_left; // of the last frame
        uint32_t level;
    } cases[] = {
        {32767, -32768, 1, 1, 32767, levels(128, 128)},
        {2560, -1280, 1, 1, 2560, levels(10, 5)},
        {10000, 0, 0.5f, 0.5f, 5000, levels(20, 0)},
        {8000, 8000, 1, 0, 0, levels(31, 31)},
    };
    for (const auto& c : cases) {
        std::vector<audio::StereoFrame> block(64, audio::StereoFrame{c.left, c.right});
        EXPECT_EQ(audio::apply_gain(block.data(), block.size(), c.gain_start, c.gain_end), c.level);
        EXPECT_EQ(block.back().left, c.out_left);
    }
}

TEST(AudioMix, SlideOverTime) {
    const audio::Slide fade = audio::unpack_slide(audio::pack_slide({1000, 500, 100, 0, true}));
    const struct {
        double now, volume;
        bool running, stopped;
    } cases[] = {{1000, 100, true, false}, {1250, 50, true, false}, {1500, 0, false, true}};
    for (const auto& c : cases) {
        EXPECT_NEAR(audio::slide_volume_at(fade, c.now), c.volume, 1e-6) << c.now;
        EXPECT_EQ(audio::slide_running_at(fade, c.now), c.running) << c.now;
        EXPECT_EQ(audio::slide_stopped_at(fade, c.now), c.stopped) << c.now;
    }
}

// A counting sequence written in odd-sized pieces and read back in other sizes: every value
// must arrive once and in order across many wraparounds.
TEST(AudioRing, ProducerAndConsumerThreads) {
    audio::SpscRing<uint32_t> ring(1000);
    constexpr uint32_t kTotal = 2'000'000;
    std::thread producer([&] {
        uint32_t chunk[37];
        for (uint32_t next = 0; next < kTotal;) {
            const uint32_t n = std::min<uint32_t>(37, kTotal - next);
            for (uint32_t i = 0; i < n; ++i)
                chunk[i] = next + i;
            for (size_t done = 0; done < n;)
                done += ring.write(chunk + done, n - done);
            next += n;
        }
    });
    uint32_t expected = 0, got[53];
    bool in_order = true;
    while (expected < kTotal && in_order) {
        const size_t n = ring.read(got, 53);
        for (size_t i = 0; i < n; ++i)
            in_order = in_order && got[i] == expected++;
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(ring.size(), 0u);
}

TEST(PlaybackFile, ExtensionSearch) {
    test::TempDir dir;
    const std::string d = dir.path();
    for (const char* name : {"both.mp3", "both.wav", "solo.wav", "Mixed.OGG", "one.mp1",
                             "dotted.d/voice.mp2", "wavs/real.mp3", "mp3/line.wav", "ogg.txt"}) {
        std::filesystem::create_directories(std::filesystem::path(d + "/" + name).parent_path());
        ASSERT_TRUE(test::write_file(d + "/" + name, "x"));
    }
    std::filesystem::create_directories(d + "/dir.mp3");
    const struct {
        std::string name;
        std::optional<std::string> found;
    } cases[] = {
        {d + "/both", d + "/both.mp3"}, // .mp3 comes before .wav
        {d + "/solo.txt", d + "/solo.wav"},
        {d + "/MIXED", d + "/Mixed.OGG"},
        {d + "/one", d + "/one.mp1"},
        {d + "/dotted.d/voice", d + "/dotted.d/voice.mp2"},
        {d + "/dir", std::nullopt},
        {d + "/nothing", std::nullopt},
        {d + "/BOTH.WAV", d + "/both.wav"},
        {d + "/Gone.mp3", d + "/Gone.mp3"}, // as it is
        // Only the file name's extension counts, not a folder's name or the name's middle.
        {d + "/wavs/real", d + "/wavs/real.mp3"},
        {d + "/mp3/line", d + "/mp3/line.wav"},
        {d + "/ogg", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(find_sound_file(c.name), c.found) << c.name;
}

} // namespace
} // namespace tarvik

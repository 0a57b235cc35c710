// The parts of playback that need no device: the status line, key decoding, the audio
// thread's arithmetic and ring, and the search for the file to play.
#include "audio/mix.hpp"
#include "audio/ring.hpp"
#include "encoder/playback.hpp"
#include "platform/console.hpp"
#include "tests/support/test_support.hpp"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace tarvik {
namespace {

uint32_t levels(uint32_t left, uint32_t right) { return left | (right << 16); }

TEST(PlaybackStatus, MeterCells) {
    struct Case {
        uint32_t level;
        const char* meter;
    };
    const Case cases[] = {
        {levels(0, 0), "[........... ...........]"},
        {levels(10, 10), "[......||||| |||||......]"},
        {levels(128, 128), "[||||||||||| |||||||||||]"},
        {levels(1, 0), "[..........| ...........]"},
        {levels(0, 93), "[........... |||||||||||]"},
        {levels(92, 2), "[.|||||||||| ||.........]"},
        {levels(128, 1), "[||||||||||| |..........]"},
        {levels(3, 62), "[........||| ||||||||||.]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        EXPECT_EQ(level_meter(c.level), c.meter);
        EXPECT_EQ(level_meter(c.level).size(), std::string(kPauseBanner).size());
    }
}

TEST(PlaybackStatus, Line) {
    struct Case {
        double seconds;
        int volume;
        bool paused;
        uint32_t level;
        const char* line;
    };
    const Case cases[] = {
        {0.0, 100, false, 0, "Time elapsed: n/a - Volume: 100% - L [........... ...........] R\r"},
        {0.4, 0, false, levels(10, 10),
         "Time elapsed: 00:00:00 - Volume: 000% - L [......||||| |||||......] R\r"},
        {3725.9, 7, false, levels(128, 0),
         "Time elapsed: 01:02:05 - Volume: 007% - L [||||||||||| ...........] R\r"},
        {61.0, 55, true, levels(128, 128),
         "Time elapsed: 00:01:01 - Volume: 055% - L [......P.A.U.S.E.D......] R\r"},
        {0.0, 100, true, 0, "Time elapsed: n/a - Volume: 100% - L [......P.A.U.S.E.D......] R\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(status_line(c.seconds, c.volume, c.paused, c.level), c.line);
    }
}

TEST(PlaybackKeys, TerminalBytesToCodes) {
    using V = std::vector<int>;
    struct Case {
        std::string bytes;
        V codes;
    };
    const Case cases[] = {
        {" ", {0x20}},
        {"\x1b", {0x1B}},
        {"\x1b[A", {0xE0, 0x48}},
        {"\x1b[B", {0xE0, 0x50}},
        {"\x1bOA\x1bOB", {0xE0, 0x48, 0xE0, 0x50}},
        {"\x1b[1;5A", {0xE0, 0x48}},           // with a modifier
        {"\x1b[5~", {}},                        // page up: nothing
        {"\x1b[", {}},                          // cut off
        {"\x1b\x1b", {0x1B, 0x1B}},
        {"HP", {0x48, 0x50}},                   // act as UP and DOWN, as the prefix is not kept
        {"\x1b[B \x1b", {0xE0, 0x50, 0x20, 0x1B}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(platform::decode_key_bytes(c.bytes), c.codes);
    }
}

TEST(AudioMix, SlideWordRoundTrip) {
    const audio::Slide cases[] = {
        {0, 0, 100, 100, false},
        {0xFFFFFFFFu, 0xFFFF, 0, 100, true},
        {123456, 500, 87, 0, true},
    };
    for (const auto& s : cases) {
        const audio::Slide back = audio::unpack_slide(audio::pack_slide(s));
        EXPECT_EQ(back.start_ms, s.start_ms);
        EXPECT_EQ(back.duration_ms, s.duration_ms);
        EXPECT_EQ(back.from, s.from);
        EXPECT_EQ(back.to, s.to);
        EXPECT_EQ(back.stop_at_end, s.stop_at_end);
    }
}

TEST(AudioMix, SlideOverTime) {
    const audio::Slide fade{1000, 500, 100, 0, true};
    struct Case {
        double now;
        double volume;
        bool running;
        bool stopped;
    };
    const Case cases[] = {
        {1000, 100, true, false}, {1250, 50, true, false},
        {1499.9, 0.02, true, false}, {1500, 0, false, true},   {9000, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.now);
        EXPECT_NEAR(audio::slide_volume_at(fade, c.now), c.volume, 1e-6);
        EXPECT_EQ(audio::slide_running_at(fade, c.now), c.running);
        EXPECT_EQ(audio::slide_stopped_at(fade, c.now), c.stopped);
    }
    const audio::Slide instant{1000, 0, 0, 100, false};
    EXPECT_EQ(audio::slide_volume_at(instant, 1000), 100);
    EXPECT_FALSE(audio::slide_running_at(instant, 1000));
}

TEST(AudioMix, GainAndLevel) {
    struct Case {
        int16_t left, right;
        float gain_start, gain_end;
        int16_t out_left, out_right; // of the last frame
        uint32_t level;
    };
    const Case cases[] = {
        {32767, -32768, 1.0f, 1.0f, 32767, -32768, levels(128, 128)},
        {2560, -1280, 1.0f, 1.0f, 2560, -1280, levels(10, 5)},
        {10000, 0, 0.5f, 0.5f, 5000, 0, levels(20, 0)},
        {-20000, 20000, 0.0f, 0.0f, 0, 0, 0},
        {8000, 8000, 1.0f, 0.0f, 0, 0, levels(31, 31)}, // ramp down: the first frame is loudest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.left);
        std::vector<audio::StereoFrame> block(64, audio::StereoFrame{c.left, c.right});
        EXPECT_EQ(audio::apply_gain(block.data(), block.size(), c.gain_start, c.gain_end), c.level);
        EXPECT_EQ(block.back().left, c.out_left);
        EXPECT_EQ(block.back().right, c.out_right);
    }
}

// The producer writes a counting sequence in odd-sized pieces while the consumer reads it
// back in other sizes; every value must arrive once and in order across many wraparounds.
TEST(AudioRing, ProducerAndConsumerThreads) {
    audio::SpscRing<uint32_t> ring(1000);
    EXPECT_EQ(ring.capacity(), 1024u);
    constexpr uint32_t kTotal = 2'000'000;
    std::thread producer([&] {
        uint32_t next = 0;
        uint32_t chunk[37];
        while (next < kTotal) {
            const uint32_t n = std::min<uint32_t>(37, kTotal - next);
            for (uint32_t i = 0; i < n; ++i) chunk[i] = next + i;
            size_t done = 0;
            while (done < n) done += ring.write(chunk + done, n - done);
            next += n;
        }
    });
    uint32_t expected = 0;
    bool in_order = true;
    uint32_t got[53];
    while (expected < kTotal && in_order) {
        const size_t n = ring.read(got, 53);
        for (size_t i = 0; i < n; ++i) in_order = in_order && got[i] == expected++;
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(expected, kTotal);
    EXPECT_EQ(ring.size(), 0u);
}

TEST(PlaybackFile, ExtensionSearch) {
    test::TempDir dir;
    const std::string d = dir.path();
    for (const char* name : {"both.mp3", "both.wav", "solo.wav", "Mixed.OGG", "one.mp1",
                             "dotted.d/voice.mp2", "wavs/real.mp3"}) {
        if (std::string(name).find('/') != std::string::npos)
            std::filesystem::create_directories(std::filesystem::path(d + "/" + name).parent_path());
        ASSERT_TRUE(test::write_file(d + "/" + name, "x"));
    }
    std::filesystem::create_directories(d + "/dir.mp3");
    struct Case {
        std::string name;
        std::optional<std::string> found;
    };
    const Case cases[] = {
        {d + "/both", d + "/both.mp3"},               // .mp3 comes before .wav
        {d + "/solo", d + "/solo.wav"},
        {d + "/solo.txt", d + "/solo.wav"},           // another extension is replaced
        {d + "/MIXED", d + "/Mixed.OGG"},             // names match without regard to case
        {d + "/one", d + "/one.mp1"},
        {d + "/dotted.d/voice", d + "/dotted.d/voice.mp2"}, // a dot in a directory is no extension
        {d + "/dir", std::nullopt},                   // a directory is not a file to read
        {d + "/nothing", std::nullopt},
        {d + "/BOTH.WAV", d + "/both.wav"},           // holds "wav": taken as it is (case aside)
        {d + "/wavs/real", d + "/wavs/real"},         // holds "wav" in a directory: as it is
        {d + "/Gone.mp3", d + "/Gone.mp3"},           // as it is, though missing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find_sound_file(c.name), c.found);
    }
}

} // namespace
} // namespace tarvik

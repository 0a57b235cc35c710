// The audio facility on SDL's disk driver, which writes what would be heard to a file of raw
// 16-bit stereo samples at 44100 Hz.
#include "audio/audio.hpp"
#include "tests/support/test_support.hpp"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <thread>

namespace tarvik {
namespace {

using namespace std::chrono_literals;

std::vector<int16_t> read_shorts(const std::string& path, int* channels = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_short(f, samples.data(), info.frames);
    sf_close(f);
    if (channels) *channels = info.channels;
    return samples;
}

std::vector<int16_t> read_raw(const std::string& path) {
    const std::string bytes = test::read_file(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Samples from the first sounding frame on (the device plays silence until the stream
// starts, and a sine starts at zero).
std::vector<int16_t> from_first_sound(const std::vector<int16_t>& s) {
    size_t i = 0;
    while (i + 1 < s.size() && s[i] == 0 && s[i + 1] == 0) i += 2;
    return {s.begin() + static_cast<std::ptrdiff_t>(i), s.end()};
}

class AudioDevice : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", raw().c_str(), 1);
    }
    void TearDown() override {
        audio::free();
        audio::set_volume(100);
    }
    std::string raw() const { return dir_ / "out.raw"; }

    // Plays the stream from the start; true when it reached its end within the time limit.
    static bool play_to_end(audio::Handle h, std::chrono::seconds limit = 10s) {
        if (!audio::start() || !audio::stream_play(h)) return false;
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (audio::channel_get_position(h) == audio::stream_get_length(h)) return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    test::TempDir dir_;
};

TEST_F(AudioDevice, PlaysTheSamplesScaledByTheVolume) {
    const std::string wav = dir_ / "tone.wav";
    ASSERT_TRUE(test::write_wav(wav, {44100, 2, 0.5, 0, 440, 0.8}));
    int channels = 0;
    const std::vector<int16_t> in = from_first_sound(read_shorts(wav, &channels));
    ASSERT_EQ(channels, 2);

    for (const int volume : {100, 50}) {
        SCOPED_TRACE(volume);
        ASSERT_TRUE(audio::init(audio::kDefaultDevice, 44100)) << audio::error_code();
        ASSERT_TRUE(audio::set_volume(volume));
        EXPECT_EQ(audio::get_volume(), volume);
        const audio::Handle h = audio::stream_create_file(wav);
        ASSERT_NE(h, 0u) << audio::error_code();
        EXPECT_NEAR(audio::channel_bytes_to_seconds(h, audio::stream_get_length(h)), 0.5, 1e-3);
        ASSERT_TRUE(play_to_end(h));
        EXPECT_EQ(audio::stream_get_length(h), 22050u * 4);
        ASSERT_TRUE(audio::free());

        const std::vector<int16_t> out = from_first_sound(read_raw(raw()));
        ASSERT_GE(out.size(), in.size());
        int worst = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            const int expected = static_cast<int>(std::lrint(in[i] * volume / 100.0));
            worst = std::max(worst, std::abs(out[i] - expected));
        }
        EXPECT_LE(worst, volume == 100 ? 0 : 1);
        for (size_t i = in.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
    }
}

TEST_F(AudioDevice, ConvertsRateAndChannels) {
    const std::string wav = dir_ / "mono22.wav";
    ASSERT_TRUE(test::write_wav(wav, {22050, 1, 0.5, 0, 300, 0.5}));
    ASSERT_TRUE(audio::init(audio::kDefaultDevice, 44100));
    const audio::Handle h = audio::stream_create_file(wav);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(play_to_end(h));
    EXPECT_EQ(audio::stream_get_length(h), 11025u * 2); // the file's own rate and channels
    ASSERT_TRUE(audio::free());

    std::vector<int16_t> out = from_first_sound(read_raw(raw()));
    while (!out.empty() && out.back() == 0) out.pop_back();
    const size_t frames = out.size() / 2;
    EXPECT_NEAR(static_cast<double>(frames), 22050.0, 300.0); // half a second at 44100 Hz
    int peak = 0;
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        ASSERT_EQ(out[i], out[i + 1]) << "mono plays on both sides, frame " << i / 2;
        peak = std::max(peak, std::abs(int{out[i]}));
    }
    EXPECT_NEAR(peak, 16384, 600);
}

TEST_F(AudioDevice, PauseHoldsThePositionAndLevelFollowsTheSound) {
    const std::string wav = dir_ / "tone.wav";
    ASSERT_TRUE(test::write_wav(wav, {44100, 1, 1.5, 0, 440, 1.0}));
    ASSERT_TRUE(audio::init(audio::kDefaultDevice, 44100));
    const audio::Handle h = audio::stream_create_file(wav);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(audio::channel_get_position(h), 0u);
    ASSERT_TRUE(audio::start());
    ASSERT_TRUE(audio::stream_play(h));
    std::this_thread::sleep_for(300ms);
    const uint32_t level = audio::channel_get_level(h);
    EXPECT_GE(level & 0xFFFF, 120u);
    EXPECT_EQ(level & 0xFFFF, level >> 16);

    ASSERT_TRUE(audio::pause());
    const uint64_t held = audio::channel_get_position(h);
    EXPECT_GT(held, 0u);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(audio::channel_get_position(h), held);

    // A volume slide runs on the clock even while the device is held.
    const auto slid = std::chrono::steady_clock::now();
    ASSERT_TRUE(audio::channel_slide_attributes(h, -1, 0, -101, 400));
    EXPECT_TRUE(audio::channel_is_sliding(h));
    while (audio::channel_is_sliding(h) && std::chrono::steady_clock::now() - slid < 5s)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(audio::channel_is_sliding(h));
    EXPECT_GE(std::chrono::steady_clock::now() - slid, 390ms);
    ASSERT_TRUE(audio::channel_slide_attributes(h, -1, 100, -101, 1));

    ASSERT_TRUE(audio::start());
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (audio::channel_get_position(h) != audio::stream_get_length(h) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(audio::channel_get_position(h), 66150u * 2);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(audio::channel_get_level(h), 0u) << "nothing plays after the end";
}

TEST_F(AudioDevice, FadeOutStopsTheChannel) {
    const std::string wav = dir_ / "long.wav";
    ASSERT_TRUE(test::write_wav(wav, {44100, 2, 5.0, 0, 440, 0.5}));
    ASSERT_TRUE(audio::init(audio::kDefaultDevice, 44100));
    const audio::Handle h = audio::stream_create_file(wav);
    ASSERT_TRUE(audio::start());
    ASSERT_TRUE(audio::stream_play(h));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(audio::channel_slide_attributes(h, 0, -1, -101, 700)); // slides nothing
    EXPECT_FALSE(audio::channel_is_sliding(h));
    ASSERT_TRUE(audio::channel_slide_attributes(h, -1, -2, -101, 300));
    EXPECT_TRUE(audio::channel_is_sliding(h));
    const auto begun = std::chrono::steady_clock::now();
    while (audio::channel_is_sliding(h)) std::this_thread::sleep_for(1ms);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 1s);
    std::this_thread::sleep_for(100ms);
    const uint64_t stopped_at = audio::channel_get_position(h);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(audio::channel_get_position(h), stopped_at);
    EXPECT_LT(stopped_at, audio::stream_get_length(h));
    EXPECT_EQ(audio::channel_get_level(h), 0u);
    EXPECT_FALSE(audio::channel_slide_attributes(h, -1, 100, -101, 1));
    EXPECT_EQ(audio::error_code(), audio::kErrorNotPlaying);
}

TEST_F(AudioDevice, ErrorCodes) {
    const std::string garbage = dir_ / "garbage.wav";
    ASSERT_TRUE(test::write_file(garbage, std::string(5000, 'x')));
    const std::string wav = dir_ / "tone.wav";
    ASSERT_TRUE(test::write_wav(wav, {44100, 1, 0.2, 0, 440, 0.5}));

    EXPECT_EQ(audio::stream_create_file(wav), 0u);
    EXPECT_EQ(audio::error_code(), audio::kErrorInit);
    EXPECT_FALSE(audio::start());
    EXPECT_EQ(audio::error_code(), audio::kErrorInit);

    ASSERT_TRUE(audio::init(audio::kDefaultDevice, 44100));
    EXPECT_FALSE(audio::init(audio::kDefaultDevice, 44100));
    EXPECT_EQ(audio::error_code(), audio::kErrorAlready);
    EXPECT_EQ(audio::stream_create_file(dir_ / "missing.wav"), 0u);
    EXPECT_EQ(audio::error_code(), audio::kErrorFileOpen);
    EXPECT_EQ(audio::stream_create_file(garbage), 0u);
    EXPECT_EQ(audio::error_code(), audio::kErrorFileForm);
    EXPECT_FALSE(audio::set_volume(101));
    EXPECT_EQ(audio::error_code(), audio::kErrorIllParam);
    EXPECT_EQ(audio::get_volume(), 100);

    const audio::Handle h = audio::stream_create_file(wav);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(audio::stream_create_file(wav), 0u);
    EXPECT_EQ(audio::error_code(), audio::kErrorAlready);
    EXPECT_FALSE(audio::channel_slide_attributes(h, -1, 50, 0, 10)); // pan is not offered
    EXPECT_EQ(audio::error_code(), audio::kErrorIllParam);
    EXPECT_FALSE(audio::channel_slide_attributes(h, 22050, 50, -101, 10));
    EXPECT_EQ(audio::error_code(), audio::kErrorIllParam);
    EXPECT_EQ(audio::channel_get_position(h + 1), audio::kBadPosition);
    EXPECT_EQ(audio::error_code(), audio::kErrorHandle);
    ASSERT_TRUE(audio::stream_free(h));
    EXPECT_FALSE(audio::stream_play(h)); // freed
    EXPECT_EQ(audio::error_code(), audio::kErrorHandle);
    ASSERT_TRUE(audio::free());

    EXPECT_FALSE(audio::init(99, 44100));
    EXPECT_EQ(audio::error_code(), audio::kErrorDevice);
    // No sound output at all: the dummy driver, or a driver that is not there.
    for (const char* driver : {"dummy", "no-such-driver"}) {
        setenv("SDL_AUDIODRIVER", driver, 1);
        EXPECT_FALSE(audio::init(audio::kDefaultDevice, 44100)) << driver;
        EXPECT_EQ(audio::error_code(), audio::kErrorDriver) << driver;
    }
}

TEST(AudioVersion, IsTheRunningSdl) {
    const uint32_t v = audio::get_version();
    EXPECT_EQ(v & 0xFFFF, 2u);
    EXPECT_GT(v >> 16, 0u);
    EXPECT_TRUE(audio::version_compatible());
}

} // namespace
} // namespace tarvik

// Inputs on which the fuzz targets (tests/fuzz/) found faults, replayed in the normal and the
// sanitizer builds. The inputs are generated here; each case names what went wrong.
#include "common/console_out.hpp"
#include "encoder/binding.hpp"
#include "encoder/encoding.hpp"
#include "encoder/wav_inspect.hpp"
#include "tests/support/test_support.hpp"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvik::test;

namespace {

constexpr uint16_t kFloat = 3;

template <typename T> std::string bytes_of(const std::vector<T>& values) {
    std::string s(values.size() * sizeof(T), '\0');
    std::memcpy(s.data(), values.data(), s.size());
    return s;
}

// `frames` frames of `channels` channels, the values of `pattern` repeated.
template <typename T>
std::vector<T> repeated(const std::vector<T>& pattern, size_t frames, int channels) {
    std::vector<T> v(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = pattern[i % pattern.size()];
    return v;
}

struct Replay {
    bool inspected = false; // probe_wav and get_wav_specs accepted the file
    bool encoded = false;
    std::string console;
};

// The WAV encode target's steps on one input file, with the run settings it derives from
// `pick` (the last byte of its input): bit rate, mode, VBR, call order and encode options.
Replay replay_wav_encode(const std::string& wav, const std::string& mp3, uint8_t pick) {
    static constexpr uint16_t kBitRates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                             96, 112, 128, 144, 160, 192, 224, 256, 320};
    tarvik::RunSettings settings;
    settings.bit_rate = kBitRates[pick % 18];
    settings.mode = static_cast<uint8_t>((pick >> 2) & 3);
    settings.vbr_quality = (pick & 0x40) ? pick % 10 : -1;
    Replay r;
    BE_CONFIG config = tarvik::build_config(settings);
    if (!tarvik::probe_wav(wav, config, settings, true)) return r;
    if (!(pick & 0x08)) tarvik::adjust_config(config, settings);
    if (!tarvik::get_wav_specs(wav, config, settings)) return r;
    r.inspected = true;
    tarvik::EncodeOptions options;
    options.show_bar = pick & 0x10;
    options.no_click = pick & 0x20;
    options.progress = pick & 0x80;
    tarvik::ConsoleOut out(&r.console);
    r.encoded = tarvik::encode_mp3(config, wav, mp3, options, out).ok;
    return r;
}

float peak(const std::vector<float>& samples) {
    float p = 0;
    for (float x : samples)
        p = std::max(p, std::fabs(x));
    return p;
}

bool all_finite(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float x) { return std::isfinite(x); });
}

class FuzzRegressions : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { lame_loaded = tarvik::load_lame(bin_dir()); }
    void SetUp() override {
        ASSERT_TRUE(lame_loaded) << "lame_enc.so not found beside the programs";
    }
    static inline bool lame_loaded = false;
};

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

} // namespace

// Float WAVs holding not-a-number samples: converting such a sample to 16 bits was undefined
// behaviour (found by wav_encode_fuzz). They must encode, and the not-a-number stretches are
// silence. Full-scale overshoot and infinities are clamped.
TEST_F(FuzzRegressions, NotANumberFloatSamplesEncodeAsSilence) {
    struct Case {
        const char* label;
        uint16_t bits;
        int channels;
        uint32_t rate;
        uint8_t pick;
    };
    const Case cases[] = {
        {"float mono, bar", 32, 1, 44100, 0x90},
        {"float stereo, numeric progress, no click", 32, 2, 22050, 0xA1},
        {"float 6 channels mixed down, VBR, batch order", 32, 6, 48000, 0x4C},
        {"double mono, joint stereo asked", 64, 1, 16000, 0x84},
        {"double stereo, dual channel", 64, 2, 32000, 0x9B},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const size_t frames = c.rate / 5; // 0.2 s
        for (const bool only_nan : {true, false}) {
            SCOPED_TRACE(only_nan ? "only not-a-number" : "extremes");
            const std::vector<float> pattern =
                only_nan ? std::vector<float>{kNaN}
                         : std::vector<float>{kNaN,  0.25f, kInf,   -kInf, 1e30f,
                                              -7.0f, 1.5f,  -0.25f, kNaN};
            std::string payload;
            if (c.bits == 32) {
                payload = bytes_of(repeated(pattern, frames, c.channels));
            } else {
                std::vector<double> doubles(pattern.begin(), pattern.end());
                payload = bytes_of(repeated(doubles, frames, c.channels));
            }
            TempDir t;
            ASSERT_TRUE(write_file(t / "in.wav", riff_wav(kFloat, static_cast<uint16_t>(c.channels),
                                                          c.rate, c.bits, payload)));
            const Replay r = replay_wav_encode(t / "in.wav", t / "out.mp3", c.pick);
            ASSERT_TRUE(r.inspected);
            ASSERT_TRUE(r.encoded) << r.console;
            const std::vector<float> decoded = decode(t / "out.mp3");
            ASSERT_FALSE(decoded.empty());
            EXPECT_TRUE(all_finite(decoded));
            if (only_nan)
                EXPECT_LT(peak(decoded), 0.001f);
            else
                EXPECT_LE(peak(decoded), 1.2f); // clamped to full scale, plus MP3 overshoot
        }
    }
}

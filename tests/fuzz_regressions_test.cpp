// Inputs on which the fuzz targets (tests/fuzz/) found faults, replayed in the normal and the
// sanitizer builds. The inputs are generated here; each case names what went wrong.
#include "common/console_out.hpp"
#include "encoder/binding.hpp"
#include "encoder/encoding.hpp"
#include "tests/support/test_support.hpp"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tarvik::test;

namespace {

// The WAV encode target's steps on one input file, with the run settings it derives from
// `pick` (the last byte of its input, as the target once read it). False, with the reason in
// `console`, on a refusal.
bool replay_wav_encode(const std::string& wav, const std::string& mp3, uint8_t pick,
                       std::string& console) {
    static constexpr uint16_t kBitRates[] = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                             96, 112, 128, 144, 160, 192, 224, 256, 320};
    tarvik::RunSettings settings;
    settings.bit_rate = kBitRates[pick % 18];
    settings.mode = static_cast<uint8_t>((pick >> 2) & 3);
    settings.vbr_quality = (pick & 0x40) ? pick % 10 : -1;
    console = "refused by the inspection";
    tarvik::InputWav input;
    if (!input.open(wav) || !input.audio()) return false;
    console.clear();
    tarvik::ConsoleOut out(&console);
    tarvik::ConsoleSink sink(out, pick & 0x10);
    tarvik::EncodeOptions options;
    options.no_click = pick & 0x20;
    return tarvik::encode_mp3(tarvik::plan(settings, input.facts()), input, mp3, options, sink).ok;
}

} // namespace

// Float WAVs holding not-a-number samples: converting such a sample to 16 bits was undefined
// behaviour (found by wav_encode_fuzz). They must encode, and the not-a-number stretches are
// silence. Full-scale overshoot and infinities are clamped.
TEST(FuzzRegressions, NotANumberFloatSamplesEncodeAsSilence) {
    ASSERT_TRUE(tarvik::load_lame(bin_dir())) << "lame_enc.so not found beside the programs";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* label;
        int bits, channels;
        uint32_t rate;
        uint8_t pick;
    } cases[] = {
        {"float mono, bar", 32, 1, 44100, 0x90},
        {"float stereo, numeric progress, no click", 32, 2, 22050, 0xA1},
        {"float 6 channels mixed down, VBR, batch order", 32, 6, 48000, 0x4C},
        {"double mono, joint stereo asked", 64, 1, 16000, 0x84},
        {"double stereo, dual channel", 64, 2, 32000, 0x9B},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (const bool only_nan : {true, false}) {
            SCOPED_TRACE(only_nan ? "only not-a-number" : "extremes");
            const std::vector<float> pattern =
                only_nan
                    ? std::vector<float>{nan}
                    : std::vector<float>{nan, 0.25f, inf, -inf, 1e30f, -7.0f, 1.5f, -0.25f, nan};
            std::string payload; // 0.2 s of the pattern repeated
            for (size_t i = 0; i < c.rate / 5 * c.channels; ++i) {
                const float f = pattern[i % pattern.size()];
                const double d = f;
                payload.append(c.bits == 32 ? reinterpret_cast<const char*>(&f)
                                            : reinterpret_cast<const char*>(&d),
                               c.bits / 8);
            }
            TempDir t;
            ASSERT_TRUE(write_file(t / "in.wav", riff_wav(3, c.channels, c.rate, c.bits, payload)));
            std::string console;
            ASSERT_TRUE(replay_wav_encode(t / "in.wav", t / "out.mp3", c.pick, console)) << console;
            const std::vector<float> decoded = decode(t / "out.mp3");
            ASSERT_FALSE(decoded.empty());
            float peak = 0;
            for (const float x : decoded) {
                ASSERT_TRUE(std::isfinite(x));
                peak = std::max(peak, std::fabs(x));
            }
            // Silence, or clamped to full scale plus the MP3's overshoot.
            EXPECT_LE(peak, only_nan ? 0.001f : 1.2f);
        }
    }
}

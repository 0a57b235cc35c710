// The planning step: from the request and the input's rate and channels, the MP3's rate, MPEG
// version, channel mode and bit rate range. Expected values follow MPEG's rules: MPEG-1 is 32,
// 44.1 and 48 kHz at 32..320 kbps; MPEG-2 is 16..24 kHz at 8..160 kbps; MPEG-2.5 is 8..12 kHz,
// where the encoder writes 8..64 kbps. Another rate is written at the nearest MPEG rate.
#include "encoder/plan.hpp"

#include <gtest/gtest.h>

namespace {

using namespace tarvik;

constexpr uint8_t S = kModeStereo, J = kModeJointStereo, D = kModeDual, M = kModeMono;
constexpr int kUntyped = 0; // no -bitrate: the default 64 kbps
constexpr int kCbr = -1;

struct Case {
    const char* label;
    uint32_t rate;
    int channels;
    uint8_t asked_mode;
    int kbps; // typed bit rate, or kUntyped
    int vbr;  // VBR quality, or kCbr
    uint32_t out_rate;
    bool mpeg1;
    uint8_t mode;
    int low, high;
};

const Case kCases[] = {
    // The default 64 kbps mono stays 64 for one channel.
    {"mono default", 44100, 1, M, kUntyped, kCbr, 44100, true, M, 64, 64},
    // Two channels and a mono request: joint stereo, the default doubled to 128 (<= 192: joint).
    {"stereo default", 44100, 2, M, kUntyped, kCbr, 44100, true, J, 128, 128},
    // A typed 64 is never doubled.
    {"stereo typed 64", 44100, 2, M, 64, kCbr, 44100, true, J, 64, 64},
    // One input channel is mono whatever the request.
    {"mono input, stereo asked", 48000, 1, S, 320, kCbr, 48000, true, M, 320, 320},
    // 96 kHz is written at 48 kHz (MPEG-1); 320 kbps is above 192: independent stereo.
    {"96k stereo 320", 96000, 2, J, 320, kCbr, 48000, true, S, 320, 320},
    // 224 kbps and above: independent stereo even when joint was asked.
    {"44.1k jstereo 224", 44100, 2, J, 224, kCbr, 44100, true, S, 224, 224},
    // MPEG-1 has no 144: the next one up is 160; joint stereo.
    {"44.1k 144", 44100, 2, S, 144, kCbr, 44100, true, J, 160, 160},
    // MPEG-2 has 144, and at 144 kbps the requested mode stands.
    {"22.05k stereo 144", 22050, 2, S, 144, kCbr, 22050, false, S, 144, 144},
    // MPEG-2 tops out at 160: a typed 192 becomes 160, joint stereo.
    {"22.05k 192", 22050, 2, J, 192, kCbr, 22050, false, J, 160, 160},
    {"24k 320", 24000, 2, S, 320, kCbr, 24000, false, J, 160, 160},
    // MPEG-1 starts at 32: a typed 8 becomes 32.
    {"44.1k typed 8", 44100, 1, M, 8, kCbr, 44100, true, M, 32, 32},
    // MPEG-2.5 allows 8 kbps; at 8 kbps even a stereo request is encoded as mono.
    {"8k typed 8", 8000, 1, M, 8, kCbr, 8000, false, M, 8, 8},
    {"8k stereo typed 8", 8000, 2, S, 8, kCbr, 8000, false, M, 8, 8},
    // 11.025 kHz stops at 64: the doubled default 128 comes back to 64.
    {"11.025k stereo default", 11025, 2, M, kUntyped, kCbr, 11025, false, J, 64, 64},
    // 1 Hz is nearest to 8000 Hz; the default 64 fits MPEG-2.5.
    {"1 Hz", 1, 1, M, kUntyped, kCbr, 8000, false, M, 64, 64},
    // 12 kHz: 12000 is an MPEG-2.5 rate itself.
    {"12k 320", 12000, 1, M, 320, kCbr, 12000, false, M, 64, 64},
    // More than two channels keep the request (mono: mixed down); the default is doubled.
    {"6 channels mono", 22050, 6, M, kUntyped, kCbr, 22050, false, M, 128, 128},
    {"4 channels dual", 32000, 4, D, kUntyped, kCbr, 32000, true, D, 128, 128},
    {"2 channels dual 320", 44100, 2, D, 320, kCbr, 44100, true, D, 320, 320},
    // VBR without a typed bit rate ranges over the whole class; the mode follows the doubled
    // default (128: joint).
    {"48k VBR", 48000, 2, M, kUntyped, 4, 48000, true, J, 32, 320},
    {"16k VBR", 16000, 1, M, kUntyped, 0, 16000, false, M, 8, 160},
    {"12k VBR", 12000, 1, M, kUntyped, 9, 12000, false, M, 8, 64},
    // A typed bit rate is the VBR floor, fitted to the class: 96 at 16 kHz; 8 at 32 kHz is 32.
    {"16k VBR floor 96", 16000, 1, M, 96, 2, 16000, false, M, 96, 160},
    {"32k VBR floor 8", 32000, 2, S, 8, 5, 32000, true, J, 32, 320},
    {"22.05k VBR floor 320", 22050, 2, S, 320, 1, 22050, false, J, 160, 160},
};

TEST(Plan, FollowsMpegRules) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        RunSettings asked;
        asked.mode = c.asked_mode;
        asked.bit_rate_given = c.kbps != kUntyped;
        asked.bit_rate = asked.bit_rate_given ? static_cast<uint16_t>(c.kbps) : 64;
        asked.vbr_quality = c.vbr;
        const Plan p = plan(asked, InputFacts{c.rate, c.channels, 1000});
        EXPECT_EQ(p.input_rate, c.rate);
        EXPECT_EQ(p.output_rate, c.out_rate);
        EXPECT_EQ(p.mpeg1, c.mpeg1);
        EXPECT_EQ(int{p.mode}, int{c.mode});
        EXPECT_EQ(p.low_kbps, c.low);
        EXPECT_EQ(p.high_kbps, c.high);
        EXPECT_EQ(p.vbr_quality, c.vbr);
    }
}

// A silence is planned as an input of its own rate, with two channels unless mono is asked.
TEST(Plan, SilenceIsAnInputOfTheRequest) {
    RunSettings asked;
    asked.sample_rate = 22050;
    asked.mode = kModeStereo;
    const InputFacts f = silence_facts(asked, 3);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.frames, 3 * 22050);
    // Two channels double the default: 128 fits MPEG-2 and calls for joint stereo.
    const Plan p = plan(asked, f);
    EXPECT_EQ(int{p.mode}, int{kModeJointStereo});
    EXPECT_EQ(p.low_kbps, 128);
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later
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

// Rates, channels and bit rates that the end-to-end encoding tests do not meet.
const Case kCases[] = {
    // 224 kbps and above: independent stereo even when joint was asked.
    {"44.1k jstereo 224", 44100, 2, J, 224, kCbr, 44100, true, S, 224, 224},
    // MPEG-1 has no 144: the next one up is 160; joint stereo.
    {"44.1k 144", 44100, 2, S, 144, kCbr, 44100, true, J, 160, 160},
    // At 8 kbps even a stereo request is encoded as mono.
    {"8k stereo typed 8", 8000, 2, S, 8, kCbr, 8000, false, M, 8, 8},
    // 1 Hz is nearest to 8000 Hz; the default 64 fits MPEG-2.5.
    {"1 Hz", 1, 1, M, kUntyped, kCbr, 8000, false, M, 64, 64},
    // More than two channels keep the request (mono: mixed down); the default is doubled.
    {"6 channels mono", 22050, 6, M, kUntyped, kCbr, 22050, false, M, 128, 128},
    {"4 channels dual", 32000, 4, D, kUntyped, kCbr, 32000, true, D, 128, 128},
    // VBR without a typed bit rate ranges over the whole class; the mode follows the doubled
    // default (128: joint).
    {"48k VBR", 48000, 2, M, kUntyped, 4, 48000, true, J, 32, 320},
    {"12k VBR", 12000, 1, M, kUntyped, 9, 12000, false, M, 8, 64},
    // A typed bit rate is the VBR floor, fitted to the class: 8 at 32 kHz is 32.
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
        EXPECT_EQ(p.output_rate, c.out_rate);
        EXPECT_EQ(p.mpeg1, c.mpeg1);
        EXPECT_EQ(int{p.mode}, int{c.mode});
        EXPECT_EQ(p.low_kbps, c.low);
        EXPECT_EQ(p.high_kbps, c.high);
    }
}

} // namespace

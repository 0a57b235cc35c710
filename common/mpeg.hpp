// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG audio facts: the sample rates an MP3 can have and the bit rates each MPEG version
// allows. Every list of rates or bit rates the programs show or check is derived from these.
#pragma once

#include <array>
#include <cstdint>

namespace tarvik {

// MPEG's nine sample rates, and the bit rates of MPEG-1 and of MPEG-2/2.5, in kbps (also the
// order of the frame header's bit-rate index, from 1).
inline constexpr std::array<uint32_t, 9> kMpegRates{8000,  11025, 12000, 16000, 22050,
                                                    24000, 32000, 44100, 48000};
inline constexpr std::array<uint16_t, 14> kMpeg1Kbps{32,  40,  48,  56,  64,  80,  96,
                                                     112, 128, 160, 192, 224, 256, 320};
inline constexpr std::array<uint16_t, 14> kMpeg2Kbps{8,  16, 24, 32,  40,  48,  56,
                                                     64, 80, 96, 112, 128, 144, 160};

// MPEG-1 rates are 32, 44.1 and 48 kHz; the lower six are MPEG-2 and MPEG-2.5.
constexpr bool is_mpeg1_rate(uint32_t rate) {
    return rate == 32000 || rate == 44100 || rate == 48000;
}

// What the encoder makes of an input rate: the MPEG rate it writes (a rate outside MPEG's
// nine is resampled to the nearest of them) and the bit rates that rate allows.
struct MpegClass {
    uint32_t rate = 44100;   // the MP3's sample rate
    uint16_t min_kbps = 32;  // lowest bit rate of the class
    uint16_t max_kbps = 320; // highest one the encoder writes (64 at 8 to 12 kHz)
    constexpr bool mpeg1() const { return is_mpeg1_rate(rate); }
};

constexpr MpegClass mpeg_class(uint32_t input_rate) {
    // The nearest MPEG rate (the higher one on a tie): 96000 Hz becomes 48000 Hz.
    uint32_t rate = kMpegRates[0];
    for (uint32_t r : kMpegRates) {
        const auto distance = [&](uint32_t x) {
            return x > input_rate ? x - input_rate : input_rate - x;
        };
        if (distance(r) <= distance(rate)) rate = r;
    }
    if (is_mpeg1_rate(rate)) return {rate, 32, 320};
    // Below 16 kHz (MPEG-2.5) the encoder writes no frame above 64 kbps.
    return {rate, 8, static_cast<uint16_t>(rate >= 16000 ? 160 : 64)};
}

// A bit rate request made legal for a class: the lowest allowed rate at or above it, else the
// class's highest (MPEG-1 makes 8 to 24 into 32 and 144 into 160; MPEG-2 192 and above into
// 160; 8 to 12 kHz everything above 64 into 64).
constexpr uint16_t fit_bit_rate(uint16_t kbps, const MpegClass& mpeg) {
    const auto& allowed = mpeg.mpeg1() ? kMpeg1Kbps : kMpeg2Kbps;
    for (uint16_t a : allowed)
        if (a >= kbps && a <= mpeg.max_kbps) return a;
    return mpeg.max_kbps;
}

} // namespace tarvik

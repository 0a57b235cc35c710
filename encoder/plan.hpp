// SPDX-License-Identifier: GPL-3.0-or-later
// The planning step of a conversion: from the settings the user asked for and the facts of the
// input, everything the encoder is set to (output rate, MPEG version, channel mode, bit rate or
// VBR range). Pure: no file is read, nothing is printed.
#pragma once

#include "encoder/run_state.hpp"
#include "lame_enc.h"

#include <cstdint>
#include <string>

namespace tarvik {

// What the input's header says: its rate, its channels and its length in frames.
struct InputFacts {
    uint32_t rate = 0;
    int channels = 0;
    int64_t frames = 0;
    double seconds() const { return rate > 0 ? static_cast<double>(frames) / rate : 0.0; }
};

struct Plan {
    uint32_t input_rate = 44100;  // the rate the encoder is fed
    uint32_t output_rate = 44100; // the MP3's rate: the nearest MPEG rate
    bool mpeg1 = true;
    uint8_t mode = kModeMono;
    uint16_t low_kbps = 64;   // the bit rate; with VBR, the lowest one
    uint16_t high_kbps = 64;  // equal to low_kbps for a constant bit rate
    int32_t vbr_quality = -1; // -1: constant bit rate
    // -loudness with a target: the gain every sample gets before it is encoded, in dB (set from
    // the line's measurement); 0: the samples go to the encoder as read.
    double gain_db = 0;
    bool vbr() const { return vbr_quality != -1; }
    int output_channels() const { return mode == kModeMono ? 1 : 2; }
    bool operator==(const Plan&) const = default;
};

// The plan for an input. One channel is encoded as mono; two, when mono was asked for, as joint
// stereo. The default 64 kbps (not a typed 64) becomes 128 for more than one input channel.
// The bit rate is fitted to the output rate's MPEG class; VBR ranges over the whole class, from
// a typed bit rate when there is one. The channel mode then follows the bit rate unless mono or
// dual channel was asked for.
Plan plan(const RunSettings& requested, const InputFacts& facts);

// The bit rate asked for: the default 64 kbps (not a typed 64) becomes 128 for more than one
// input channel. plan() fits it to the output rate.
uint16_t requested_bit_rate(const RunSettings& requested, const InputFacts& facts);

// The facts of a silence of `seconds` at the requested rate: one channel for mono, else two.
InputFacts silence_facts(const RunSettings& requested, long long seconds);

// The encoder library's record for a plan (every other byte zero).
BE_CONFIG encoder_config(const Plan& plan);

// The name "Final settings" prints for a channel mode.
const char* mode_name(uint8_t mode);

// The "Final settings" lines: the output rate, the mode, and the bit rate or VBR range.
std::string final_settings_text(const Plan& plan);

} // namespace tarvik

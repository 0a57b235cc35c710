// SPDX-License-Identifier: GPL-3.0-or-later
// The loudness of a voice line by EBU R 128 (libebur128, called only here): its integrated
// loudness and true peak, and the gain that brings it to a target without letting its true
// peak pass a ceiling. What the user sees of them is outcome_view's.
#pragma once

#include "common/audio_source.hpp"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

// The targets -loudness takes, in LUFS.
inline constexpr int kMinLoudnessTarget = -40;
inline constexpr int kMaxLoudnessTarget = -5;
// The highest true peak a gain may lead to, in dBTP.
inline constexpr double kTruePeakCeiling = -1.0;
// The summary names the lines further than this from the median or the target, in LU.
inline constexpr double kLoudnessOutlierLu = 2.0;
// EBU R 128's gating block (the shortest line it measures) and absolute gate.
inline constexpr double kGatingBlockSeconds = 0.4;
inline constexpr double kAbsoluteGateLufs = -70.0;

struct LoudnessMeasure {
    enum class Kind : uint8_t {
        Measured,
        TooShort, // shorter than one gating block
        Silent,   // every block below the absolute gate
    };
    Kind kind = Kind::Silent;
    double lufs = 0;      // integrated loudness, when Measured
    double true_peak = 0; // dBTP; minus infinity for digital silence
};

// What a line gets: a gain in dB, lowered below what the target asks where the true peak
// would otherwise pass kTruePeakCeiling.
struct LoudnessGain {
    double db = 0;
    bool limited = false;
};

struct LineLoudness {
    std::string wav; // the line as named
    LoudnessMeasure measured;
    std::optional<LoudnessGain> gain; // with a target, for a measured line
    // The loudness of the MP3: the measured one moved by the gain.
    double lufs_out() const { return measured.lufs + (gain ? gain->db : 0.0); }
};

// Reads `audio` to its end as the encoder will be fed it (`rate`, `channels` 1 or 2: mono
// counted once, stereo as left and right) and measures it. nullopt when a read fails or
// `cancel` is set.
std::optional<LoudnessMeasure> measure_loudness(AudioSource& audio, uint32_t rate, int channels,
                                                const std::atomic<bool>* cancel);

// The gain that brings a measured line to `target` LUFS, lowered to keep its true peak at or
// below kTruePeakCeiling; nullopt for a line that is left as it is (too short, or silent).
std::optional<LoudnessGain> loudness_gain(const LoudnessMeasure& measured, double target);

} // namespace tarvik

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
// A line with a target is encoded again while its MP3 reads further than this from the
// target (in LU), up to kMaxLoudnessEncodes encodes in all; the MP3 nearest it is kept.
inline constexpr double kLoudnessTolerance = 0.1;
inline constexpr int kMaxLoudnessEncodes = 3;
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
    // What the measures of the encoded MP3 added to the gain the WAV called for (the encoder's
    // loss of loudness), and the loudness of the MP3 at `db`; nullopt when not measured.
    double correction = 0;
    std::optional<double> mp3_lufs;
};

struct LineLoudness {
    std::string wav; // the line as named
    LoudnessMeasure measured;
    std::optional<LoudnessGain> gain; // with a target, for a measured line
    // The loudness of the MP3: as measured on it, or else the WAV's moved by the gain.
    double lufs_out() const {
        if (gain && gain->mp3_lufs) return *gain->mp3_lufs;
        return measured.lufs + (gain ? gain->db : 0.0);
    }
};

// Reads `audio` to its end as the encoder will be fed it (`rate`, `channels` 1 or 2: mono
// counted once, stereo as left and right) and measures it. nullopt when a read fails or
// `cancel` is set.
std::optional<LoudnessMeasure> measure_loudness(AudioSource& audio, uint32_t rate, int channels,
                                                const std::atomic<bool>* cancel);

// The integrated loudness of a sound file by its path (an MP3 just encoded, decoded by
// libsndfile, which honours its length tag) at its own rate, read as `channels` channels.
// nullopt when it cannot be opened or read, is too short or silent, or `cancel` is set.
std::optional<double> integrated_loudness_of(const std::string& path, int channels,
                                             const std::atomic<bool>* cancel);

// The gain that brings a measured line to `target` LUFS, lowered to keep its true peak at or
// below kTruePeakCeiling; nullopt for a line that is left as it is (too short, or silent).
std::optional<LoudnessGain> loudness_gain(const LoudnessMeasure& measured, double target);

// The gain for another encode of a line measured as `wav`, whose MP3 encoded at `gain_db` read
// `mp3_lufs`; nullopt when that is within kLoudnessTolerance of `target`. The gain moves by the
// MP3's distance from the target (the encoder's loss scales with the gain, nearly) and is
// lowered as loudness_gain lowers it.
std::optional<LoudnessGain> next_gain(const LoudnessMeasure& wav, double gain_db, double mp3_lufs,
                                      double target);

} // namespace tarvik

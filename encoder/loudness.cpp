// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/loudness.hpp"

#include "platform/files.hpp"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <vector>

namespace tarvik {

namespace {

struct MeterFree {
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};

// A meter fed a whole line, and the frames it took; a null state when a read failed or the
// job was cancelled.
struct Metered {
    std::unique_ptr<ebur128_state, MeterFree> state;
    int64_t frames = 0;
};

// Feeds `audio` to its end into a meter of `mode` (libebur128's flags). Channels 0 and 1 are
// left and right by default; a single one is counted once.
Metered meter(AudioSource& audio, uint32_t rate, int channels, int mode,
              const std::atomic<bool>* cancel) {
    Metered m;
    m.state.reset(ebur128_init(static_cast<unsigned>(channels), rate, mode));
    if (!m.state) return m;
    constexpr size_t kFrames = 8192;
    std::vector<float> block(kFrames * static_cast<size_t>(channels));
    for (;;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return {};
        const size_t got = audio.read(block.data(), kFrames, channels);
        if (got == 0) break;
        if (ebur128_add_frames_float(m.state.get(), block.data(), got) != EBUR128_SUCCESS)
            return {};
        m.frames += static_cast<int64_t>(got);
    }
    if (audio.read_failed()) return {};
    return m;
}

} // namespace

std::optional<LoudnessMeasure> measure_loudness(AudioSource& audio, uint32_t rate, int channels,
                                                const std::atomic<bool>* cancel) {
    const Metered metered =
        meter(audio, rate, channels, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK, cancel);
    ebur128_state* state = metered.state.get();
    if (!state) return std::nullopt;

    LoudnessMeasure m;
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
        double channel_peak = 0;
        ebur128_true_peak(state, static_cast<unsigned>(c), &channel_peak);
        peak = std::max(peak, channel_peak);
    }
    m.true_peak = 20.0 * std::log10(peak); // -infinity for 0
    double lufs = -HUGE_VAL;
    ebur128_loudness_global(state, &lufs);
    if (std::isfinite(lufs)) {
        m.kind = LoudnessMeasure::Kind::Measured;
        m.lufs = lufs;
    } else {
        const bool short_line = static_cast<double>(metered.frames) < kGatingBlockSeconds * rate;
        m.kind = short_line ? LoudnessMeasure::Kind::TooShort : LoudnessMeasure::Kind::Silent;
    }
    return m;
}

std::optional<double> integrated_loudness_of(const std::string& path, int channels,
                                             const std::atomic<bool>* cancel) {
    const platform::RegularFile file = platform::open_regular_file(path);
    if (!file) return std::nullopt;
    AudioSource audio = AudioSource::from_descriptor(file.fd.get());
    if (!audio.ok()) return std::nullopt;
    const Metered metered = meter(audio, static_cast<uint32_t>(audio.facts().sample_rate), channels,
                                  EBUR128_MODE_I, cancel);
    double lufs = -HUGE_VAL;
    if (metered.state) ebur128_loudness_global(metered.state.get(), &lufs);
    return std::isfinite(lufs) ? std::optional(lufs) : std::nullopt;
}

std::optional<LoudnessGain> loudness_gain(const LoudnessMeasure& measured, double target) {
    if (measured.kind != LoudnessMeasure::Kind::Measured) return std::nullopt;
    const double wanted = target - measured.lufs;
    const double allowed = kTruePeakCeiling - measured.true_peak;
    LoudnessGain gain;
    gain.limited = wanted > allowed;
    gain.db = gain.limited ? allowed : wanted;
    return gain;
}

std::optional<LoudnessGain> next_gain(const LoudnessMeasure& wav, double gain_db, double mp3_lufs,
                                      double target) {
    if (std::abs(target - mp3_lufs) <= kLoudnessTolerance) return std::nullopt;
    LoudnessMeasure heard = wav;
    heard.lufs = mp3_lufs - gain_db; // the line's loudness as its MP3 has it
    return loudness_gain(heard, target);
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/analyzer.hpp"

#include <algorithm>
#include <cmath>

namespace tarvik::lipsync {

namespace {

constexpr float kSilenceDb = -100;
constexpr float kHistogramTopDb = 12;
constexpr float kHistogramStepDb = 0.5f;
// Frames quieter than this hold no formants worth the effort (16-bit dither is near -100).
constexpr float kLpcMinLevelDb = -85;
// A crossing of zero counts only past this amplitude, so that dither and low hiss in pauses
// do not read as fricatives.
constexpr float kCrossingDeadZone = 3e-4f;
// Pre-emphasis before linear prediction: enough to level the spectrum, not so much that a
// low F1 drifts up towards the second pitch harmonic.
constexpr float kPreEmphasis = 0.8f;
// Hiss (fricatives): many zero crossings per second, much energy above 3 kHz.
constexpr float kMinHissCrossings = 3000;
constexpr float kMinHissHf = 0.4f;
// How far below the speech level a frame without hiss still moves the lips.
constexpr float kMaxDipDb = 28;
// Voiced frames are well predicted and have little of their energy in the hiss band.
constexpr float kMaxVoicedError = 0.25f;
// Recorded vowels are often less well predicted than that (breath, a telephone band): their
// formants are still looked for up to this error.
constexpr float kMaxFormantError = 0.5f;
// A rounded vowel (F) is near the loudness of the speech around it; a low-F1 sound further
// below is a nasal or a liquid.
constexpr float kMaxRoundedDipDb = 2;
// A frame this close to the speech level without hiss is a vowel even without formants.
constexpr float kMaxVowelDipDb = 10;
constexpr float kMaxVoicedHf = 0.4f;
// A voiced frame this close to the speech level, and above an absolute level, is speech
// whatever the noise floor.
constexpr float kVoiceBandDb = 12;
constexpr float kMinVoiceDb = -60;
// Samples beyond this (only float files can hold them) are clipped.
constexpr float kMaxSample = 64;

int frames_for(double ms) {
    return std::max(1, static_cast<int>(std::lround(ms / 10)));
}

float smoothing_coefficient(double time_constant_ms) {
    return static_cast<float>(1 - std::exp(-10.0 / std::max(1.0, time_constant_ms)));
}

float to_db(double mean_square) {
    return std::max(kSilenceDb, static_cast<float>(10 * std::log10(mean_square + 1e-10)));
}

} // namespace

CueSettings cue_settings_for(const AnalysisSettings& settings) {
    return CueSettings{.min_hold_frames = frames_for(settings.min_hold_ms),
                       .min_closure_frames = 2,
                       .min_long_l_frames = frames_for(settings.min_long_l_ms)};
}

Shape vowel_shape(double f1, double f2) {
    // Boundaries sit between the adult male and female averages of the vowels each shape
    // stands for: "aa" (F1 ~750, F2 ~1100) D; "ae", "eh", "ah" C; "ao", "er", "uh" E;
    // "oo" F (English close vowels that are not front are rounded, however far forward
    // current speech pronounces them); "ee", "ih" (F2 ~2000 and up) B.
    if (f1 >= 680) return f2 < 1350 ? Shape::D : Shape::C;
    if (f1 >= 450) {
        if (f2 >= 1700) return Shape::C;
        if (f2 < 1150) return Shape::E;
        return f1 >= 580 ? Shape::C : Shape::E;
    }
    if (f2 >= 1900) return Shape::B;
    return f1 < 420 ? Shape::F : Shape::E;
}

Analyzer::Analyzer(int sample_rate, const AnalysisSettings& settings)
    : settings_(settings), sample_rate_(std::max(kMinSampleRate, sample_rate)),
      rumble_filter_(Biquad::highpass(sample_rate_, 70)),
      hf_filter_(Biquad::highpass(sample_rate_, std::min(3000.0, 0.35 * sample_rate_))),
      decimator_(sample_rate_), cues_(cue_settings_for(settings)) {
    next_boundary_ = boundary(1);

    const double rate = decimator_.output_rate();
    lpc_order_ = std::clamp(static_cast<int>(std::lround(rate / 1000)) + 2, 8, kMaxLpcOrder);
    window_ = std::max(32, static_cast<int>(std::lround(0.025 * rate)));
    hamming_.resize(static_cast<size_t>(window_));
    for (int i = 0; i < window_; ++i)
        hamming_[static_cast<size_t>(i)] =
            static_cast<float>(0.54 - 0.46 * std::cos(2 * M_PI * i / (window_ - 1)));
    work_.resize(static_cast<size_t>(window_));
    size_t ring_size = 64;
    const double hop = rate / kFramesPerSecond;
    while (ring_size < static_cast<size_t>(window_ + 3 * hop + 64))
        ring_size *= 2;
    ring_.assign(ring_size, 0.0f);

    half_window_ = frames_for(settings.level_window_ms);
    lookahead_.resize(static_cast<size_t>(2 * half_window_ + 2));
    histogram_.assign(static_cast<size_t>((kHistogramTopDb - kSilenceDb) / kHistogramStepDb) + 1,
                      0);

    min_speech_frames_ = frames_for(settings.min_speech_ms);
    max_closure_frames_ = frames_for(settings.max_closure_ms);
    gap_queue_.reserve(static_cast<size_t>(min_speech_frames_ + max_closure_frames_ + 4));

    attack_ = smoothing_coefficient(settings.attack_ms);
    release_ = smoothing_coefficient(settings.release_ms);
}

void Analyzer::feed(const float* samples, size_t count) {
    while (count > 0) {
        const size_t n = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(count), next_boundary_ - samples_));
        process_span(samples, n);
        samples += n;
        count -= n;
        samples_ += static_cast<int64_t>(n);
        if (samples_ == next_boundary_) close_hop();
    }
}

void Analyzer::process_span(const float* samples, size_t count) {
    // Filters and sums live in locals for the loop: as members they would be reloaded and
    // stored for every sample, since the samples might alias them.
    Biquad rumble = rumble_filter_;
    Biquad hf_filter = hf_filter_;
    double energy = 0, hf = 0;
    int crossings = 0;
    int zc_sign = zc_sign_;
    const size_t mask = ring_.size() - 1;
    for (size_t i = 0; i < count; ++i) {
        float x = samples[i];
        // Float files may hold anything; keep the filters' state finite.
        if (!(x >= -kMaxSample && x <= kMaxSample))
            x = x > 0 ? kMaxSample : x < 0 ? -kMaxSample : 0;
        const float e = rumble.process(x);
        const float h = hf_filter.process(x);
        energy += static_cast<double>(e) * e;
        hf += static_cast<double>(h) * h;
        // Branch-free: hiss changes sign at random, which defeats branch prediction.
        const int sign = (e > kCrossingDeadZone) - (e < -kCrossingDeadZone);
        crossings += sign * zc_sign < 0;
        zc_sign = sign ? sign : zc_sign;
        float d;
        if (decimator_.push(e, d)) ring_[static_cast<size_t>(ring_count_++) & mask] = d;
    }
    rumble.settle();
    hf_filter.settle();
    rumble_filter_ = rumble;
    hf_filter_ = hf_filter;
    hop_.energy += energy;
    hop_.hf += hf;
    hop_.crossings += crossings;
    zc_sign_ = zc_sign;
}

void Analyzer::close_hop() {
    hop_.samples = next_boundary_ - boundary(hop_count_);
    hops_[hop_count_ & 7] = hop_;
    hop_ = Hop{};
    ++hop_count_;
    next_boundary_ = boundary(hop_count_ + 1);
    analyse_ready_frames();
}

int64_t Analyzer::window_start(uint32_t index) const {
    const int64_t centre = (boundary(index) + boundary(index + 1)) / 2 + decimator_.delay();
    return centre / decimator_.factor() - window_ / 2;
}

void Analyzer::analyse_ready_frames() {
    // A frame needs the hop after it (level smoothing) and its whole prediction window.
    while (next_frame_ + 1 < hop_count_ && ring_count_ >= window_start(next_frame_) + window_) {
        if (finishing_ && next_frame_ >= frame_count_) return;
        analyse_frame(next_frame_++);
    }
}

void Analyzer::analyse_frame(uint32_t index) {
    FrameResult f;
    f.index = index;
    const Hop& prev = hops_[(index == 0 ? index : index - 1) & 7];
    const Hop& cur = hops_[index & 7];
    const Hop& next = hops_[(index + 1) & 7];
    auto weighted = [&](auto member) {
        return 0.25 * (prev.*member) + 0.5 * (cur.*member) + 0.25 * (next.*member);
    };
    const double samples = std::max(1.0, weighted(&Hop::samples));
    const double energy = weighted(&Hop::energy);
    f.level_db = to_db(energy / samples);
    f.zcr = static_cast<float>(weighted(&Hop::crossings) / samples * sample_rate_);
    f.hf_ratio = static_cast<float>(std::min(1.0, weighted(&Hop::hf) / (energy + 1e-12)));

    if (f.level_db > kLpcMinLevelDb) {
        // Pre-emphasis lifts the upper formants; the window tapers the edges.
        const size_t mask = ring_.size() - 1;
        const int64_t start = window_start(index);
        auto sample = [&](int64_t j) {
            return j < 0 || j >= ring_count_ ? 0.0f : ring_[static_cast<size_t>(j) & mask];
        };
        float previous = sample(start - 1);
        for (int i = 0; i < window_; ++i) {
            const float s = sample(start + i);
            work_[static_cast<size_t>(i)] =
                static_cast<double>(s - kPreEmphasis * previous) * hamming_[static_cast<size_t>(i)];
            previous = s;
        }
        double r[kMaxLpcOrder + 1];
        const double* w = work_.data();
        for (int lag = 0; lag <= lpc_order_; ++lag) {
            // Four partial sums: one chain of dependent additions would be four times slower.
            double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
            int i = lag;
            for (; i + 3 < window_; i += 4) {
                s0 += w[i] * w[i - lag];
                s1 += w[i + 1] * w[i + 1 - lag];
                s2 += w[i + 2] * w[i + 2 - lag];
                s3 += w[i + 3] * w[i + 3 - lag];
            }
            for (; i < window_; ++i)
                s0 += w[i] * w[i - lag];
            r[lag] = (s0 + s1) + (s2 + s3);
        }
        r[0] *= 1.0001; // a touch of white noise keeps the recursion well conditioned
        double a[kMaxLpcOrder + 1];
        const double error = levinson(r, lpc_order_, a);
        if (error >= 0) f.lpc_error = static_cast<float>(error);
        // Formants only matter for voiced frames (see shape_stage); finding the roots is the
        // dearest step of the analysis, and on noise the slowest.
        if (error >= 0 && error < kMaxFormantError && f.hf_ratio < kMaxVoicedHf) {
            Formant found[3];
            const int n = formants_.find(a, lpc_order_, decimator_.output_rate(), found, 3);
            if (n > 0) f.f1 = static_cast<float>(found[0].frequency);
            if (n > 1) f.f2 = static_cast<float>(found[1].frequency);
            if (n > 2) f.f3 = static_cast<float>(found[2].frequency);
        }
    }
    level_stage(f);
}

int Analyzer::histogram_bin(float level_db) const {
    const int bin = static_cast<int>((level_db - kSilenceDb) / kHistogramStepDb);
    return std::clamp(bin, 0, static_cast<int>(histogram_.size()) - 1);
}

float Analyzer::histogram_percentile(double fraction) const {
    const int wanted = std::max(1, static_cast<int>(std::ceil(fraction * histogram_total_)));
    int seen = 0;
    for (size_t bin = 0; bin < histogram_.size(); ++bin) {
        seen += histogram_[bin];
        if (seen >= wanted) return kSilenceDb + (static_cast<float>(bin) + 0.5f) * kHistogramStepDb;
    }
    return kHistogramTopDb;
}

void Analyzer::level_stage(const FrameResult& frame) {
    lookahead_[frame.index % lookahead_.size()] = frame;
    ++histogram_[static_cast<size_t>(histogram_bin(frame.level_db))];
    ++histogram_total_;
    ++frames_in_;
    // Frame t is decided once frames up to t + half_window_ are in.
    while (frames_decided_ + half_window_ < frames_in_)
        decide_level(frames_decided_);
}

void Analyzer::decide_level(uint32_t index) {
    // Keep the histogram to [index - half_window_, index + half_window_].
    if (index >= static_cast<uint32_t>(half_window_) + 1) {
        const FrameResult& old = lookahead_[(index - half_window_ - 1) % lookahead_.size()];
        --histogram_[static_cast<size_t>(histogram_bin(old.level_db))];
        --histogram_total_;
    }
    FrameResult frame = lookahead_[index % lookahead_.size()];
    // The noise floor is a low percentile of the levels around the frame and the speech
    // level a high one: both follow the recording without assuming any absolute level.
    const float floor_db = histogram_percentile(0.05);
    const float speech_db = std::max(floor_db, histogram_percentile(0.95));
    const float margin = std::clamp(0.2f * (speech_db - floor_db), 6.0f, 20.0f);
    const float on = floor_db + margin;
    const float off = on - 3; // hysteresis: a sound that started may fade a little further
    // Far below the speech around it, a frame shows no sound on the lips even when it is
    // above the noise: the hold of a stop, the fading end of a word. Only hiss (a quiet
    // "f" or "th") still counts there.
    const bool hiss = frame.zcr > kMinHissCrossings && frame.hf_ratio > kMinHissHf;
    const bool audible = frame.level_db > speech_db - kMaxDipDb || hiss;
    // Without a quiet moment around it (a held vowel cut tight) the floor is the sound
    // itself; a voiced frame near the top level is speech all the same. Noise is never
    // voiced: it is poorly predicted.
    const bool voiced = frame.lpc_error < kMaxVoicedError && frame.hf_ratio < kMaxVoicedHf;
    const bool loud_voice =
        voiced && frame.level_db > speech_db - kVoiceBandDb && frame.level_db > kMinVoiceDb;
    active_ = audible && (loud_voice || (active_ ? frame.level_db > off : frame.level_db > on));
    frame.floor_db = floor_db;
    frame.speech_db = speech_db;
    ++frames_decided_;
    gap_stage(frame, active_);
}

void Analyzer::gap_stage(const FrameResult& frame, bool active) {
    gap_queue_.push_back(Pending{frame, active});
    resolve_gaps(false);
}

void Analyzer::resolve_gaps(bool final) {
    // Runs of quiet frames inside speech become closures (A) when short, and rests (X) when
    // long; short bursts after a rest are clicks and rest too. Frames wait here until the
    // length of the run they belong to is known, which is never more than
    // max_closure + min_speech frames.
    auto run_length = [this](bool active, bool& ended) {
        size_t n = 0;
        while (n < gap_queue_.size() && gap_queue_[n].active == active)
            ++n;
        ended = n < gap_queue_.size();
        return n;
    };
    auto release = [this](size_t n, Activity activity) {
        for (size_t i = 0; i < n; ++i)
            shape_stage(gap_queue_[i].frame, activity);
        gap_queue_.erase(gap_queue_.begin(), gap_queue_.begin() + static_cast<std::ptrdiff_t>(n));
    };
    while (!gap_queue_.empty()) {
        bool ended = false;
        if (!in_speech_) {
            const size_t quiet = run_length(false, ended);
            if (quiet) {
                release(quiet, Activity::Rest);
                continue;
            }
            const size_t sound = run_length(true, ended);
            if (sound >= static_cast<size_t>(min_speech_frames_)) {
                in_speech_ = true;
                release(sound, Activity::Speech);
            } else if (ended || final) {
                release(sound, Activity::Rest);
            } else {
                return;
            }
        } else {
            const size_t sound = run_length(true, ended);
            if (sound) {
                release(sound, Activity::Speech);
                continue;
            }
            const size_t quiet = run_length(false, ended);
            if (quiet > static_cast<size_t>(max_closure_frames_) || (final && !ended)) {
                in_speech_ = false;
                release(quiet, Activity::Rest);
            } else if (ended) {
                release(quiet, Activity::Closure);
            } else {
                return;
            }
        }
    }
}

void Analyzer::shape_stage(FrameResult f, Activity activity) {
    float target = 0;
    if (activity == Activity::Rest) {
        f.shape = Shape::X;
    } else if (activity == Activity::Closure) {
        // Most closures inside words are of T, D, K and G, which keep the teeth together;
        // the level alone cannot tell the closed lips of P and B from them.
        f.shape = Shape::B;
        f.gap = true;
    } else {
        const float relative = f.level_db - f.speech_db; // 0 at full voice, negative below
        const float loudness = std::clamp((relative + 30) / 30, 0.0f, 1.0f);
        // Hiss: many zero crossings and much of the energy above 3 kHz.
        const bool fricative = f.zcr > kMinHissCrossings && f.hf_ratio > kMinHissHf;
        // Voiced and well predicted: the formants can be trusted.
        const bool resonant =
            f.f1 > 0 && f.f2 > 0 && f.lpc_error < kMaxFormantError && f.hf_ratio < kMaxVoicedHf;
        // Sonorants weaker than the vowels around them: nasal murmur (M, N) and L.
        const bool weak = resonant && relative < -9 && f.hf_ratio < 0.1f;
        if (fricative) {
            // "s" and "sh" are loud or sharply high hiss; "f" and "th" are weak, with a flat
            // spectrum that leaves more of their energy below 3 kHz.
            const bool weak_hiss = relative < -24 || (relative < -15 && f.hf_ratio < 0.8f);
            f.shape = weak_hiss ? Shape::G : Shape::B;
            target = 0.1f + 0.15f * loudness;
        } else if (weak && relative < -10 && f.f1 < 300 && f.f2 >= 1050 && f.f2 < 1450) {
            // The murmur of a nasal: a strong resonance near 250-300 Hz, lips closed for M.
            // (The fading end of an "oo" looks much alike; it closes the lips as well.)
            f.shape = Shape::A;
        } else if (weak && f.f1 >= 330 && f.f1 < 480 && f.f2 > 800 && f.f2 < 1650 && f.f3 > 2600) {
            // L: low F1, mid F2 and a high F3 (which sets it apart from R and the nasals).
            f.shape = Shape::H;
            target = 0.2f + 0.2f * loudness;
        } else if (resonant) {
            f.shape = vowel_shape(f.f1, f.f2);
            // A low F1 well below the vowels around it is a nasal or liquid (N, NG, L, R),
            // which keep the teeth together, not a rounded vowel.
            if (f.shape == Shape::F && relative < -kMaxRoundedDipDb) f.shape = Shape::B;
            const float openness = std::clamp((f.f1 - 250) / 550, 0.0f, 1.0f);
            target = 0.55f * openness + 0.45f * loudness;
        } else if (relative > -kMaxVowelDipDb && f.hf_ratio < 0.1f && f.zcr < kMinHissCrossings) {
            // Loud, without hiss, but no formants found (a poorly predicted recorded
            // vowel): the commonest open shape.
            f.shape = Shape::C;
            target = 0.3f + 0.4f * loudness;
        } else {
            f.shape = Shape::B;
            target = 0.1f + 0.2f * loudness;
        }
    }
    // The lips close (A) as fast as they open.
    const float rate = target > opening_ || f.shape == Shape::A ? attack_ : release_;
    opening_ += rate * (target - opening_);
    f.opening = opening_;
    if (observer_) observer_(f);
    cues_.add(f.shape, f.opening);
}

std::vector<Cue> Analyzer::finish() {
    const int64_t total = samples_;
    frame_count_ = static_cast<uint32_t>(
        std::max<int64_t>(1, (total * kFramesPerSecond + sample_rate_ / 2) / sample_rate_));
    // Silence after the end lets the last frames complete their hops and windows.
    const std::vector<float> zeros(static_cast<size_t>(sample_rate_ / kFramesPerSecond) + 1, 0.0f);
    finishing_ = true;
    while (next_frame_ < frame_count_)
        feed(zeros.data(), zeros.size());
    samples_ = total;
    while (frames_decided_ < frames_in_)
        decide_level(frames_decided_);
    resolve_gaps(true);
    return cues_.finish();
}

} // namespace tarvik::lipsync

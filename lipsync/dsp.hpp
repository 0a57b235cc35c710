// SPDX-License-Identifier: GPL-3.0-or-later
// Signal-processing building blocks of the analysis: filters, a down-sampler, linear
// prediction and formant estimation. None of them allocates after construction.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace tarvik::lipsync {

// Second-order IIR section (direct form I) with the usual audio-cookbook designs.
class Biquad {
  public:
    static Biquad highpass(double sample_rate, double cutoff_hz);
    static Biquad lowpass(double sample_rate, double cutoff_hz);

    float process(float x) {
        // Everything but the last output first, so that only one multiply and one
        // subtraction wait for the previous sample.
        const float y = (b0_ * x + b1_ * x1_ + b2_ * x2_ - a2_ * y2_) - a1_ * y1_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }
    // Ends a decay into silence: below -300 dB the state is zero. Left to decay, it would
    // turn subnormal, and every operation on it many times slower (files padded with digital
    // silence took twice as long). Called every few hundred samples.
    void settle() {
        constexpr float kTiny = 1e-15f;
        if (std::abs(y1_) < kTiny && std::abs(y2_) < kTiny) y1_ = y2_ = 0;
    }

  private:
    float b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    float x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// Anti-alias low-pass FIR and integer down-sampler. The factor brings any source rate into
// 8 to 16 kHz (rates below 8 kHz are kept), which is all that the formants need.
class Decimator {
  public:
    explicit Decimator(int sample_rate);

    int factor() const { return factor_; }
    double output_rate() const { return output_rate_; }
    // Delay of the filter in source samples: output n stands for source time n*factor-delay.
    int delay() const { return delay_; }

    // Takes one source sample; returns true and sets `out` when an output sample is due.
    bool push(float x, float& out) {
        if (factor_ == 1) {
            out = x;
            return true;
        }
        history_[pos_] = x;
        history_[pos_ + length_] = x;
        pos_ = pos_ + 1 == length_ ? 0 : pos_ + 1;
        if (++phase_ < factor_) return false;
        phase_ = 0;
        // history_[pos_ .. pos_+taps) holds the newest taps samples, oldest first.
        const float* h = history_.data() + pos_;
        const float* t = taps_.data();
        // Four partial sums break the chain of dependent additions; the taps are padded
        // with zeros to a multiple of four.
        float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (size_t k = 0; k < padded_; k += 4) {
            s0 += t[k] * h[k];
            s1 += t[k + 1] * h[k + 1];
            s2 += t[k + 2] * h[k + 2];
            s3 += t[k + 3] * h[k + 3];
        }
        out = (s0 + s1) + (s2 + s3);
        return true;
    }

  private:
    int factor_ = 1;
    double output_rate_ = 0;
    int delay_ = 0;
    std::vector<float> taps_;    // symmetric, so their order does not matter; zero padded
    std::vector<float> history_; // twice the length (plus padding), so that a window is
                                 // always contiguous
    size_t length_ = 0;          // taps without the padding
    size_t padded_ = 0;          // taps with it, a multiple of four
    size_t pos_ = 0;
    int phase_ = 0;
};

constexpr int kMaxLpcOrder = 20;

// Levinson-Durbin recursion: prediction coefficients a[0..order] (a[0] = 1) from the
// autocorrelation r[0..order]. Returns the normalised prediction error (residual energy
// over r[0], between 0 and 1), or a negative value when the signal has no energy or the
// recursion breaks down.
double levinson(const double* r, int order, double* a);

struct Formant {
    double frequency = 0; // Hz
    double bandwidth = 0; // Hz
};

// Formants from the roots of the prediction polynomial z^p + a1 z^(p-1) + ... + ap.
// Roots are found with the Aberth-Ehrlich iteration, started from the previous frame's
// roots when those converged (consecutive frames move little, so that takes a few steps).
class FormantFinder {
  public:
    // Fills `out` with the resonances between 150 Hz and just below Nyquist whose bandwidth
    // is under `max_bandwidth`, lowest first; returns how many (at most `capacity`).
    int find(const double* a, int order, double sample_rate, Formant* out, int capacity,
             double max_bandwidth = 600);

  private:
    struct Complex {
        double re = 0, im = 0;
    };
    bool solve(const double* a, int order, bool warm);

    Complex roots_[kMaxLpcOrder];
    int warm_order_ = 0; // order of the stored roots when they may seed the next frame
};

} // namespace tarvik::lipsync

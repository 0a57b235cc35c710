// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/dsp.hpp"

#include <algorithm>
#include <cmath>

namespace tarvik::lipsync {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Cx {
    double re, im;
};
inline Cx operator+(Cx a, Cx b) {
    return {a.re + b.re, a.im + b.im};
}
inline Cx operator-(Cx a, Cx b) {
    return {a.re - b.re, a.im - b.im};
}
inline Cx operator*(Cx a, Cx b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline double norm2(Cx a) {
    return a.re * a.re + a.im * a.im;
}
// The library's complex division guards against overflow at some cost; these values are
// bounded (roots near the unit circle), so the plain formula is enough.
inline Cx operator/(Cx a, Cx b) {
    const double d = norm2(b);
    return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}

} // namespace

Biquad Biquad::highpass(double sample_rate, double cutoff_hz) {
    const double w = 2 * kPi * cutoff_hz / sample_rate;
    const double alpha = std::sin(w) / (2 * std::sqrt(0.5));
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0_ = static_cast<float>((1 + c) / 2 / a0);
    f.b1_ = static_cast<float>(-(1 + c) / a0);
    f.b2_ = f.b0_;
    f.a1_ = static_cast<float>(-2 * c / a0);
    f.a2_ = static_cast<float>((1 - alpha) / a0);
    return f;
}

Biquad Biquad::lowpass(double sample_rate, double cutoff_hz) {
    const double w = 2 * kPi * cutoff_hz / sample_rate;
    const double alpha = std::sin(w) / (2 * std::sqrt(0.5));
    const double c = std::cos(w);
    const double a0 = 1 + alpha;
    Biquad f;
    f.b0_ = static_cast<float>((1 - c) / 2 / a0);
    f.b1_ = static_cast<float>((1 - c) / a0);
    f.b2_ = f.b0_;
    f.a1_ = static_cast<float>(-2 * c / a0);
    f.a2_ = static_cast<float>((1 - alpha) / a0);
    return f;
}

Decimator::Decimator(int sample_rate) {
    factor_ = std::max(1, sample_rate / 8000);
    output_rate_ = static_cast<double>(sample_rate) / factor_;
    if (factor_ == 1) return;
    // Windowed-sinc low-pass at 80% of the output Nyquist frequency (Blackman window).
    const int n = 10 * factor_ + 1;
    delay_ = (n - 1) / 2;
    const double cutoff = 0.4 / factor_; // cycles per source sample
    taps_.resize(static_cast<size_t>(n));
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        const double m = i - delay_;
        const double sinc = m == 0 ? 2 * cutoff : std::sin(2 * kPi * cutoff * m) / (kPi * m);
        const double window =
            0.42 - 0.5 * std::cos(2 * kPi * i / (n - 1)) + 0.08 * std::cos(4 * kPi * i / (n - 1));
        taps_[static_cast<size_t>(i)] = static_cast<float>(sinc * window);
        sum += sinc * window;
    }
    for (float& t : taps_)
        t = static_cast<float>(t / sum);
    length_ = taps_.size();
    padded_ = (length_ + 3) / 4 * 4;
    // Padding taps read just past the window, values that they multiply by zero.
    taps_.resize(padded_, 0.0f);
    history_.assign(2 * length_ + padded_, 0.0f);
}

double levinson(const double* r, int order, double* a) {
    if (order < 1 || order > kMaxLpcOrder || !(r[0] > 0)) return -1;
    double tmp[kMaxLpcOrder + 1];
    a[0] = 1;
    for (int i = 1; i <= order; ++i)
        a[i] = 0;
    double error = r[0];
    for (int i = 1; i <= order; ++i) {
        double acc = r[i];
        for (int j = 1; j < i; ++j)
            acc += a[j] * r[i - j];
        const double k = -acc / error;
        if (!(std::fabs(k) < 1)) return -1;
        for (int j = 0; j <= i; ++j)
            tmp[j] = a[j];
        for (int j = 1; j < i; ++j)
            a[j] = tmp[j] + k * tmp[i - j];
        a[i] = k;
        error *= 1 - k * k;
    }
    return error / r[0];
}

bool FormantFinder::solve(const double* a, int order, bool warm) {
    Cx z[kMaxLpcOrder];
    if (warm) {
        for (int i = 0; i < order; ++i)
            z[i] = {roots_[i].re, roots_[i].im};
    } else {
        // Start on a circle inside the unit circle, turned off the real axis so that no two
        // starting points are conjugates (which the iteration could not separate).
        for (int i = 0; i < order; ++i) {
            const double angle = 2 * kPi * i / order + 0.4;
            z[i] = {0.9 * std::cos(angle), 0.9 * std::sin(angle)};
        }
    }
    const int max_iterations = warm ? 20 : 80;
    for (int iteration = 0; iteration < max_iterations; ++iteration) {
        double largest_step = 0;
        for (int i = 0; i < order; ++i) {
            // p(z) and p'(z) by Horner's scheme; p is monic with coefficients a[1..order].
            Cx p{1, 0}, dp{0, 0};
            for (int k = 1; k <= order; ++k) {
                dp = dp * z[i] + p;
                p = p * z[i] + Cx{a[k], 0};
            }
            if (norm2(dp) == 0) {
                z[i] = z[i] + Cx{1e-6, 1e-6};
                continue;
            }
            const Cx ratio = p / dp;
            Cx repulsion{0, 0};
            for (int j = 0; j < order; ++j) {
                if (j == i) continue;
                const Cx diff = z[i] - z[j];
                if (norm2(diff) == 0) continue;
                repulsion = repulsion + Cx{1, 0} / diff;
            }
            const Cx denominator = Cx{1, 0} - ratio * repulsion;
            if (norm2(denominator) == 0) continue;
            const Cx step = ratio / denominator;
            z[i] = z[i] - step;
            largest_step = std::max(largest_step, norm2(step));
        }
        if (largest_step < 1e-14) { // steps below 1e-7: far finer than a hertz
            for (int i = 0; i < order; ++i) {
                if (!std::isfinite(z[i].re) || !std::isfinite(z[i].im)) return false;
                roots_[i] = {z[i].re, z[i].im};
            }
            return true;
        }
    }
    return false;
}

int FormantFinder::find(const double* a, int order, double sample_rate, Formant* out, int capacity,
                        double max_bandwidth) {
    if (order < 2 || order > kMaxLpcOrder || capacity < 1) return 0;
    bool solved = warm_order_ == order && solve(a, order, true);
    if (!solved) solved = solve(a, order, false);
    warm_order_ = solved ? order : 0;
    if (!solved) return 0;

    int count = 0;
    const double nyquist = sample_rate / 2;
    for (int i = 0; i < order; ++i) {
        const Complex r = roots_[i];
        if (r.im <= 0) continue;
        const double frequency = std::atan2(r.im, r.re) * sample_rate / (2 * kPi);
        const double magnitude = std::sqrt(r.re * r.re + r.im * r.im);
        if (!(magnitude > 0)) continue;
        const double bandwidth = -std::log(magnitude) * sample_rate / kPi;
        if (frequency < 150 || frequency > nyquist - 150 || bandwidth > max_bandwidth ||
            bandwidth < 0)
            continue;
        // Insertion into the sorted output; the list is short.
        if (count == capacity && frequency >= out[count - 1].frequency) continue;
        int pos = count < capacity ? count++ : capacity - 1;
        while (pos > 0 && out[pos - 1].frequency > frequency) {
            out[pos] = out[pos - 1];
            --pos;
        }
        out[pos] = {frequency, bandwidth};
    }
    return count;
}

} // namespace tarvik::lipsync

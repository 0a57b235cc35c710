// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mix.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarvik::audio {

// Word layout: bits 0-31 start, 32-47 duration, 48-54 from, 55-61 to, 62 stop flag.
uint64_t pack_slide(const Slide& s) {
    return uint64_t{s.start_ms} | (uint64_t{s.duration_ms} << 32) |
           (uint64_t{s.from & 0x7Fu} << 48) | (uint64_t{s.to & 0x7Fu} << 55) |
           (uint64_t{s.stop_at_end} << 62);
}

Slide unpack_slide(uint64_t w) {
    Slide s;
    s.start_ms = static_cast<uint32_t>(w);
    s.duration_ms = static_cast<uint16_t>(w >> 32);
    s.from = static_cast<uint8_t>((w >> 48) & 0x7F);
    s.to = static_cast<uint8_t>((w >> 55) & 0x7F);
    s.stop_at_end = ((w >> 62) & 1) != 0;
    return s;
}

double slide_volume_at(const Slide& s, double now_ms) {
    const double elapsed = now_ms - s.start_ms;
    if (s.duration_ms == 0 || elapsed >= s.duration_ms) return s.to;
    if (elapsed <= 0) return s.from;
    return s.from + (static_cast<double>(s.to) - s.from) * elapsed / s.duration_ms;
}

bool slide_running_at(const Slide& s, double now_ms) {
    return s.duration_ms != 0 && now_ms - s.start_ms < s.duration_ms;
}

bool slide_stopped_at(const Slide& s, double now_ms) {
    return s.stop_at_end && !slide_running_at(s, now_ms);
}

uint32_t level_word(int peak_left, int peak_right) {
    // Rounded, so that full scale (32767 or 32768) reads 128 and 2560 reads 10.
    const auto scale = [](int peak) {
        return static_cast<uint32_t>(std::clamp((peak * 128 + 16384) / 32768, 0, 128));
    };
    return scale(peak_left) | (scale(peak_right) << 16);
}

uint32_t apply_gain(StereoFrame* frames, size_t count, float gain_start, float gain_end) {
    int peak_left = 0, peak_right = 0;
    if (gain_start == 1.0f && gain_end == 1.0f) {
        for (size_t i = 0; i < count; ++i) {
            peak_left = std::max(peak_left, std::abs(int{frames[i].left}));
            peak_right = std::max(peak_right, std::abs(int{frames[i].right}));
        }
        return level_word(peak_left, peak_right);
    }
    const float step = count > 1 ? (gain_end - gain_start) / static_cast<float>(count - 1) : 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const float g = std::clamp(gain_start + step * static_cast<float>(i), 0.0f, 1.0f);
        const auto l = static_cast<int>(std::lrintf(frames[i].left * g));
        const auto r = static_cast<int>(std::lrintf(frames[i].right * g));
        frames[i].left = static_cast<int16_t>(l);
        frames[i].right = static_cast<int16_t>(r);
        peak_left = std::max(peak_left, std::abs(l));
        peak_right = std::max(peak_right, std::abs(r));
    }
    return level_word(peak_left, peak_right);
}

} // namespace tarvik::audio

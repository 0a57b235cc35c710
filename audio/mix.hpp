// SPDX-License-Identifier: GPL-3.0-or-later
// The sample arithmetic of the facility, kept apart so that it can be checked on its own:
// volume slides packed for a lock-free handover, gain ramps and the level word.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvik::audio {

struct StereoFrame {
    int16_t left;
    int16_t right;
};

// A slide of the channel volume (0 to 100) from `from` to `to`, starting at start_ms on the
// facility's clock and lasting duration_ms. With stop_at_end the channel stops once the
// slide is over. The whole slide fits one 64-bit word, so the main thread hands it to the
// audio thread with a single atomic store and the audio thread never sees half of one.
struct Slide {
    uint32_t start_ms = 0;
    uint16_t duration_ms = 0;
    uint8_t from = 100;
    uint8_t to = 100;
    bool stop_at_end = false;
};

uint64_t pack_slide(const Slide& slide);
Slide unpack_slide(uint64_t word);

// Channel volume (0 to 100, fractional while sliding) at the time now_ms.
double slide_volume_at(const Slide& slide, double now_ms);
// True while the slide is under way at now_ms.
bool slide_running_at(const Slide& slide, double now_ms);
// True once a stopping slide is over.
bool slide_stopped_at(const Slide& slide, double now_ms);

// Level word from the peaks of a block (absolute sample values, 0 to 32768): low 16 bits the
// left channel, high 16 bits the right, each scaled so that full scale reads 128.
uint32_t level_word(int peak_left, int peak_right);

// Scales a block in place by a gain that moves linearly from gain_start (first frame) to
// gain_end (last frame), gains between 0 and 1, and returns the level word of the result.
// A gain of exactly 1 leaves the samples untouched.
uint32_t apply_gain(StereoFrame* frames, size_t count, float gain_start, float gain_end);

} // namespace tarvik::audio

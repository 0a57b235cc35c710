// SPDX-License-Identifier: GPL-3.0-or-later
// A picture of a lip-sync track for checking it by eye: the waveform above, the cues below
// as coloured bars in one lane per shape with their letters, one second per 200 pixels.
#pragma once

#include "lipsync/vlp.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::lipsync {

constexpr int kSvgPixelsPerSecond = 200;

// The lowest and highest sample of each pixel column (5 ms), full scale +-1.
using Waveform = std::vector<std::pair<float, float>>;

// Collects a Waveform from samples fed in order.
class WaveformBuilder {
  public:
    explicit WaveformBuilder(int sample_rate) : rate_(sample_rate) {}
    void feed(const float* samples, size_t count);
    Waveform finish();

  private:
    int64_t rate_;
    int64_t samples_ = 0;
    Waveform columns_;
};

// The SVG document; `wave` may be empty (a track converted from a VLP file has no sound).
std::string format_svg(const LipSyncTrack& track, const Waveform& wave, std::string_view title);

} // namespace tarvik::lipsync

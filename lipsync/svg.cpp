// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/svg.hpp"

#include "common/text.hpp"
#include "lipsync/exporters.hpp"

#include <algorithm>

namespace tarvik::lipsync {

namespace {

constexpr int kLeft = 28; // room for the lane letters
constexpr int kWaveHeight = 100;
constexpr int kLaneHeight = 18;
constexpr int kAxisHeight = 18;
constexpr int kLanes = 9; // A to H, then X

// One colour per shape, A to X, far apart for the eye.
constexpr const char* kColours[kLanes] = {"#d62728", "#1f77b4", "#2ca02c", "#ff7f0e", "#9467bd",
                                          "#8c564b", "#e377c2", "#17becf", "#bbbbbb"};

std::string xml_text(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t')
            out += c;
    }
    return out;
}

std::string number(double v) {
    return format_text("%.1f", v);
}

} // namespace

void WaveformBuilder::feed(const float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i, ++samples_) {
        const size_t column = static_cast<size_t>(samples_ * kSvgPixelsPerSecond / rate_);
        if (column >= columns_.size()) columns_.resize(column + 1, {0.0f, 0.0f});
        auto& [low, high] = columns_[column];
        low = std::min(low, samples[i]);
        high = std::max(high, samples[i]);
    }
}

Waveform WaveformBuilder::finish() {
    return std::move(columns_);
}

std::string format_svg(const LipSyncTrack& track, const Waveform& wave, std::string_view title) {
    const int px_per_frame = kSvgPixelsPerSecond / track.frame_rate;
    const int width = kLeft + static_cast<int>(track.frame_count) * std::max(1, px_per_frame) + 8;
    const int lanes_top = kWaveHeight + 4;
    const int height = lanes_top + kLanes * kLaneHeight + kAxisHeight;
    const auto x_of = [&](uint64_t frame) {
        return kLeft + static_cast<double>(frame) * kSvgPixelsPerSecond / track.frame_rate;
    };
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg "
                      "xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(width) + "\" height=\"" + std::to_string(height) +
                      "\" font-family=\"sans-serif\" font-size=\"11\">\n<title>" + xml_text(title) +
                      "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

    // The waveform: one vertical line per 5 ms column from its lowest to its highest sample.
    const double mid = kWaveHeight / 2.0;
    out += "<path class=\"wave\" stroke=\"#444\" stroke-width=\"1\" d=\"";
    for (size_t c = 0; c < wave.size(); ++c) {
        const double x = kLeft + c + 0.5;
        const double top = mid - std::clamp(wave[c].second, -1.0f, 1.0f) * mid;
        const double bottom = mid - std::clamp(wave[c].first, -1.0f, 1.0f) * mid;
        out += "M" + number(x) + " " + number(top) + "V" + number(std::max(bottom, top + 0.5));
    }
    out += "\"/>\n";

    // The lanes with their letters, then one bar per cue in its shape's lane.
    for (int lane = 0; lane < kLanes; ++lane) {
        const int y = lanes_top + lane * kLaneHeight;
        const char letter = shape_letter(static_cast<Shape>(lane));
        out += "<text class=\"lane\" x=\"6\" y=\"" + std::to_string(y + 13) + "\" fill=\"" +
               kColours[lane] + "\">" + letter + "</text>\n";
        out += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(width) +
               "\" y1=\"" + std::to_string(y + kLaneHeight) + "\" y2=\"" +
               std::to_string(y + kLaneHeight) + "\" stroke=\"#eee\"/>\n";
    }
    for (size_t i = 0; i < track.cues.size(); ++i) {
        const Cue& cue = track.cues[i];
        const int lane = static_cast<int>(cue.shape);
        const double x = x_of(cue.start);
        const double w = x_of(track.cue_end(i)) - x;
        const int y = lanes_top + lane * kLaneHeight;
        const char letter = shape_letter(cue.shape);
        out += "<rect class=\"cue\" x=\"" + number(x) + "\" y=\"" + std::to_string(y + 1) +
               "\" width=\"" + number(w) + "\" height=\"" + std::to_string(kLaneHeight - 2) +
               "\" fill=\"" + kColours[lane] + "\"><title>" + letter + " " +
               centiseconds_text(cue.start) + "-" + centiseconds_text(track.cue_end(i)) +
               " s</title></rect>\n";
        if (w >= 8)
            out += "<text x=\"" + number(x + 2) + "\" y=\"" + std::to_string(y + 13) +
                   "\" fill=\"white\">" + letter + "</text>\n";
    }

    // The time axis: a tick and a label every second.
    const int axis_y = lanes_top + kLanes * kLaneHeight;
    for (uint32_t s = 0; s * track.frame_rate <= track.frame_count; ++s) {
        const double x = x_of(uint64_t{s} * track.frame_rate);
        out += "<line x1=\"" + number(x) + "\" x2=\"" + number(x) + "\" y1=\"0\" y2=\"" +
               std::to_string(axis_y + 4) + "\" stroke=\"#ccc\"/>\n<text x=\"" + number(x + 2) +
               "\" y=\"" + std::to_string(axis_y + 14) + "\">" + std::to_string(s) + " s</text>\n";
    }
    return out + "</svg>\n";
}

} // namespace tarvik::lipsync

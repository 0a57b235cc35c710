// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/exporters.hpp"

#include <cstdio>

namespace tarvik::lipsync {

namespace {

std::string opening_text(uint8_t opening) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", opening / 255.0);
    return text;
}

} // namespace

std::string centiseconds_text(uint64_t centiseconds) {
    const unsigned hundredths = static_cast<unsigned>(centiseconds % 100);
    return std::to_string(centiseconds / 100) + (hundredths < 10 ? ".0" : ".") +
           std::to_string(hundredths);
}

std::string format_dump(const LipSyncTrack& t) {
    std::string out = "VLP lip-sync track\n";
    char line[160];
    std::snprintf(line, sizeof line, "sample rate: %u Hz\n", t.sample_rate);
    out += line;
    std::snprintf(line, sizeof line, "duration: %.3f s (%llu sample frames)\n", t.seconds(),
                  static_cast<unsigned long long>(t.sample_frames));
    out += line;
    std::snprintf(line, sizeof line, "frame rate: %u per second\n", t.frame_rate);
    out += line;
    out += "length: " + centiseconds_text(t.frame_count) + " s (" + std::to_string(t.frame_count) +
           " x 10 ms)\n";
    out += "cues: " + std::to_string(t.cues.size()) + "\n";
    out += "start\tend\tshape\topening\n";
    for (size_t i = 0; i < t.cues.size(); ++i) {
        const Cue& c = t.cues[i];
        out += centiseconds_text(c.start) + "\t" + centiseconds_text(t.cue_end(i)) + "\t" +
               shape_letter(c.shape) + "\t" + opening_text(c.opening) + "\n";
    }
    return out;
}

std::string format_tsv(const LipSyncTrack& t) {
    std::string out;
    for (const Cue& c : t.cues)
        out += centiseconds_text(c.start) + "\t" + shape_letter(c.shape) + "\n";
    if (!t.cues.empty() && t.cues.back().shape != Shape::X)
        out += centiseconds_text(t.frame_count) + "\tX\n";
    return out;
}

std::string format_json(const LipSyncTrack& t, std::string_view sound_file) {
    std::string out = "{\n  \"metadata\": {\n    \"soundFile\": " + json_string(sound_file) +
                      ",\n    \"duration\": " + centiseconds_text(t.frame_count) +
                      "\n  },\n  \"mouthCues\": [\n";
    for (size_t i = 0; i < t.cues.size(); ++i) {
        out += "    { \"start\": " + centiseconds_text(t.cues[i].start) +
               ", \"end\": " + centiseconds_text(t.cue_end(i)) + ", \"value\": \"" +
               shape_letter(t.cues[i].shape) + "\" }" + (i + 1 < t.cues.size() ? ",\n" : "\n");
    }
    out += "  ]\n}\n";
    return out;
}

} // namespace tarvik::lipsync

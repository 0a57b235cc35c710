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

// Length of the valid UTF-8 sequence at the start of `s`, 0 when there is none.
size_t utf8_sequence(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    size_t n;
    unsigned min;
    unsigned code;
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2, code = lead & 0x1f, min = 0x80;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3, code = lead & 0x0f, min = 0x800;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4, code = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xc0) != 0x80) return 0;
        code = (code << 6) | (b(i) & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
    return n;
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

std::string json_string(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        const size_t n = utf8_sequence(text);
        if (n == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        const char c = text[0];
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out.append(text.substr(0, n));
        }
        text.remove_prefix(n);
    }
    return out + "\"";
}

} // namespace tarvik::lipsync

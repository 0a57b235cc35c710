// SPDX-License-Identifier: GPL-3.0-or-later
// The VLP lip-sync file: a small little-endian binary format (docs/vlp-format.md has the
// byte layout). Encoding and decoding are pure functions over bytes; the file functions
// add the disk.
#pragma once

#include "lipsync/shapes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::lipsync {

constexpr char kVlpMagic[4] = {'T', 'V', 'L', 'P'};
constexpr uint16_t kVlpVersion = 1;
constexpr uint16_t kVlpHeaderSize = 32; // what this version writes; later ones may be longer
constexpr uint16_t kVlpCueSize = 8;
// Files larger than this are refused by read_vlp_file (some 30 million cues).
constexpr uint64_t kVlpMaxFileSize = 256u << 20;

// A lip-sync track: the cues over the whole sound and what the sound was.
struct LipSyncTrack {
    uint32_t sample_rate = 0;   // of the analysed sound, Hz
    uint64_t sample_frames = 0; // its length in sample frames
    uint16_t frame_rate = 100;  // analysis frames per second
    uint32_t frame_count = 0;   // the track's length in 10 ms units; cues end there
    std::vector<Cue> cues;      // ascending starts, the first at 0

    double seconds() const { return sample_rate ? double(sample_frames) / sample_rate : 0; }
    // End of cue i in 10 ms units: the next cue's start, or frame_count for the last.
    uint32_t cue_end(size_t i) const {
        return i + 1 < cues.size() ? cues[i + 1].start : frame_count;
    }
    bool operator==(const LipSyncTrack&) const = default;
};

struct Status {
    bool ok = true;
    std::string error; // one line, without the program name, when !ok
    explicit operator bool() const { return ok; }
};
inline Status failure(std::string error) {
    return Status{false, std::move(error)};
}

struct VlpReadResult {
    std::optional<LipSyncTrack> track;
    std::string error; // why there is no track
};

// Checks what every valid track satisfies: a sample rate and frame rate above 0, at least
// one cue, the first at 0, starts strictly ascending and below frame_count.
Status check_track(const LipSyncTrack& track);

// The file's bytes for a track (check_track must hold; the result is empty otherwise).
std::string encode_vlp(const LipSyncTrack& track);

// Reads a track from any bytes: never reads outside them, bounds the cue count by the bytes
// present, skips header and cue fields added by later versions, and rejects what
// check_track rejects.
VlpReadResult decode_vlp(std::string_view bytes);

// True when the bytes begin with the VLP magic.
bool has_vlp_magic(std::string_view bytes);

// Writes the track to `path` as a whole: to a temporary file beside it, then renamed over
// it, so that the path never holds a partial file. Nothing is left behind on failure.
Status write_vlp_file(const std::string& path, const LipSyncTrack& track);

// Reads and decodes a VLP file. Errors: "no such file", the system's reason, "is a
// directory", "is not a regular file" (a FIFO or device is not waited for), or
// "not a valid VLP file: " and what decode_vlp found.
VlpReadResult read_vlp_file(const std::string& path);

} // namespace tarvik::lipsync

// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/vlp.hpp"

#include "platform/atomic_file.hpp"
#include "platform/files.hpp"

#include <cerrno>
#include <cstring>

namespace tarvik::lipsync {

namespace {

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// Little-endian fields at a position the caller has checked to lie inside the bytes.
uint64_t get(std::string_view bytes, size_t pos, int size) {
    uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[pos + static_cast<size_t>(i)]);
    return v;
}

std::string errno_text(int error) {
    return std::strerror(error);
}

} // namespace

Status check_track(const LipSyncTrack& t) {
    if (t.sample_rate == 0) return failure("sample rate is 0");
    if (t.frame_rate == 0) return failure("frame rate is 0");
    if (t.cues.empty()) return failure("no cues");
    if (t.cues.front().start != 0) return failure("the first cue does not start at 0");
    for (size_t i = 0; i < t.cues.size(); ++i) {
        if (i > 0 && t.cues[i].start <= t.cues[i - 1].start)
            return failure("cue " + std::to_string(i) + " does not start after the one before");
        if (t.cues[i].start >= t.frame_count)
            return failure("cue " + std::to_string(i) + " starts after the end of the track");
        if (static_cast<uint8_t>(t.cues[i].shape) > static_cast<uint8_t>(Shape::X))
            return failure("cue " + std::to_string(i) + " has no valid shape");
    }
    return {};
}

std::string encode_vlp(const LipSyncTrack& t) {
    if (!check_track(t)) return {};
    std::string out;
    out.reserve(kVlpHeaderSize + t.cues.size() * kVlpCueSize);
    out.append(kVlpMagic, 4);
    put16(out, kVlpVersion);
    put16(out, kVlpHeaderSize);
    put32(out, t.sample_rate);
    put64(out, t.sample_frames);
    put16(out, t.frame_rate);
    put16(out, kVlpCueSize);
    put32(out, t.frame_count);
    put32(out, static_cast<uint32_t>(t.cues.size()));
    for (const Cue& c : t.cues) {
        put32(out, c.start);
        out.push_back(shape_letter(c.shape));
        out.push_back(static_cast<char>(c.opening));
        put16(out, 0);
    }
    return out;
}

bool has_vlp_magic(std::string_view bytes) {
    return bytes.size() >= 4 && bytes.substr(0, 4) == std::string_view(kVlpMagic, 4);
}

VlpReadResult decode_vlp(std::string_view bytes) {
    VlpReadResult result;
    auto fail = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };
    if (!has_vlp_magic(bytes)) return fail("does not begin with \"TVLP\"");
    if (bytes.size() < kVlpHeaderSize) return fail("truncated header");
    const uint64_t version = get(bytes, 4, 2);
    const uint64_t header_size = get(bytes, 6, 2);
    if (version == 0) return fail("version 0 is not a valid version");
    if (header_size < kVlpHeaderSize) return fail("header size too small");
    if (header_size > bytes.size()) return fail("truncated header");

    LipSyncTrack t;
    t.sample_rate = static_cast<uint32_t>(get(bytes, 8, 4));
    t.sample_frames = get(bytes, 12, 8);
    t.frame_rate = static_cast<uint16_t>(get(bytes, 20, 2));
    const uint64_t cue_size = get(bytes, 22, 2);
    t.frame_count = static_cast<uint32_t>(get(bytes, 24, 4));
    const uint64_t cue_count = get(bytes, 28, 4);
    if (cue_size < kVlpCueSize) return fail("cue size too small");
    // Both factors are below 2^32, so the product cannot overflow.
    if (cue_count * cue_size > bytes.size() - header_size) return fail("truncated cue list");

    t.cues.reserve(static_cast<size_t>(cue_count));
    for (uint64_t i = 0; i < cue_count; ++i) {
        const size_t pos = static_cast<size_t>(header_size + i * cue_size);
        const auto shape = shape_from_letter(bytes[pos + 4]);
        if (!shape) return fail("cue " + std::to_string(i) + " has no valid shape");
        t.cues.push_back(Cue{static_cast<uint32_t>(get(bytes, pos, 4)), *shape,
                             static_cast<uint8_t>(bytes[pos + 5])});
    }
    if (Status s = check_track(t); !s) return fail(s.error);
    result.track = std::move(t);
    return result;
}

Status write_vlp_file(const std::string& path, const LipSyncTrack& track) {
    const std::string bytes = encode_vlp(track);
    if (bytes.empty()) return failure("invalid track: " + check_track(track).error);

    // Under a short temporary name, which a later tarvik run in the folder recognises and
    // removes once this process is gone.
    const platform::AtomicWrite written =
        platform::write_file_atomically(path, bytes, {.program = "lipsync"});
    if (!written.ok()) return failure(errno_text(written.error));
    return {};
}

VlpReadResult read_vlp_file(const std::string& path) {
    VlpReadResult result;
    const platform::RegularFile file = platform::open_regular_file(path);
    std::string bytes;
    if (!file) {
        result.error = file.error == ENOENT ? "no such file"
                       : file.error != 0    ? errno_text(file.error)
                                            : file.error_text();
    } else if (static_cast<uint64_t>(file.status.identity.size) > kVlpMaxFileSize) {
        result.error = "too large for a VLP file";
    } else {
        // Read up to the limit, whatever the size said (the file may grow meanwhile).
        if (!file.fd.read_all(bytes, kVlpMaxFileSize + 1))
            result.error = errno_text(errno);
        else if (bytes.size() > kVlpMaxFileSize)
            result.error = "too large for a VLP file";
    }
    if (!result.error.empty()) return result;
    result = decode_vlp(bytes);
    if (!result.track) result.error = "not a valid VLP file: " + result.error;
    return result;
}

} // namespace tarvik::lipsync

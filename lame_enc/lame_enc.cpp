// SPDX-License-Identifier: GPL-3.0-or-later
// LAME's DLL entry points over libmp3lame. Each stream owns its encoder; nothing is shared
// between streams except the pending VBR-tag state of the calling thread (see below).
#include "lame_enc.h"

#include <lame/lame.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#define EXPORT extern "C" __attribute__((visibility("default")))

static_assert(sizeof(BE_CONFIG) == 331 && sizeof(BE_VERSION) == 265);
static_assert(offsetof(BE_CONFIG, format.LHV1.dwSampleRate) == 12);
static_assert(offsetof(BE_CONFIG, format.LHV1.nMode) == 20);
static_assert(offsetof(BE_CONFIG, format.LHV1.bWriteVBRHeader) == 64);
static_assert(offsetof(BE_CONFIG, format.LHV1.nVbrMethod) == 80);
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);
static_assert(offsetof(BE_VERSION, wYear) == 6);
static_assert(offsetof(BE_VERSION, byAlphaLevel) == 137);

namespace {

struct Stream {
    lame_global_flags* gf = nullptr;
    int channels = 1;
    bool vbr_tag = false;
    ~Stream() {
        if (gf) lame_close(gf);
    }
};

// Encoder set-up touches library-wide tables on first use; serialise it so that streams
// opened on several threads at once never race there.
std::mutex init_mutex;

// With the tag on, the encoder state must outlive beCloseStream so that beWriteVBRHeader
// (which only gets a path) can build the tag. It is kept per thread: the stream this thread
// closed last. A newer close from that thread or the header write releases it. (A map under
// a lock rather than thread_local storage: dynamic TLS in a loaded library trips some
// sanitizer runtimes.)
class PendingTags {
  public:
    void put(std::unique_ptr<Stream> s) {
        std::unique_ptr<Stream> older;
        std::lock_guard lock(mutex_);
        older = std::exchange(by_thread_[std::this_thread::get_id()], std::move(s));
    }
    std::unique_ptr<Stream> take() {
        std::lock_guard lock(mutex_);
        const auto it = by_thread_.find(std::this_thread::get_id());
        if (it == by_thread_.end()) return nullptr;
        std::unique_ptr<Stream> s = std::move(it->second);
        by_thread_.erase(it);
        return s;
    }

  private:
    std::mutex mutex_;
    std::map<std::thread::id, std::unique_ptr<Stream>> by_thread_;
};
PendingTags pending_tags;

Stream* as_stream(HBE_STREAM h) {
    return static_cast<Stream*>(h);
}

vbr_mode vbr_method(int32_t method) {
    switch (method) {
    case VBR_METHOD_NONE:
        return vbr_off;
    case VBR_METHOD_OLD:
        return vbr_rh;
    case VBR_METHOD_NEW:
    case VBR_METHOD_MTRH:
        return vbr_mtrh;
    case VBR_METHOD_ABR:
        return vbr_abr;
    case VBR_METHOD_DEFAULT:
    default:
        return vbr_default;
    }
}

BE_ERR configure(Stream& s, const BE_CONFIG& cfg) {
    const auto& c = cfg.format.LHV1;
    lame_global_flags* gf = s.gf;
    lame_set_in_samplerate(gf, static_cast<int>(c.dwSampleRate));
    switch (c.nMode) {
    case BE_MP3_MODE_STEREO:
        lame_set_mode(gf, STEREO);
        lame_set_num_channels(gf, 2);
        break;
    case BE_MP3_MODE_JSTEREO:
        lame_set_mode(gf, JOINT_STEREO);
        lame_set_num_channels(gf, 2);
        break;
    case BE_MP3_MODE_MONO:
        lame_set_mode(gf, MONO);
        lame_set_num_channels(gf, 1);
        break;
    case BE_MP3_MODE_DUALCHANNEL:
        lame_set_mode(gf, DUAL_CHANNEL);
        lame_set_num_channels(gf, 2);
        break;
    default:
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    s.channels = lame_get_num_channels(gf);

    if (c.bEnableVBR) {
        lame_set_VBR_q(gf, c.nVBRQuality);
        lame_set_VBR(gf, vbr_method(c.nVbrMethod));
    } else {
        lame_set_VBR(gf, vbr_off);
    }
    lame_set_brate(gf, static_cast<int>(c.dwBitrate));
    if (c.dwVbrAbr_bps > 0) {
        lame_set_VBR(gf, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(gf, static_cast<int>(c.dwVbrAbr_bps / 1000));
    }
    if (c.dwReSampleRate > 0) lame_set_out_samplerate(gf, static_cast<int>(c.dwReSampleRate));
    if (c.nMode == BE_MP3_MODE_MONO) {
        lame_set_mode(gf, MONO);
        lame_set_num_channels(gf, 1);
    }
    lame_set_strict_ISO(gf, c.bStrictIso);
    if (c.bCopyright) lame_set_copyright(gf, 1);
    lame_set_original(gf, c.bOriginal);
    lame_set_error_protection(gf, c.bCRC);
    lame_set_extension(gf, c.bPrivate);
    if (c.dwBitrate > 0) lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(c.dwBitrate));
    // The VBR minimum holds for every frame, silence included (LAME's own is a soft one), so
    // that the range a caller asked for is the range the frames carry.
    if (c.bEnableVBR && c.dwBitrate > 0) lame_set_VBR_hard_min(gf, 1);
    if (c.dwMaxBitrate > 0) lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(c.dwMaxBitrate));
    if (c.bNoRes) lame_set_disable_reservoir(gf, 1);
    lame_set_bWriteVbrTag(gf, c.bWriteVBRHeader ? 1 : 0);
    // A quality is taken only when its low byte is the complement of its high byte.
    const uint8_t lo = static_cast<uint8_t>(c.nQuality & 0xFF);
    const uint8_t hi = static_cast<uint8_t>(c.nQuality >> 8);
    if (lo == static_cast<uint8_t>(~hi)) lame_set_quality(gf, lo);

    int rc;
    {
        std::lock_guard lock(init_mutex);
        rc = lame_init_params(gf);
    }
    if (rc != 0) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    s.channels = lame_get_num_channels(gf);
    s.vbr_tag = lame_get_bWriteVbrTag(gf) != 0;
    return BE_ERR_SUCCESS;
}

// Offset of the first MPEG frame: after an ID3v2 tag when there is one; -1 when the file
// does not start with a frame there.
[[maybe_unused]] long first_frame_offset(std::FILE* f) {
    unsigned char head[10];
    if (std::fseek(f, 0, SEEK_SET) != 0 || std::fread(head, 1, 10, f) != 10) return -1;
    long offset = 0;
    if (std::memcmp(head, "ID3", 3) == 0) {
        const long size = ((head[6] & 0x7F) << 21) | ((head[7] & 0x7F) << 14) |
                          ((head[8] & 0x7F) << 7) | (head[9] & 0x7F);
        offset = 10 + size + ((head[5] & 0x10) ? 10 : 0);
        if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(head, 1, 2, f) != 2) return -1;
    }
    if (head[0] != 0xFF || (head[1] & 0xE0) != 0xE0) return -1;
    return offset;
}

} // namespace

EXPORT BE_ERR beInitStream(BE_CONFIG* config, uint32_t* samples, uint32_t* buffer_size,
                           HBE_STREAM* stream) {
    if (!config || !samples || !buffer_size || !stream) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *stream = nullptr;
    if (config->dwConfig != BE_CONFIG_LAME) return BE_ERR_INVALID_FORMAT;
    auto s = std::make_unique<Stream>();
    {
        std::lock_guard lock(init_mutex);
        s->gf = lame_init();
    }
    if (!s->gf) return BE_ERR_NO_MORE_HANDLES;
    Stream* raw = s.release();
    *stream = raw; // stored at once: beCloseStream releases it even when set-up fails
    const BE_ERR rc = configure(*raw, *config);
    if (rc != BE_ERR_SUCCESS) return rc;
    const uint32_t per_channel = lame_get_version(raw->gf) == 0 ? 576u : 1152u;
    *samples = per_channel * static_cast<uint32_t>(raw->channels);
    *buffer_size = static_cast<uint32_t>(1.25 * per_channel + 7200);
    return BE_ERR_SUCCESS;
}

EXPORT BE_ERR beEncodeChunk(HBE_STREAM stream, uint32_t n_samples, const int16_t* samples,
                            uint8_t* out, uint32_t* out_bytes) {
    Stream* s = as_stream(stream);
    if (!s || !s->gf || !out || !out_bytes) return BE_ERR_INVALID_HANDLE;
    *out_bytes = 0;
    if (n_samples > 0 && !samples) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int per_channel = static_cast<int>(n_samples / static_cast<uint32_t>(s->channels));
    const int capacity = static_cast<int>(1.25 * per_channel + 7200);
    int n;
    if (s->channels == 1)
        n = lame_encode_buffer(s->gf, samples, samples, per_channel, out, capacity);
    else
        n = lame_encode_buffer_interleaved(s->gf, const_cast<short*>(samples), per_channel, out,
                                           capacity);
    if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
    *out_bytes = static_cast<uint32_t>(n);
    return BE_ERR_SUCCESS;
}

EXPORT BE_ERR beDeinitStream(HBE_STREAM stream, uint8_t* out, uint32_t* out_bytes) {
    Stream* s = as_stream(stream);
    if (!s || !s->gf || !out || !out_bytes) return BE_ERR_INVALID_HANDLE;
    *out_bytes = 0;
    const int n = lame_encode_flush(s->gf, out, 7200);
    if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
    *out_bytes = static_cast<uint32_t>(n);
    return BE_ERR_SUCCESS;
}

EXPORT BE_ERR beCloseStream(HBE_STREAM stream) {
    std::unique_ptr<Stream> s(as_stream(stream));
    if (s && s->gf && s->vbr_tag) pending_tags.put(std::move(s)); // kept for beWriteVBRHeader
    return BE_ERR_SUCCESS;
}

EXPORT void beVersion(BE_VERSION* v) {
    if (!v) return;
    std::memset(v, 0, sizeof *v);
    v->byDLLMajorVersion = 1;
    v->byDLLMinorVersion = 32;
    lame_version_t lv{};
    get_lame_version_numerical(&lv);
    v->byMajorVersion = static_cast<uint8_t>(lv.major);
    v->byMinorVersion = static_cast<uint8_t>(lv.minor);
    v->byAlphaLevel = static_cast<uint8_t>(lv.alpha);
    v->byBetaLevel = static_cast<uint8_t>(lv.beta);
    const char* url = get_lame_url();
    if (url) std::snprintf(v->zHomepage, sizeof v->zHomepage, "%s", url);
}

// A test build leaves this entry point out, to prove the binding refuses such a library.
#ifndef TARVIK_OMIT_WRITE_VBR_HEADER
EXPORT BE_ERR beWriteVBRHeader(const char* mp3_path) {
    std::unique_ptr<Stream> s = pending_tags.take();
    if (!s || !s->gf) return BE_ERR_INVALID_HANDLE;
    if (!mp3_path) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    std::vector<unsigned char> frame(2880);
    const size_t size = lame_get_lametag_frame(s->gf, frame.data(), frame.size());
    if (size == 0 || size > frame.size()) return BE_ERR_INVALID_FORMAT;
    std::FILE* f = std::fopen(mp3_path, "r+b");
    if (!f) return BE_ERR_INVALID_HANDLE;
    const long offset = first_frame_offset(f);
    bool ok = offset >= 0 && std::fseek(f, offset, SEEK_SET) == 0 &&
              std::fwrite(frame.data(), 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    return ok ? BE_ERR_SUCCESS : BE_ERR_INVALID_FORMAT;
}
#endif

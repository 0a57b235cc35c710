#include "encoder/encoding.hpp"

#include "common/files.hpp"
#include "encoder/binding.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace tarvik {

BE_CONFIG build_config(uint16_t mpeg_version, uint32_t sample_rate, uint8_t mode, uint16_t bit_rate,
                       int32_t vbr_quality) {
    BE_CONFIG c;
    std::memset(&c, 0, sizeof c);
    auto& l = c.format.LHV1;
    const bool vbr = vbr_quality != -1;
    c.dwConfig = BE_CONFIG_LAME;
    l.dwStructVersion = 1;
    l.dwStructSize = sizeof(BE_CONFIG);
    l.dwSampleRate = sample_rate;
    l.dwReSampleRate = sample_rate; // same rate: never resample
    l.nMode = mode;
    l.dwBitrate = bit_rate;
    l.dwMaxBitrate = bit_rate;
    l.nPreset = LQP_NORMAL_QUALITY;
    l.dwMpegVersion = mpeg_version;
    l.bOriginal = 1;
    // The tag frame is reserved for every file: it carries the exact length (encoder delay
    // and padding), so players and engines get the duration right for CBR and VBR alike.
    l.bWriteVBRHeader = 1;
    l.bEnableVBR = vbr ? 1 : 0;
    l.nVBRQuality = vbr ? vbr_quality : 0;
    l.nVbrMethod = vbr ? VBR_METHOD_NEW : VBR_METHOD_DEFAULT;
    return c;
}

MpegClass mpeg_class(uint32_t input_rate) {
    // The nearest MPEG rate (the higher one on a tie): 96000 Hz becomes 48000 Hz.
    uint32_t rate = kMpegRates[0];
    for (uint32_t r : kMpegRates) {
        const auto distance = [&](uint32_t x) {
            return x > input_rate ? x - input_rate : input_rate - x;
        };
        if (distance(r) <= distance(rate)) rate = r;
    }
    if (rate >= 32000) return {rate, 32, 320};
    // Below 16 kHz (MPEG-2.5) the encoder writes no frame above 64 kbps.
    return {rate, 8, static_cast<uint16_t>(rate >= 16000 ? 160 : 64)};
}

uint16_t fit_bit_rate(uint16_t kbps, const MpegClass& mpeg) {
    const auto& allowed = mpeg.mpeg1() ? kMpeg1Kbps : kMpeg2Kbps;
    for (uint16_t a : allowed)
        if (a >= kbps && a <= mpeg.max_kbps) return a;
    return mpeg.max_kbps;
}

void adjust_config(BE_CONFIG& config, const RunSettings& settings) {
    auto& l = config.format.LHV1;
    if (l.nMode < 0 || l.nMode > 3) return;
    const MpegClass mpeg = mpeg_class(l.dwSampleRate);
    l.dwReSampleRate = mpeg.rate;
    l.dwMpegVersion = mpeg.mpeg1() ? MPEG1 : MPEG2;
    const uint16_t kbps = fit_bit_rate(settings.bit_rate, mpeg);
    l.dwBitrate = l.bEnableVBR && !settings.bit_rate_given ? mpeg.min_kbps : kbps;
    l.dwMaxBitrate = l.bEnableVBR ? mpeg.max_kbps : kbps;
    if (l.nMode == kModeMono || l.nMode == kModeDual) return;
    switch (kbps) {
    case 8: l.nMode = kModeMono; break;
    case 16: case 24: case 32: case 40: case 48: case 56: case 64: case 80: case 96:
    case 112: case 128: case 160: case 192: l.nMode = kModeJointStereo; break;
    case 224: case 256: case 320: l.nMode = kModeStereo; break;
    default: break;
    }
}

EncodeOptions encode_options_for(const RunSettings& settings) {
    EncodeOptions o;
    o.show_bar = settings.show_bar;
    o.no_click = settings.no_click;
    return o;
}

const char* mode_name(int32_t mode) {
    switch (mode) {
    case kModeStereo: return "independent stereo";
    case kModeJointStereo: return "joint stereo";
    case kModeDual: return "dual channel";
    case kModeMono: return "mono";
    default: return "";
    }
}

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// The encoder stream, closed exactly once on every path.
class EncoderStream {
public:
    ~EncoderStream() { close(); }
    BE_ERR init(BE_CONFIG config, uint32_t& samples, uint32_t& buffer_size) {
        return lame().init_stream(&config, &samples, &buffer_size, &handle_);
    }
    HBE_STREAM handle() const { return handle_; }
    void close() {
        if (!closed_) lame().close_stream(handle_);
        closed_ = true;
    }

private:
    HBE_STREAM handle_ = nullptr;
    bool closed_ = false;
};

// Mixes frames of in_ch channels into out_ch (1 or 2) channels. Several channels going to
// one are averaged: even-numbered channels to the left, odd-numbered to the right.
void mix_down(const int16_t* in, int in_ch, int16_t* out, int out_ch, sf_count_t frames) {
    for (sf_count_t f = 0; f < frames; ++f) {
        const int16_t* frame = in + f * in_ch;
        if (out_ch == 1) {
            int32_t sum = 0;
            for (int c = 0; c < in_ch; ++c) sum += frame[c];
            out[f] = static_cast<int16_t>(sum / in_ch);
        } else if (in_ch == 1) {
            out[2 * f] = out[2 * f + 1] = frame[0];
        } else {
            int32_t left = 0, right = 0;
            for (int c = 0; c < in_ch; c += 2) left += frame[c];
            for (int c = 1; c < in_ch; c += 2) right += frame[c];
            out[2 * f] = static_cast<int16_t>(left / ((in_ch + 1) / 2));
            out[2 * f + 1] = static_cast<int16_t>(right / (in_ch / 2));
        }
    }
}

// Clamps to the 16-bit range; a not-a-number sample (no comparison holds for it) is silence.
void floats_to_pcm(const float* in, int16_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const float v = in[i] * 32768.0f;
        out[i] = std::isnan(v) ? int16_t{0}
                               : static_cast<int16_t>(v >= 32767.0f    ? 32767.0f
                                                      : v <= -32768.0f ? -32768.0f
                                                                       : std::nearbyint(v));
    }
}

// The ten-step bar: one '>' per tenth reached, catching up when a chunk spans several.
class Progress {
public:
    Progress(const EncodeOptions& o, ConsoleOut& out, sf_count_t total)
        : options_(o), out_(out), total_(total) {}
    void update(sf_count_t done) {
        if (!options_.progress) return;
        const double p = total_ > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total_) : 100.0;
        if (!options_.show_bar) {
            out_.print("Encoding: %0.2f%%\r", p);
            out_.flush();
            return;
        }
        if (mark_ == -1) {
            mark_ = 0;
            out_.write("Encoding: [ ");
        }
        draw_up_to(static_cast<int>(p));
    }
    void finish() {
        if (!options_.progress) return;
        if (!options_.show_bar) {
            out_.write("\n");
            return;
        }
        if (mark_ != -1) draw_up_to(100); // a finished bar always shows ten steps
        out_.write(" Done!\n");
    }

private:
    void draw_up_to(int q) {
        bool drew = false;
        while (mark_ < q && mark_ < 100) {
            mark_ += 10;
            out_.write("\b>]");
            drew = true;
        }
        if (drew) out_.flush();
    }
    const EncodeOptions& options_;
    ConsoleOut& out_;
    sf_count_t total_;
    int mark_ = -1;
};

// A layer III frame from its 4-byte header: size in bytes, samples, and where its side
// information ends (where a tag frame's "Xing" or "Info" starts). Size 0: not a frame.
struct FrameHeader {
    size_t size = 0;
    int samples = 0;
    size_t tag_offset = 0;
};

FrameHeader read_frame_header(const uint8_t* h) {
    static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
    const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int rate_index = (h[2] >> 2) & 3, bit_rate_index = h[2] >> 4;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1 || version == 1 ||
        rate_index == 3 || bit_rate_index == 0 || bit_rate_index == 15)
        return {};
    const bool mpeg1 = version == 3, mono = (h[3] >> 6) == 3;
    const uint32_t rate = kRates[rate_index] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    FrameHeader f;
    const uint16_t kbps =
        (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[static_cast<size_t>(bit_rate_index - 1)];
    f.size = (mpeg1 ? 144000u : 72000u) * kbps / rate +
             ((h[2] >> 1) & 1);
    f.samples = mpeg1 ? 1152 : 576;
    f.tag_offset = 4 + ((h[1] & 1) ? 0 : 2) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    return f;
}

// CRC-16 as the LAME tag uses it (polynomial 0x8005, bits reflected).
uint16_t crc16(uint16_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ p[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

uint32_t get_be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
void put_be(uint8_t* p, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

// Decoders hold back this many samples at the start of the stream; the tag's padding must
// not claim samples beyond the last frame they can decode.
constexpr int kDecoderDelay = 529;

// The tag frame told the truth about the frames now kept: counts, seek table, padding, CRCs.
void retag(std::vector<uint8_t>& tag, const FrameHeader& first,
           const std::vector<long long>& starts, long long end, uint16_t music_crc) {
    size_t q = first.tag_offset;
    if (q + 8 > tag.size() ||
        (std::memcmp(&tag[q], "Xing", 4) != 0 && std::memcmp(&tag[q], "Info", 4) != 0))
        return;
    const uint32_t flags = get_be32(&tag[q + 4]);
    const auto frames =
        static_cast<uint32_t>(starts.size() - 1); // audio frames, the tag's own aside
    uint32_t claimed = frames;
    q += 8;
    if ((flags & 1) && q + 4 <= tag.size()) {
        claimed = get_be32(&tag[q]);
        put_be(&tag[q], frames, 4);
        q += 4;
    }
    if ((flags & 2) && q + 4 <= tag.size()) {
        put_be(&tag[q], static_cast<uint32_t>(end), 4);
        q += 4;
    }
    if ((flags & 4) && q + 100 <= tag.size()) {
        for (uint32_t i = 0; i < 100 && frames > 0; ++i)
            tag[q + i] = static_cast<uint8_t>(
                std::min<long long>(255, 256 * starts[1 + i * frames / 100] / end));
        q += 100;
    }
    if (flags & 8) q += 4;
    if (q + 36 > tag.size() || std::memcmp(&tag[q], "LAME", 4) != 0) return;
    uint8_t* lame_ext = &tag[q];
    const long long padding = ((lame_ext[22] & 15) << 8) | lame_ext[23];
    const long long dropped = static_cast<long long>(claimed) - frames;
    const auto kept_padding = static_cast<uint32_t>(
        std::clamp<long long>(padding - dropped * first.samples, kDecoderDelay, 4095));
    lame_ext[22] = static_cast<uint8_t>((lame_ext[22] & 0xF0) | (kept_padding >> 8));
    lame_ext[23] = static_cast<uint8_t>(kept_padding);
    put_be(lame_ext + 28, static_cast<uint32_t>(end), 4); // music length: the whole file
    put_be(lame_ext + 32, music_crc, 2);
    put_be(lame_ext + 34, crc16(0, tag.data(), q + 34), 2);
}

// Ends the MP3 on its last whole frame (without the flushed frames its last one is cut
// short) and rewrites the tag frame at its start to match.
bool keep_whole_frames(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "r+b"), std::fclose);
    if (!f) return false;
    std::vector<long long> starts;
    std::vector<uint8_t> frame(4), tag;
    FrameHeader first;
    uint16_t music_crc = 0;
    long long end = 0;
    while (std::fread(frame.data(), 1, 4, f.get()) == 4) {
        const FrameHeader h = read_frame_header(frame.data());
        if (h.size < 4) break;
        frame.resize(h.size);
        if (std::fread(frame.data() + 4, 1, h.size - 4, f.get()) != h.size - 4) break;
        if (starts.empty()) {
            first = h;
            tag = frame;
        } else {
            music_crc = crc16(music_crc, frame.data(), h.size);
        }
        starts.push_back(end);
        end += static_cast<long long>(h.size);
    }
    if (!starts.empty()) {
        retag(tag, first, starts, end, music_crc);
        if (std::fseek(f.get(), 0, SEEK_SET) != 0 ||
            std::fwrite(tag.data(), 1, tag.size(), f.get()) != tag.size())
            return false;
    }
    return std::fflush(f.get()) == 0 && ::ftruncate(::fileno(f.get()), end) == 0;
}

} // namespace

bool encode_mp3(const BE_CONFIG& config, const std::string& wav_path, const std::string& mp3_path,
                const EncodeOptions& options, ConsoleOut& out) {
    const auto& l = config.format.LHV1;
    // What the frame headers will carry: the output rate, and the bit rate or VBR range.
    out.print("Final settings: | Sample rate = %dHz\n                | Mode        = %s\n",
              static_cast<int>(l.dwReSampleRate), mode_name(l.nMode));
    const int low = static_cast<int>(l.dwBitrate), high = static_cast<int>(l.dwMaxBitrate);
    if (!l.bEnableVBR)
        out.print("                | Bitrate     = %dkbps\n", low);
    else if (low == high)
        out.print("                | Bitrate     = %dkbps (VBR)\n", low);
    else
        out.print("                | Bitrate     = %d-%dkbps (VBR)\n", low, high);

    EncoderStream stream;
    uint32_t chunk_samples = 0, buffer_size = 0;
    if (stream.init(config, chunk_samples, buffer_size) != BE_ERR_SUCCESS || chunk_samples == 0)
        return false;
    const int out_ch = l.nMode == kModeMono ? 1 : 2;
    const sf_count_t chunk_frames = chunk_samples / static_cast<uint32_t>(out_ch);

    SF_INFO info{};
    SndfilePtr wav(sf_open(wav_path.c_str(), SFM_READ, &info));
    if (!wav || info.channels < 1) return false;
    const int in_ch = info.channels;
    // libsndfile converts integer PCM of any width to 16 bits itself; float data read as
    // 16-bit would be truncated (or normalised to its peak), so it is read as float here.
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool float_data = subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
    const long long input_length = file_size_of(wav_path);

    std::vector<int16_t> pcm(chunk_samples);
    std::vector<int16_t> mix(in_ch == out_ch ? 0 : static_cast<size_t>(chunk_frames * in_ch));
    std::vector<float> floats(float_data ? static_cast<size_t>(chunk_frames * in_ch) : 0);
    std::vector<uint8_t> mp3(buffer_size);

    AtomicFile file(mp3_path);
    if (!file.open()) return false;

    Progress progress(options, out, info.frames);
    sf_count_t done = 0;
    for (;;) {
        if (options.cancel && options.cancel->load(std::memory_order_relaxed)) return false;
        int16_t* frames = in_ch == out_ch ? pcm.data() : mix.data();
        const sf_count_t got = float_data ? sf_readf_float(wav.get(), floats.data(), chunk_frames)
                                          : sf_readf_short(wav.get(), frames, chunk_frames);
        if (got <= 0) break;
        if (float_data) floats_to_pcm(floats.data(), frames, static_cast<size_t>(got * in_ch));
        if (in_ch != out_ch) mix_down(mix.data(), in_ch, pcm.data(), out_ch, got);
        uint32_t bytes = 0;
        if (lame().encode_chunk(stream.handle(), static_cast<uint32_t>(got * out_ch), pcm.data(),
                                mp3.data(), &bytes) != BE_ERR_SUCCESS)
            return false;
        if (bytes && std::fwrite(mp3.data(), 1, bytes, file.stream()) != bytes) return false;
        done += got;
        progress.update(done);
    }
    // A read error is a failure, not an early end of the audio.
    if (sf_error(wav.get()) != SF_ERR_NO_ERROR) return false;
    progress.finish();

    uint32_t flushed = 0;
    if (lame().deinit_stream(stream.handle(), mp3.data(), &flushed) != BE_ERR_SUCCESS) return false;
    if (flushed && !options.no_click && std::fwrite(mp3.data(), 1, flushed, file.stream()) != flushed)
        return false;
    if (!file.close()) return false;
    wav.reset();
    stream.close();
    // The tag frame reserved at the start now gets the real length and sizes; a file whose
    // frame was too small for a tag simply has none.
    lame().write_vbr_header(file.temp_path().c_str());
    if (options.no_click && !keep_whole_frames(file.temp_path())) return false;
    if (!file.commit()) return false;

    const long long mp3_size = file_size_of(mp3_path);
    if (mp3_size >= 0 && input_length > 0)
        out.print("Space saved: %d%%\n", static_cast<int>(100 - mp3_size * 100 / input_length));
    return true;
}

} // namespace tarvik

#include "encoder/encoding.hpp"

#include "common/files.hpp"
#include "encoder/binding.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <sndfile.h>
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

void adjust_config(BE_CONFIG& config, RunSettings& settings) {
    auto& l = config.format.LHV1;
    if (l.nMode < 0 || l.nMode > 3) return;
    const uint32_t rate = l.dwSampleRate;
    auto clamp_to = [&](uint32_t kbps) {
        settings.bit_rate = static_cast<uint16_t>(kbps);
        l.dwBitrate = kbps;
        l.dwMaxBitrate = kbps;
    };
    const bool mpeg2 = rate == 8000 || rate == 11025 || rate == 12000 || rate == 16000 ||
                       rate == 22050 || rate == 24000;
    if (mpeg2) {
        if (l.dwBitrate < 8) clamp_to(8);
        if (l.dwBitrate > 160) clamp_to(160);
    } else if (is_mpeg1_rate(rate)) {
        if (l.dwBitrate < 32)
            clamp_to(32);
        else if (l.dwBitrate > 320)
            clamp_to(320);
    }
    if (l.nMode == kModeMono || l.nMode == kModeDual) return;
    switch (l.dwBitrate) {
    case 8: l.nMode = kModeMono; break;
    case 16: case 24: case 32: case 40: case 48: case 56: case 64: case 80: case 96:
    case 112: case 128: case 160: case 192: l.nMode = kModeJointStereo; break;
    case 224: case 256: case 320: l.nMode = kModeStereo; break;
    default: break;
    }
}

uint16_t fit_bit_rate(uint16_t kbps, uint16_t mpeg_version) {
    if (mpeg_version == 1) {
        if (kbps == 8 || kbps == 16 || kbps == 24) return 32;
        return kbps == 144 ? 160 : kbps;
    }
    return (kbps == 192 || kbps == 224 || kbps == 256 || kbps == 320) ? 160 : kbps;
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

} // namespace

bool encode_mp3(const BE_CONFIG& config, const std::string& wav_path, const std::string& mp3_path,
                const EncodeOptions& options, ConsoleOut& out) {
    const auto& l = config.format.LHV1;
    out.print("Final settings: | Sample rate = %dHz\n                | Mode        = %s\n"
              "                | Bitrate     = %dkbps\n",
              static_cast<int>(l.dwSampleRate), mode_name(l.nMode), static_cast<int>(l.dwBitrate));

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
    if (!file.commit()) return false;

    const long long mp3_size = file_size_of(mp3_path);
    if (mp3_size >= 0 && input_length > 0)
        out.print("Space saved: %d%%\n", static_cast<int>(100 - mp3_size * 100 / input_length));
    return true;
}

} // namespace tarvik

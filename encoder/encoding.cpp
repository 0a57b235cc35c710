// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/encoding.hpp"

#include "common/files.hpp"
#include "common/text.hpp"
#include "encoder/binding.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <vector>

namespace tarvik {

namespace {

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

// Where a layer III frame's side information ends, from its 4-byte header: where a tag
// frame's "Xing" or "Info" starts. 0: not a frame.
size_t tag_offset(const uint8_t* h) {
    const int version = (h[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1 || version == 1) return 0;
    const bool mpeg1 = version == 3, mono = (h[3] >> 6) == 3;
    return 4 + ((h[1] & 1) ? 0 : 2) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
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

// What became of the fade's length in the MP3's length tag.
enum class TagPadding { Added, NoTag, Failed };

// Adds `extra` samples to the padding the LAME tag declares, so that decoders which honour
// it drop the fade appended after the audio. Failed when the padding would not fit its 12
// bits or the file cannot be rewritten.

TagPadding add_tag_padding(std::FILE* f, uint32_t extra) {
    std::vector<uint8_t> tag(512);
    if (std::fseek(f, 0, SEEK_SET) != 0) return TagPadding::Failed;
    tag.resize(std::fread(tag.data(), 1, tag.size(), f));
    size_t q = tag.size() >= 4 ? tag_offset(tag.data()) : 0;
    // At the lowest bit rates a frame cannot hold the tag, and the encoder writes none: then
    // no player drops any padding, and the fade simply plays after the audio.
    if (q == 0 || q + 8 > tag.size() ||
        (std::memcmp(&tag[q], "Xing", 4) != 0 && std::memcmp(&tag[q], "Info", 4) != 0))
        return TagPadding::NoTag;
    const uint32_t flags =
        uint32_t{tag[q + 4]} << 24 | uint32_t{tag[q + 5]} << 16 | tag[q + 6] << 8 | tag[q + 7];
    q += 8 + ((flags & 1) ? 4 : 0) + ((flags & 2) ? 4 : 0) + ((flags & 4) ? 100 : 0) +
         ((flags & 8) ? 4 : 0);
    if (q + 36 > tag.size() || std::memcmp(&tag[q], "LAME", 4) != 0) return TagPadding::NoTag;
    uint8_t* lame_ext = &tag[q];
    const uint32_t padding = (((lame_ext[22] & 15u) << 8) | lame_ext[23]) + extra;
    if (padding > 4095) return TagPadding::Failed;
    lame_ext[22] = static_cast<uint8_t>((lame_ext[22] & 0xF0) | (padding >> 8));
    lame_ext[23] = static_cast<uint8_t>(padding);
    const uint16_t crc = crc16(0, tag.data(), q + 34);
    lame_ext[34] = static_cast<uint8_t>(crc >> 8);
    lame_ext[35] = static_cast<uint8_t>(crc);
    const bool written = std::fseek(f, 0, SEEK_SET) == 0 &&
                         std::fwrite(tag.data(), 1, q + 36, f) == q + 36 && std::fflush(f) == 0;
    return written ? TagPadding::Added : TagPadding::Failed;
}

// The fade appended by no-click: about 10 ms, as many input samples as make a whole number
// of output samples when the encoder resamples; 0 when no short such length exists.
struct Fade {
    uint32_t input = 0, output = 0;
};
Fade fade_length(uint32_t input_rate, uint32_t output_rate) {
    const uint32_t g = std::gcd(input_rate, output_rate);
    const uint32_t step_in = input_rate / g, step_out = output_rate / g;
    const uint32_t steps = std::max<uint32_t>(1, input_rate / 100 / step_in);
    if (step_in * steps > input_rate / 25) return {};
    return {step_in * steps, step_out * steps};
}

// A chunk read as float, scaled by `gain` and converted to 16 bits by the one rule. The
// plan's gain keeps the true peak below full scale, so nothing clips.
size_t read_scaled(AudioSource& audio, float gain, std::vector<float>& floats, int16_t* out,
                   size_t frames, int channels) {
    const size_t got = audio.read(floats.data(), frames, channels);
    const size_t samples = got * static_cast<size_t>(channels);
    for (size_t i = 0; i < samples; ++i)
        floats[i] *= gain;
    float_to_pcm16(floats.data(), samples, out);
    return got;
}

} // namespace

UnplacedMp3 encode_unplaced(const Plan& plan, InputWav& input, const std::string& mp3_path,
                            const EncodeOptions& options, Sink& sink) {
    UnplacedMp3 result;
    bool begun = false;
    auto fail = [&](std::string reason) {
        if (begun) sink.progress_end(ProgressEnd::Failed);
        result.file.reset();
        result.reason = std::move(reason);
        return std::move(result);
    };
    EncoderStream stream;
    uint32_t chunk_samples = 0, buffer_size = 0;
    if (stream.init(encoder_config(plan), chunk_samples, buffer_size) != BE_ERR_SUCCESS ||
        chunk_samples == 0)
        return fail("the encoder refused the settings");
    const int out_ch = plan.output_channels();
    const size_t chunk_frames = chunk_samples / static_cast<uint32_t>(out_ch);

    // The input was opened once, for the whole job; every byte the decoder reads is hashed,
    // so that -rem can tell later whether the file still holds exactly what was encoded.
    AudioSource* audio = input.audio();
    if (!audio) return fail("cannot read its audio");

    std::vector<int16_t> pcm(chunk_samples);
    // Without a gain the samples are read as 16 bits directly, as they always were.
    const bool scaled = plan.gain_db != 0.0;
    const auto gain = static_cast<float>(std::pow(10.0, plan.gain_db / 20.0));
    std::vector<float> floats(scaled ? chunk_samples : 0);
    std::vector<uint8_t> mp3(buffer_size);

    result.file = std::make_unique<AtomicFile>(mp3_path);
    AtomicFile& file = *result.file;
    if (!file.open()) return fail(file.error());
    auto write = [&](uint32_t bytes) {
        return bytes == 0 || std::fwrite(mp3.data(), 1, bytes, file.stream()) == bytes;
    };
    auto write_failed = [&] {
        return fail(format_text("cannot write \"%s\": %s", escaped(mp3_path).c_str(),
                                errno_text(errno).c_str()));
    };

    sink.progress_begin();
    begun = true;
    const int64_t total = input.facts().frames;
    int64_t done = 0;
    std::array<int16_t, 2> last{}; // the last sample of each output channel
    for (;;) {
        if (options.cancel && options.cancel->load(std::memory_order_relaxed)) {
            sink.progress_end(ProgressEnd::Stopped);
            result.file.reset();
            return result;
        }
        const size_t got = scaled
                               ? read_scaled(*audio, gain, floats, pcm.data(), chunk_frames, out_ch)
                               : audio->read(pcm.data(), chunk_frames, out_ch);
        if (got == 0) break;
        uint32_t bytes = 0;
        if (lame().encode_chunk(stream.handle(), static_cast<uint32_t>(got * out_ch), pcm.data(),
                                mp3.data(), &bytes) != BE_ERR_SUCCESS)
            return fail("the encoder failed");
        if (!write(bytes)) return write_failed();
        for (int c = 0; c < out_ch; ++c)
            last[static_cast<size_t>(c)] = pcm[static_cast<size_t>((got - 1) * out_ch + c)];
        done += static_cast<int64_t>(got);
        sink.progress(total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total)
                                : 100.0);
    }
    // A read error is a failure, not an early end of the audio.
    if (audio->read_failed()) return fail("cannot read its audio");
    sink.progress_end(ProgressEnd::Finished);
    begun = false;

    // No-click: a raised-cosine fade from the last sample to silence after the audio.
    const Fade fade =
        options.no_click && done > 0 ? fade_length(plan.input_rate, plan.output_rate) : Fade{};
    if (fade.input > 0) {
        std::vector<int16_t> tail(static_cast<size_t>(fade.input) * static_cast<size_t>(out_ch));
        for (uint32_t i = 0; i < fade.input; ++i) {
            const double gain = 0.5 * (1.0 + std::cos(M_PI * (i + 1) / fade.input));
            for (int c = 0; c < out_ch; ++c)
                tail[i * static_cast<size_t>(out_ch) + static_cast<size_t>(c)] =
                    static_cast<int16_t>(std::lround(last[static_cast<size_t>(c)] * gain));
        }
        for (size_t at = 0; at < tail.size(); at += chunk_samples) {
            const auto n = static_cast<uint32_t>(std::min<size_t>(chunk_samples, tail.size() - at));
            uint32_t bytes = 0;
            if (lame().encode_chunk(stream.handle(), n, tail.data() + at, mp3.data(), &bytes) !=
                BE_ERR_SUCCESS)
                return fail("the encoder failed");
            if (!write(bytes)) return write_failed();
        }
    }
    uint32_t flushed = 0;
    if (lame().deinit_stream(stream.handle(), mp3.data(), &flushed) != BE_ERR_SUCCESS)
        return fail("the encoder failed");
    if (!write(flushed)) return write_failed();
    if (!file.close()) return fail(file.error());
    stream.close();
    // The tag frame reserved at the start now gets the real length and sizes; a file whose
    // frame was too small for a tag simply has none.
    lame().write_vbr_header(file.temp_path().c_str());
    if (fade.input > 0) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(
            std::fopen(file.temp_path().c_str(), "r+b"), std::fclose);
        if (!f || add_tag_padding(f.get(), fade.output) == TagPadding::Failed)
            return fail("cannot mark the fade as padding in its length tag");
    }
    return result;
}

EncodeResult place_mp3(UnplacedMp3& mp3, InputWav& input, const EncodeOptions& options) {
    EncodeResult result;
    AtomicFile& file = *mp3.file;
    const long long input_length = input.length();
    result.read = input.finish();
    const long long mp3_size = file_size_of(file.temp_path());
    if (!file.commit(options.place)) {
        result.reason = file.error();
        return result;
    }
    if (mp3_size >= 0 && input_length > 0)
        result.space_saved = static_cast<int>(100 - mp3_size * 100 / input_length);
    result.ok = true;
    return result;
}

EncodeResult encode_mp3(const Plan& plan, InputWav& input, const std::string& mp3_path,
                        const EncodeOptions& options, Sink& sink) {
    UnplacedMp3 mp3 = encode_unplaced(plan, input, mp3_path, options, sink);
    if (!mp3) {
        EncodeResult failed;
        failed.reason = std::move(mp3.reason);
        return failed;
    }
    return place_mp3(mp3, input, options);
}

} // namespace tarvik

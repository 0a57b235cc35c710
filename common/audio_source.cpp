// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/audio_source.hpp"

#include <cmath>
#include <type_traits>
#include <utility>

namespace tarvik {

namespace {

// Averages in a wider type: the sum of 16-bit channels in 32 bits, divided with truncation
// as integers are; floats are scaled by the reciprocal of the count.
template <typename Sample, typename Sum>
void mix(const Sample* in, int in_ch, Sample* out, int out_ch, size_t frames) {
    const auto average = [](Sum sum, int count) -> Sample {
        if constexpr (std::is_floating_point_v<Sample>)
            return sum * (Sample{1} / static_cast<Sample>(count));
        else
            return static_cast<Sample>(sum / count);
    };
    for (size_t f = 0; f < frames; ++f) {
        const Sample* frame = in + f * static_cast<size_t>(in_ch);
        if (out_ch == 1) {
            Sum sum = 0;
            for (int c = 0; c < in_ch; ++c)
                sum += frame[c];
            out[f] = average(sum, in_ch);
        } else if (in_ch == 1) {
            out[2 * f] = out[2 * f + 1] = frame[0];
        } else {
            Sum left = 0, right = 0;
            for (int c = 0; c < in_ch; c += 2)
                left += frame[c];
            for (int c = 1; c < in_ch; c += 2)
                right += frame[c];
            out[2 * f] = average(left, (in_ch + 1) / 2);
            out[2 * f + 1] = average(right, in_ch / 2);
        }
    }
}

} // namespace

void mix_channels(const int16_t* in, int in_channels, int16_t* out, int out_channels,
                  size_t frames) {
    mix<int16_t, int32_t>(in, in_channels, out, out_channels, frames);
}

void mix_channels(const float* in, int in_channels, float* out, int out_channels, size_t frames) {
    mix<float, float>(in, in_channels, out, out_channels, frames);
}

void float_to_pcm16(const float* in, size_t count, int16_t* out) {
    for (size_t i = 0; i < count; ++i) {
        const float v = in[i] * 32768.0f;
        out[i] = std::isnan(v) ? int16_t{0}
                               : static_cast<int16_t>(v >= 32767.0f    ? 32767.0f
                                                      : v <= -32768.0f ? -32768.0f
                                                                       : std::nearbyint(v));
    }
}

AudioSource AudioSource::opened(SNDFILE* file, const SF_INFO& info) {
    AudioSource source;
    source.file_ = file;
    if (!file) {
        source.open_error_ = sf_strerror(nullptr);
    } else if (info.channels < 1) {
        source.open_error_ = "no channels";
        sf_close(file);
        source.file_ = nullptr;
    }
    switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        source.facts_.float_data = true;
        break;
    }
    source.facts_.sample_rate = info.samplerate;
    source.facts_.channels = info.channels;
    source.facts_.frames = info.frames;
    return source;
}

AudioSource AudioSource::from_descriptor(int fd) {
    SF_INFO info{};
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    return opened(file, info);
}

AudioSource AudioSource::from_virtual_io(SF_VIRTUAL_IO& io, void* user_data) {
    SF_INFO info{};
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, user_data);
    return opened(file, info);
}

AudioSource::AudioSource(AudioSource&& other) noexcept {
    *this = std::move(other);
}

AudioSource& AudioSource::operator=(AudioSource&& other) noexcept {
    if (this != &other) {
        if (file_) sf_close(file_);
        file_ = std::exchange(other.file_, nullptr);
        facts_ = other.facts_;
        floats_ = std::move(other.floats_);
        shorts_ = std::move(other.shorts_);
        open_error_ = std::move(other.open_error_);
    }
    return *this;
}

AudioSource::~AudioSource() {
    if (file_) sf_close(file_);
}

std::string AudioSource::error() const {
    if (!file_) return open_error_;
    return sf_error(file_) != SF_ERR_NO_ERROR ? sf_strerror(file_) : "";
}

bool AudioSource::read_failed() const {
    return file_ && sf_error(file_) != SF_ERR_NO_ERROR;
}

bool AudioSource::rewind() {
    return file_ && sf_seek(file_, 0, SEEK_SET) == 0;
}

size_t AudioSource::read(float* out, size_t frames, int out_channels) {
    if (!file_) return 0;
    const int in_ch = facts_.channels;
    const auto want = static_cast<sf_count_t>(frames);
    if (in_ch == out_channels) {
        const sf_count_t got = sf_readf_float(file_, out, want);
        return got > 0 ? static_cast<size_t>(got) : 0;
    }
    floats_.resize(frames * static_cast<size_t>(in_ch));
    const sf_count_t got = sf_readf_float(file_, floats_.data(), want);
    if (got <= 0) return 0;
    mix_channels(floats_.data(), in_ch, out, out_channels, static_cast<size_t>(got));
    return static_cast<size_t>(got);
}

size_t AudioSource::read(int16_t* out, size_t frames, int out_channels) {
    if (!file_) return 0;
    const int in_ch = facts_.channels;
    const size_t samples = frames * static_cast<size_t>(in_ch);
    const bool mixing = in_ch != out_channels;
    if (mixing) shorts_.resize(samples);
    int16_t* own = mixing ? shorts_.data() : out;
    sf_count_t got = 0;
    // libsndfile converts integer PCM of any width to 16 bits itself. Float data it would
    // truncate, and the lossy codecs' samples beyond full scale it would wrap around (a
    // loud click), so those are read as float and converted here.
    if (facts_.float_data) {
        floats_.resize(samples);
        got = sf_readf_float(file_, floats_.data(), static_cast<sf_count_t>(frames));
        if (got > 0) float_to_pcm16(floats_.data(), static_cast<size_t>(got) * in_ch, own);
    } else {
        got = sf_readf_short(file_, own, static_cast<sf_count_t>(frames));
    }
    if (got <= 0) return 0;
    if (mixing) mix_channels(own, in_ch, out, out_channels, static_cast<size_t>(got));
    return static_cast<size_t>(got);
}

} // namespace tarvik

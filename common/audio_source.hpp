// SPDX-License-Identifier: GPL-3.0-or-later
// The one way the programs read audio: a sound file through libsndfile, its facts first, then
// its frames in blocks as float (full scale 1.0) or 16-bit samples, mixed to the channel
// count the caller asks for by one rule. The encoder, the lip-sync analysis and the player
// all read through it, so a file sounds the same to each of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sndfile.h>
#include <string>
#include <vector>

namespace tarvik {

struct AudioFacts {
    int sample_rate = 0;
    int channels = 0;
    int64_t frames = 0; // as the header states it
    // Samples that libsndfile decodes to floats: float or double PCM, and the lossy codecs
    // (Vorbis, Opus, MPEG), whose output may pass full scale. Integer PCM is not.
    bool float_data = false;
};

// The down-mix rule: one output channel is the average of all input channels; two output
// channels from one are the same sample twice; two from more are the averages of the
// even-numbered channels (left) and of the odd-numbered ones (right).
void mix_channels(const int16_t* in, int in_channels, int16_t* out, int out_channels,
                  size_t frames);
void mix_channels(const float* in, int in_channels, float* out, int out_channels, size_t frames);

// Float samples (full scale 1.0) to 16 bits: scaled by 32768, rounded to the nearest, clipped
// to the 16-bit range; not-a-number is silence.
void float_to_pcm16(const float* in, size_t count, int16_t* out);

class AudioSource {
  public:
    // Reads from an open descriptor (which stays the caller's) or through a virtual I/O whose
    // user data stays the caller's. Check ok() afterwards.
    static AudioSource from_descriptor(int fd);
    static AudioSource from_virtual_io(SF_VIRTUAL_IO& io, void* user_data);

    AudioSource(AudioSource&&) noexcept;
    AudioSource& operator=(AudioSource&&) noexcept;
    ~AudioSource();

    // True when libsndfile recognised audio with at least one channel.
    bool ok() const { return file_ != nullptr; }
    // libsndfile's reason when !ok() or after a read error.
    std::string error() const;
    const AudioFacts& facts() const { return facts_; }

    // Reads up to `frames` frames into out (frames * out_channels samples), mixed to
    // out_channels (1 or 2, or the file's own count). Returns the frames read: 0 at the end
    // or on a read error (read_failed() tells which).
    size_t read(float* out, size_t frames, int out_channels);
    size_t read(int16_t* out, size_t frames, int out_channels);
    bool read_failed() const;
    // Back to the first frame, for a second pass over the audio; false when the file cannot
    // seek.
    bool rewind();

  private:
    AudioSource() = default;
    static AudioSource opened(SNDFILE* file, const SF_INFO& info);
    SNDFILE* file_ = nullptr;
    AudioFacts facts_;
    std::vector<float> floats_; // the file's own layout, before mixing
    std::vector<int16_t> shorts_;
    std::string open_error_;
};

} // namespace tarvik

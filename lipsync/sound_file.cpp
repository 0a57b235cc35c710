#include "lipsync/sound_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvik::lipsync {

namespace {

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

// The descriptor stays ours: libsndfile is told not to close it, on success or failure.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

SoundResult failure_result(std::string error) {
    SoundResult r;
    r.error = std::move(error);
    return r;
}

} // namespace

SoundResult analyse_sound_file(const std::string& path, const AnalysisSettings& settings,
                               std::function<void(const FrameResult&)> observer) {
    // Opening the file ourselves tells a missing file from a forbidden one and from a
    // directory, which libsndfile would all call an unknown format.
    // Non-blocking, so that a FIFO does not wait for a writer.
    const Descriptor descriptor{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (descriptor.fd < 0) {
        const int error = errno;
        return failure_result(error == ENOENT ? "no such file" : std::strerror(error));
    }
    struct stat st {};
    if (fstat(descriptor.fd, &st) != 0) return failure_result(std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return failure_result("is a directory, not a sound file");
    if (!S_ISREG(st.st_mode)) return failure_result("is not a regular file");
    // Back to blocking reads for the file itself.
    fcntl(descriptor.fd, F_SETFL, fcntl(descriptor.fd, F_GETFL) & ~O_NONBLOCK);
    SF_INFO info{};
    // Declared after the descriptor, so closed before it.
    std::unique_ptr<SNDFILE, SndCloser> file(sf_open_fd(descriptor.fd, SFM_READ, &info, SF_FALSE));
    if (!file)
        return failure_result(std::string("not a sound file that libsndfile reads (") +
                              sf_strerror(nullptr) + ")");
    if (info.channels < 1) return failure_result("not a sound file (no channels)");
    if (info.samplerate < kMinSampleRate)
        return failure_result("sample rate of " + std::to_string(info.samplerate) +
                              " Hz is too low (at least " + std::to_string(kMinSampleRate) +
                              " Hz)");

    Analyzer analyzer(info.samplerate, settings);
    if (observer) analyzer.set_observer(std::move(observer));
    const size_t channels = static_cast<size_t>(info.channels);
    const sf_count_t block = std::max<sf_count_t>(1, 65536 / info.channels);
    std::vector<float> interleaved(static_cast<size_t>(block) * channels);
    std::vector<float> mono(static_cast<size_t>(block));
    // The track counts 10 ms units in 32 bits.
    const uint64_t max_frames = uint64_t{0xffffffff} / kFramesPerSecond * info.samplerate;
    uint64_t total = 0;
    for (;;) {
        const sf_count_t n = sf_readf_float(file.get(), interleaved.data(), block);
        if (n <= 0) break;
        const size_t frames = static_cast<size_t>(n);
        if (channels == 1) {
            analyzer.feed(interleaved.data(), frames);
        } else {
            const float scale = 1.0f / static_cast<float>(channels);
            for (size_t i = 0; i < frames; ++i) {
                float sum = 0;
                for (size_t c = 0; c < channels; ++c)
                    sum += interleaved[i * channels + c];
                mono[i] = sum * scale;
            }
            analyzer.feed(mono.data(), frames);
        }
        total += frames;
        if (total > max_frames) return failure_result("too long for a lip-sync track");
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR)
        return failure_result(std::string("read error (") + sf_strerror(file.get()) + ")");
    if (total == 0) return failure_result("contains no audio");

    LipSyncTrack track;
    track.sample_rate = static_cast<uint32_t>(info.samplerate);
    track.sample_frames = total;
    track.frame_rate = kFramesPerSecond;
    track.cues = analyzer.finish();
    track.frame_count = analyzer.frame_count();
    SoundResult result;
    result.track = std::move(track);
    return result;
}

} // namespace tarvik::lipsync

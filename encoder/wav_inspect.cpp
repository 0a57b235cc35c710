#include "encoder/wav_inspect.hpp"

#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/encoding.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace tarvik {

namespace {
struct OpenedWav {
    SNDFILE* file = nullptr;
    SF_INFO info{};
    explicit OpenedWav(const std::string& path) { file = sf_open(path.c_str(), SFM_READ, &info); }
    ~OpenedWav() {
        if (file) sf_close(file);
    }
    explicit operator bool() const { return file != nullptr && info.channels > 0 && info.samplerate > 0; }
};

// The default bit rate (not a typed one) is doubled for two-channel output.
void double_default_bit_rate(RunSettings& settings) {
    if (!settings.bit_rate_given && settings.bit_rate == 64) settings.bit_rate = 128;
}
} // namespace

bool probe_wav(const std::string& path, BE_CONFIG&, RunSettings& settings, bool existing_wav) {
    if (existing_wav) {
        OpenedWav wav(path);
        if (!wav) return false;
        if (wav.info.channels > 1) double_default_bit_rate(settings);
    } else if (settings.mode != kModeMono) {
        double_default_bit_rate(settings);
    }
    return true;
}

bool get_wav_specs(const std::string& path, BE_CONFIG& config, RunSettings& settings) {
    OpenedWav wav(path);
    if (!wav) return false;
    auto& l = config.format.LHV1;
    if (wav.info.channels == 1)
        settings.mode = kModeMono;
    else if (wav.info.channels == 2 && settings.mode == kModeMono)
        settings.mode = kModeJointStereo;
    l.nMode = settings.mode;
    const auto rate = static_cast<uint32_t>(wav.info.samplerate);
    settings.sample_rate = rate;
    settings.mpeg_version = mpeg_class(rate).mpeg1() ? 1 : 0;
    l.dwSampleRate = rate;
    adjust_config(config, settings);
    return true;
}

std::optional<std::string> generate_wave(const BE_CONFIG& config, long long seconds,
                                         const std::string& dir, ConsoleOut& out) {
    const auto& l = config.format.LHV1;
    const int channels = l.nMode == kModeMono ? 1 : 2;
    const long long rate = l.dwSampleRate;
    const long long frames = rate * seconds; // 64-bit: hours of silence do not overflow

    // "%.8d.wav" with a random number; the file is created exclusively, so two runs never
    // share it: on a collision another number is drawn.
    std::mt19937 rng(static_cast<unsigned>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count() ^ (::getpid() << 16)));
    std::string path;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        path = join_path(dir, format_text("%.8d.wav", static_cast<int>(rng() % 65535)));
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    SF_INFO info{};
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    SNDFILE* wav = fd >= 0 ? sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE) : nullptr;
    if (!wav) {
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.c_str());
        }
        show_error(kUnit, 1031, "generate_wave() failed on sf_open().\n");
        return std::nullopt;
    }
    std::vector<int16_t> zeros(static_cast<size_t>(8192 * channels), 0);
    long long written = 0;
    bool ok = true;
    while (ok && written < frames) {
        const sf_count_t n = static_cast<sf_count_t>(std::min<long long>(8192, frames - written));
        ok = sf_writef_short(wav, zeros.data(), n) == n;
        written += n;
    }
    if (!ok) {
        sf_close(wav);
        ::unlink(path.c_str());
        show_error(kUnit, 1060, "generate_wave() failed on sf_write_short().\n");
        return std::nullopt;
    }
    out.print("Temporary WAV file = \"%s\"  (%dHz/16bits/%s/%dsec)\n", path.c_str(), static_cast<int>(rate),
              channels == 1 ? "mono" : "stereo", static_cast<int>(seconds));
    if (sf_close(wav) != 0) {
        ::unlink(path.c_str());
        show_error(kUnit, 1060, "generate_wave() failed on sf_write_short().\n");
        return std::nullopt;
    }
    return path;
}

double audio_seconds(const std::string& path) {
    OpenedWav wav(path);
    if (!wav) return 0;
    return static_cast<double>(wav.info.frames) / wav.info.samplerate;
}

} // namespace tarvik

#include "encoder/wav_inspect.hpp"

#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/encoding.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sndfile.h>
#include <sys/statvfs.h>
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
    explicit operator bool() const {
        return file != nullptr && info.channels > 0 && info.samplerate > 0;
    }
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

namespace {
// Bytes of the temporary WAV for a silence (its header with room to spare), or nullopt when
// the number does not even fit in 64 bits.
std::optional<long long> silence_wav_bytes(const BE_CONFIG& config, long long seconds) {
    const long long per_second = static_cast<long long>(config.format.LHV1.dwSampleRate) *
                                 (config.format.LHV1.nMode == kModeMono ? 2 : 4);
    constexpr long long kHeaderRoom = 4096;
    if (seconds < 0 || (per_second > 0 && seconds > (LLONG_MAX - kHeaderRoom) / per_second))
        return std::nullopt;
    return seconds * per_second + kHeaderRoom;
}

std::string size_text(long double bytes) {
    static const char* const kUnits[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 6) {
        bytes /= 1024;
        ++unit;
    }
    return unit == 0 ? format_text("%.0Lf bytes", bytes)
                     : format_text("%.1Lf %s", bytes, kUnits[unit]);
}
} // namespace

bool silence_fits(const BE_CONFIG& config, long long seconds, const std::string& dir) {
    const auto needed = silence_wav_bytes(config, seconds);
    struct statvfs fs {};
    const bool known = ::statvfs(dir.c_str(), &fs) == 0;
    const long double free_bytes =
        static_cast<long double>(fs.f_bavail) * static_cast<long double>(fs.f_frsize);
    // Free space unknown: the write itself will tell.
    if (needed && (!known || static_cast<long double>(*needed) <= free_bytes)) return true;
    show_error(
        kUnit, 1008,
        format_text(
            "Cannot make %lld seconds of silence: its temporary WAV file would take %s, "
            "but \"%s\" has %s free.",
            seconds,
            needed ? size_text(static_cast<long double>(*needed)).c_str() : "more than 8 EiB",
            escaped(dir).c_str(), known ? size_text(free_bytes).c_str() : "an unknown amount"));
    return false;
}

std::optional<std::string> generate_wave(const BE_CONFIG& config, long long seconds,
                                         const std::string& dir, ConsoleOut& out,
                                         const std::atomic<bool>* cancel) {
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
    // RF64, written as a plain RIFF WAV when it ends below 4 GiB: a RIFF header cannot count
    // more, and a longer silence read back through a wrapped size would be cut short.
    SF_INFO info{};
    info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    SNDFILE* wav = fd >= 0 ? sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE) : nullptr;
    if (wav) sf_command(wav, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
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
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            // Stopped: the partial file goes, and the caller says why.
            sf_close(wav);
            ::unlink(path.c_str());
            return std::nullopt;
        }
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
    out.print("Temporary WAV file = \"%s\"  (%dHz/16bits/%s/%lldsec)\n", escaped(path).c_str(),
              static_cast<int>(rate), channels == 1 ? "mono" : "stereo", seconds);
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

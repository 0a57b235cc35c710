// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/silence_wave.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/files.hpp"
#include "platform/system.hpp"
#include "platform/temporaries.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <random>
#include <sndfile.h>
#include <vector>

namespace tarvik {

namespace {
// Bytes of the temporary WAV for a silence (its header with room to spare), or nullopt when
// the number does not even fit in 64 bits.
std::optional<long long> silence_wav_bytes(const Plan& plan, long long seconds) {
    const long long per_second =
        static_cast<long long>(plan.input_rate) * 2 * plan.output_channels();
    constexpr long long kHeaderRoom = 4096;
    if (seconds < 0 || (per_second > 0 && seconds > (LLONG_MAX - kHeaderRoom) / per_second))
        return std::nullopt;
    return seconds * per_second + kHeaderRoom;
}

// The folder whose file system a new file in `dir` lands on: dir, or the nearest folder
// above it that exists.
std::string existing_folder(const std::string& dir) {
    std::filesystem::path path = std::filesystem::path(dir).lexically_normal();
    while (!platform::exists(path.string()) && path.has_relative_path())
        path = path.has_filename() ? path.parent_path() : path.parent_path().parent_path();
    return path.empty() ? "." : path.string();
}

// The temporary WAV created (O_EXCL) in its place, or an invalid descriptor with errno set.
platform::TemporaryFile create_wave_file(const WavePlace& place) {
    if (place.hidden) return platform::open_temporary_file(place.dir);
    // "%.8d.wav" with a random number; the file is created exclusively, so two runs never
    // share it: on a collision another number is drawn.
    std::mt19937 rng(
        static_cast<unsigned>(std::chrono::high_resolution_clock::now().time_since_epoch().count() ^
                              (platform::process_id() << 16)));
    platform::TemporaryFile file;
    for (int attempt = 0; attempt < 100 && !file.fd.valid(); ++attempt) {
        file.path = join_path(place.dir, format_text("%.8d.wav", static_cast<int>(rng() % 65535)));
        file.fd = platform::create_new_file(file.path, 0644);
        if (!file.fd.valid() && errno != EEXIST) break;
    }
    return file;
}
} // namespace

WavePlace silence_wave_place(const std::string& program_dir, const std::string& mp3_dir) {
    if (platform::is_system_folder(program_dir)) return {mp3_dir, true};
    return {platform::directory_writable(program_dir) ? program_dir : platform::temp_directory()};
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

SilenceSpace silence_space(const Plan& plan, long long seconds, const std::string& dir) {
    SilenceSpace space;
    space.needed = silence_wav_bytes(plan, seconds);
    const auto free_bytes = platform::free_space(existing_folder(dir));
    space.known = free_bytes.has_value();
    space.free_bytes = free_bytes.value_or(0);
    return space;
}

SilenceWave generate_wave(const Plan& plan, long long seconds, const WavePlace& place,
                          const std::atomic<bool>* cancel) {
    const int channels = plan.output_channels();
    const long long rate = plan.input_rate;
    const long long frames = rate * seconds; // 64-bit: hours of silence do not overflow

    auto [fd, path] = create_wave_file(place);
    // RF64, written as a plain RIFF WAV when it ends below 4 GiB: a RIFF header cannot count
    // more, and a longer silence read back through a wrapped size would be cut short.
    SF_INFO info{};
    info.format = SF_FORMAT_RF64 | SF_FORMAT_PCM_16;
    info.samplerate = static_cast<int>(rate);
    info.channels = channels;
    // The descriptor stays ours (libsndfile does not close it), so it is closed exactly once.
    SNDFILE* wav = fd.valid() ? sf_open_fd(fd.get(), SFM_WRITE, &info, SF_FALSE) : nullptr;
    if (wav) sf_command(wav, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    if (!wav) {
        if (fd.valid()) platform::remove_file(path);
        return {{}, SilenceWave::NotCreated};
    }
    std::vector<int16_t> zeros(static_cast<size_t>(8192 * channels), 0);
    long long written = 0;
    bool ok = true;
    while (ok && written < frames) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            // Stopped: the partial file goes, and the caller says why.
            sf_close(wav);
            platform::remove_file(path);
            return {{}, SilenceWave::Stopped};
        }
        const sf_count_t n = static_cast<sf_count_t>(std::min<long long>(8192, frames - written));
        ok = sf_writef_short(wav, zeros.data(), n) == n;
        written += n;
    }
    if (!ok) {
        sf_close(wav);
        platform::remove_file(path);
        return {{}, SilenceWave::NotWritten};
    }
    // Every frame is written: the file is named even when closing it then fails.
    const bool closed = sf_close(wav) == 0;
    if (!fd.reset() || !closed) {
        platform::remove_file(path);
        return {path, SilenceWave::NotClosed};
    }
    return {path, SilenceWave::Written};
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/playback.hpp"

#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/binding.hpp"
#include "encoder/error_boxes.hpp"
#include "encoder/modes.hpp"
#include "platform/console.hpp"
#include "platform/dynlib.hpp"
#include "platform/files.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace tarvik {

namespace {

// Cell thresholds in printed order. Left: from 93, each next two thirds of the previous;
// right: from 1, each next grows by the previous less its half. Both bars grow outwards
// from the middle gap on the same scale.
constexpr std::array<uint32_t, 11> kLeftThresholds{93, 62, 41, 27, 18, 12, 8, 5, 3, 2, 1};
constexpr std::array<uint32_t, 11> kRightThresholds{1, 2, 3, 5, 8, 12, 18, 27, 41, 62, 93};

constexpr int kKeySpace = 0x20;

// A regular file this process can read (a FIFO or device could block or never end).
bool readable_file(const std::string& path) {
    return readable_file_size(path).has_value();
}

void wait_while_sliding(const TarvikAudio& audio, TarvikAudioHandle stream) {
    while (audio.channel_is_sliding(stream))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// What the status line shows; it is printed again only when this changes.
struct Shown {
    long long whole_seconds = -2; // -1: "n/a"
    int volume = -1;
    bool paused = false;
    int left_cells = -1;
    int right_cells = -1;
    bool operator==(const Shown&) const = default;
};

void run_loop(const TarvikAudio& audio, TarvikAudioHandle stream, int initial_volume) {
    platform::KeyReader keys;
    int volume = initial_volume;
    bool paused = false;
    Shown last;
    for (;;) {
        int key = 0;
        if (keys.key_pending()) key = keys.read_key();
        if (key == platform::kKeyDown && volume != 0) audio.set_volume(--volume);
        if (key == platform::kKeyUp && volume < 100) audio.set_volume(++volume);
        if (key == kKeySpace) {
            if (paused) {
                paused = false;
                audio.channel_slide_attributes(stream, -1, 100, -101, 1);
                wait_while_sliding(audio, stream);
                audio.start();
            } else {
                paused = true;
                audio.channel_slide_attributes(stream, -1, 0, -101, 1);
                wait_while_sliding(audio, stream);
                audio.pause();
            }
        }
        const uint64_t position = audio.channel_get_position(stream);
        const auto seconds = static_cast<float>(audio.channel_bytes_to_seconds(stream, position));
        const uint32_t level = audio.channel_get_level(stream);

        const Shown now{seconds == 0.0f ? -1 : static_cast<long long>(seconds), volume, paused,
                        paused ? 0 : meter_cells(level & 0xFFFF),
                        paused ? 0 : meter_cells(level >> 16)};
        if (!(now == last)) {
            std::fputs(status_line(seconds, volume, paused, level).c_str(), stdout);
            std::fflush(stdout);
            last = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (key == platform::kKeyEscape ||
            audio.channel_get_position(stream) == audio.stream_get_length(stream))
            break;
    }
}

// The audio failure box: the call that failed, its error code, and the library's reason on
// a line of its own when it gave one.
void show_audio_failure(ErrorBox box, const TarvikAudio& audio) {
    const std::string reason =
        *audio.error_reason() ? std::string("\n") + audio.error_reason() : "";
    show_error_box(box, {audio.error_call(), std::to_string(audio.error_code()), reason});
}

} // namespace

int meter_cells(uint32_t channel_level) {
    return static_cast<int>(std::count_if(kRightThresholds.begin(), kRightThresholds.end(),
                                          [&](uint32_t t) { return channel_level >= t; }));
}

std::string level_meter(uint32_t level) {
    const uint32_t left = level & 0xFFFF, right = level >> 16;
    std::string meter = "[";
    for (const uint32_t t : kLeftThresholds)
        meter += left >= t ? '|' : '.';
    meter += ' ';
    for (const uint32_t t : kRightThresholds)
        meter += right >= t ? '|' : '.';
    meter += ']';
    return meter;
}

std::string status_line(double seconds, int volume, bool paused, uint32_t level) {
    const std::string meter = paused ? std::string(kPauseBanner) : level_meter(level);
    return format_text("Time elapsed: %s - Volume: %.3d%% - L %s R\r",
                       format_duration(seconds).c_str(), volume, meter.c_str());
}

std::string name_without_extension(const std::string& name) {
    // Only the file name's extension: a dot in a directory name ("./voice", "my.dir/voice")
    // is no extension. A leading dot (".voice") is part of the name.
    const size_t slash = name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot <= start) return name;
    return name.substr(0, dot);
}

std::optional<std::string> find_sound_file(const std::string& name) {
    const std::string stem = name_without_extension(name);
    const std::string extension = to_lower_ascii(name.substr(stem.size()));
    for (const char* known : {".wav", ".mp1", ".mp2", ".mp3", ".ogg"})
        if (extension == known) return resolve_name_case(name);
    for (const char* ext : {".mp3", ".wav", ".ogg", ".mp2", ".mp1"}) {
        const std::string candidate = resolve_name_case(stem + ext);
        if (readable_file(candidate)) return candidate;
    }
    return std::nullopt;
}

const TarvikAudio* audio_module(const std::string& program_dir, std::string* problem) {
    // Loaded once and kept to the end of the process (SDL's threads live in it).
    static const auto loaded = [&program_dir] {
        std::pair<const TarvikAudio*, std::string> result{nullptr, {}};
        // Beside the executable, then in the private library folder of an installed tree,
        // then the system's search.
        const platform::LibraryHandle lib =
            load_private_library(program_dir, TARVIK_AUDIO_MODULE_NAME);
        if (!lib) {
            result.second = platform::library_error();
            return result;
        }
        const auto entry =
            reinterpret_cast<TarvikAudioEntry>(platform::find_symbol(lib, TARVIK_AUDIO_ENTRY));
        result.first = entry ? entry(TARVIK_AUDIO_INTERFACE) : nullptr;
        if (!result.first)
            result.second = format_text("%s: no %s for interface %u", TARVIK_AUDIO_MODULE_NAME,
                                        TARVIK_AUDIO_ENTRY, TARVIK_AUDIO_INTERFACE);
        return result;
    }();
    if (problem) *problem = loaded.second;
    return loaded.first;
}

std::string audio_version_block(const std::string& program_dir) {
    std::string problem;
    const TarvikAudio* audio = audio_module(program_dir, &problem);
    if (!audio)
        return format_text(
            "\n---- SDL2 ----\n| Version tag:            n/a (%s)\n| Home page: %s\n",
            problem.c_str(), TARVIK_AUDIO_HOME_PAGE);
    const uint32_t v = audio->get_version();
    return format_text("\n---- SDL2 ----\n| Version tag:            %d.%d\n| Home page: %s\n",
                       static_cast<int>(v & 0xFFFF), static_cast<int>(v >> 16),
                       TARVIK_AUDIO_HOME_PAGE);
}

int play(Context& ctx, const std::string& file) {
    std::printf("\n[---> playing <---]\n");

    const std::optional<std::string> found = find_sound_file(file);
    if (!found) {
        show_error_box<ErrorBox::SoundFileNotFound>(escaped(name_without_extension(file)));
        return kExitFailure;
    }
    const std::string& name = *found;
    if (!platform::exists(name)) {
        show_error_box<ErrorBox::SoundFileGone>(escaped(name));
        return kExitFailure;
    }
    std::string problem;
    const TarvikAudio* module = audio_module(ctx.program_dir, &problem);
    if (!module) {
        show_error_box<ErrorBox::AudioModuleNotLoaded>(TARVIK_AUDIO_MODULE_NAME, problem);
        return kExitFailure;
    }
    const TarvikAudio& audio = *module;
    if (!audio.version_compatible())
        std::printf("WARNING! The SDL2 loaded is older than the one tarvik was built with. "
                    "play() is not guaranteed to work.\n");

    if (!audio.init(TARVIK_AUDIO_DEFAULT_DEVICE, 44100)) {
        show_audio_failure(ErrorBox::AudioInitFailed, audio);
        return kExitFailure;
    }
    const TarvikAudioHandle stream = audio.stream_create_file(name.c_str());
    if (!stream) {
        show_audio_failure(ErrorBox::AudioStreamFailed, audio);
        audio.free();
        return kExitFailure;
    }
    const double duration = audio.channel_bytes_to_seconds(stream, audio.stream_get_length(stream));
    std::printf("Streaming file \"%s\" [duration: %s]\n",
                escaped(file_part(name).value_or("")).c_str(), format_duration(duration).c_str());

    if (!audio.start()) {
        show_audio_failure(ErrorBox::AudioStartFailed, audio);
        audio.stream_free(stream);
        audio.free();
        return kExitFailure;
    }
    if (!audio.stream_play(stream)) {
        show_audio_failure(ErrorBox::AudioPlayFailed, audio);
        audio.stream_free(stream);
        audio.free();
        return kExitFailure;
    }
    std::printf("\n---- Interactive keys ----\n"
                "| SPACE:               pause/unpause the stream\n"
                "| ESCAPE:              stop the stream\n"
                "| UP ARROW/DOWN ARROW: adjust the \"WAVE\" volume\n\n");
    std::fflush(stdout);

    const int initial_volume = audio.get_volume();
    run_loop(audio, stream, initial_volume);

    std::printf("Stopped.                                                                   \r\n");
    std::fflush(stdout);
    // Fade out: back to the stream's own rate, then the volume down to silence and stop.
    audio.channel_slide_attributes(stream, 0, -1, -101, 700);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    audio.channel_slide_attributes(stream, -1, -2, -101, 500);
    wait_while_sliding(audio, stream);

    audio.set_volume(initial_volume);
    audio.stream_free(stream);
    audio.free();
    return kExitSuccess;
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/mix.hpp"
#include "audio/module.h"
#include "audio/ring.hpp"
#include "common/audio_source.hpp"
#include "platform/files.hpp"

#include <SDL2/SDL.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvik::audio {

namespace {

using Handle = TarvikAudioHandle;
constexpr int kDefaultDevice = TARVIK_AUDIO_DEFAULT_DEVICE;
constexpr uint64_t kBadPosition = TARVIK_AUDIO_BAD_POSITION;
constexpr uint32_t kBadLevel = TARVIK_AUDIO_BAD_LEVEL;

constexpr Uint16 kDeviceFrames = 1024; // frames per output block (23 ms at 44100 Hz)
constexpr size_t kRingFrames = 32768;  // decoded ahead: about 0.74 s at 44100 Hz
constexpr size_t kDecodeFrames = 4096;
constexpr size_t kConvertFrames = 8192; // output frames taken from the rate converter at once
constexpr auto kDecoderWait = std::chrono::milliseconds(10);

using Clock = std::chrono::steady_clock;

// Decoded frames are read straight into the ring's frames as interleaved 16-bit samples.
static_assert(sizeof(StereoFrame) == 2 * sizeof(int16_t));

struct Stream {
    Handle handle = 0;
    platform::FileDescriptor file;
    std::optional<AudioSource> source; // reads `file`; declared after it, so closed first
    int channels = 0;
    int rate = 0;
    uint32_t device_rate = 0;
    int64_t reported_frames = 0;          // from the file's header
    SDL_AudioStream* converter = nullptr; // only when the rate differs
    SpscRing<StereoFrame> ring{kRingFrames};
    std::thread decoder;

    // Shared with the decoder thread and the audio thread.
    std::atomic<bool> quit{false};
    std::atomic<bool> playing{false};
    std::atomic<int64_t> decoded_frames{0}; // source frames decoded so far
    std::atomic<bool> decoded_all{false};   // every output frame is in the ring
    std::atomic<uint64_t> consumed{0};      // output frames handed to the device
    std::atomic<bool> finished{false};      // played to its end
    std::atomic<uint32_t> level{0};
    std::atomic<uint64_t> slide{pack_slide(Slide{})};

    uint64_t block() const { return static_cast<uint64_t>(channels) * 2; }
};

struct Device {
    SDL_AudioDeviceID id = 0;
    uint32_t rate = 0;
    Clock::time_point epoch = Clock::now();
    std::atomic<Stream*> stream{nullptr}; // what the audio thread plays
};

std::atomic<int> g_volume{100};
std::unique_ptr<Device> g_device;
std::unique_ptr<Stream> g_stream;
Handle g_next_handle = 1;
int g_error = TARVIK_AUDIO_OK;
const char* g_error_call = "";
std::string g_error_reason;

// Records a failure: the error code, the call that failed and the library's reason.
bool fail(int code, const char* call, std::string reason = {}) {
    g_error = code;
    g_error_call = call;
    g_error_reason = std::move(reason);
    return false;
}

bool fail_sdl(int code, const char* call) {
    return fail(code, call, SDL_GetError());
}

bool succeed() {
    g_error = TARVIK_AUDIO_OK;
    g_error_call = "";
    g_error_reason.clear();
    return true;
}

double now_ms(const Device& d) {
    return std::chrono::duration<double, std::milli>(Clock::now() - d.epoch).count();
}

// The stream of a handle; `call` names the operation for the error report.
Stream* find(Handle h, const char* call) {
    if (!g_device) {
        fail(TARVIK_AUDIO_ERROR_INIT, call);
        return nullptr;
    }
    if (h == 0 || !g_stream || g_stream->handle != h) {
        fail(TARVIK_AUDIO_ERROR_HANDLE, call);
        return nullptr;
    }
    return g_stream.get();
}

// The SDL audio callback: takes decoded frames from the ring, applies the gains and
// measures the block. No locks, no allocation, no waiting.
void SDLCALL render(void* user, Uint8* out, int bytes) {
    auto* device = static_cast<Device*>(user);
    const size_t count = static_cast<size_t>(bytes) / sizeof(StereoFrame);
    auto* frames = reinterpret_cast<StereoFrame*>(out);
    const float master = static_cast<float>(g_volume.load(std::memory_order_relaxed)) / 100.0f;

    Stream* s = device->stream.load(std::memory_order_acquire);
    if (!s || !s->playing.load(std::memory_order_acquire) ||
        s->finished.load(std::memory_order_relaxed)) {
        std::memset(out, 0, static_cast<size_t>(bytes));
        if (s) s->level.store(0, std::memory_order_relaxed);
        return;
    }
    const double start = now_ms(*device);
    const double end = start + static_cast<double>(count) * 1000.0 / device->rate;
    const Slide slide = unpack_slide(s->slide.load(std::memory_order_acquire));
    if (slide_stopped_at(slide, start)) {
        std::memset(out, 0, static_cast<size_t>(bytes));
        s->level.store(0, std::memory_order_relaxed);
        return;
    }
    // Read "all decoded" before the ring: an empty ring then really is the end.
    const bool all_decoded = s->decoded_all.load(std::memory_order_acquire);
    const size_t got = s->ring.read(frames, count);
    if (got < count) std::memset(frames + got, 0, (count - got) * sizeof(StereoFrame));
    s->consumed.store(s->consumed.load(std::memory_order_relaxed) + got, std::memory_order_release);
    if (got < count && all_decoded && s->ring.size() == 0)
        s->finished.store(true, std::memory_order_release);

    // The master volume moves in steps of 1%, too small to click; slides are ramped.
    const float gain_start = master * static_cast<float>(slide_volume_at(slide, start) / 100.0);
    const float gain_end = master * static_cast<float>(slide_volume_at(slide, end) / 100.0);
    s->level.store(apply_gain(frames, count, gain_start, gain_end), std::memory_order_relaxed);
}

// Decoder thread helpers. push_all waits (sleeping) for room in the ring.
void push_all(Stream& s, const StereoFrame* frames, size_t count) {
    while (count > 0 && !s.quit.load(std::memory_order_relaxed)) {
        const size_t n = s.ring.write(frames, count);
        frames += n;
        count -= n;
        if (count > 0) std::this_thread::sleep_for(kDecoderWait);
    }
}

// Moves what the converter has ready into the ring, at most up to `limit` output frames in
// all; `pushed` counts the output frames so far.
void drain_converter(Stream& s, std::vector<StereoFrame>& out, uint64_t& pushed, uint64_t limit) {
    for (;;) {
        const int got = SDL_AudioStreamGet(s.converter, out.data(),
                                           static_cast<int>(out.size() * sizeof(StereoFrame)));
        if (got <= 0) return;
        const auto frames = std::min<uint64_t>(static_cast<uint64_t>(got) / sizeof(StereoFrame),
                                               limit - std::min(limit, pushed));
        push_all(s, out.data(), static_cast<size_t>(frames));
        pushed += frames;
    }
}

void decode(Stream* s) {
    std::vector<StereoFrame> stereo(kDecodeFrames);
    std::vector<StereoFrame> converted(kConvertFrames);
    constexpr uint64_t kNoLimit = ~uint64_t{0};
    uint64_t pushed = 0;
    const auto put = [&](size_t frames) {
        SDL_AudioStreamPut(s->converter, stereo.data(),
                           static_cast<int>(frames * sizeof(StereoFrame)));
    };
    while (!s->quit.load(std::memory_order_relaxed)) {
        // Every file comes as 16-bit stereo, mixed and converted by the programs' one rule.
        const size_t frames =
            s->source->read(reinterpret_cast<int16_t*>(stereo.data()), kDecodeFrames, 2);
        if (frames == 0) break;
        s->decoded_frames.fetch_add(static_cast<int64_t>(frames), std::memory_order_release);
        if (!s->converter) {
            push_all(*s, stereo.data(), frames);
            continue;
        }
        put(frames);
        drain_converter(*s, converted, pushed, kNoLimit);
    }
    if (s->converter) {
        // The resampler holds back the last few hundred frames until more input follows, and
        // a flush drops them: push silence through and keep only the file's own share.
        const auto decoded =
            static_cast<uint64_t>(s->decoded_frames.load(std::memory_order_relaxed));
        const uint64_t expected = static_cast<uint64_t>(
            std::llround(static_cast<double>(decoded) * s->device_rate / s->rate));
        std::fill(stereo.begin(), stereo.end(), StereoFrame{0, 0});
        for (int round = 0;
             round < 16 && pushed < expected && !s->quit.load(std::memory_order_relaxed); ++round) {
            put(kDecodeFrames);
            drain_converter(*s, converted, pushed, expected);
        }
    }
    s->decoded_all.store(true, std::memory_order_release);
}

void destroy(std::unique_ptr<Stream>& s) {
    if (!s) return;
    s->quit.store(true, std::memory_order_relaxed);
    if (g_device && g_device->stream.load(std::memory_order_relaxed) == s.get()) {
        g_device->stream.store(nullptr, std::memory_order_release);
        // SDL holds the device lock while the callback runs: once we get it, the audio
        // thread is done with the stream.
        SDL_LockAudioDevice(g_device->id);
        SDL_UnlockAudioDevice(g_device->id);
    }
    if (s->decoder.joinable()) s->decoder.join();
    if (s->converter) SDL_FreeAudioStream(s->converter);
    s.reset();
}

// The operations of the module's table.

uint32_t get_version() {
    SDL_version v;
    SDL_GetVersion(&v);
    return uint32_t{v.major} | (uint32_t{v.minor} << 16);
}

bool version_compatible() {
    SDL_version v;
    SDL_GetVersion(&v);
    return v.major == SDL_MAJOR_VERSION && v.minor >= SDL_MINOR_VERSION;
}

int error_code() {
    return g_error;
}
const char* error_call() {
    return g_error_call;
}
const char* error_reason() {
    return g_error_reason.c_str();
}

bool init(int device, uint32_t rate) {
    constexpr const char* kCall = "SDL_OpenAudioDevice";
    if (g_device) return fail(TARVIK_AUDIO_ERROR_ALREADY, kCall);
    if (rate == 0 || rate > 384000) return fail(TARVIK_AUDIO_ERROR_ILLPARAM, kCall);
    if (device < kDefaultDevice) return fail(TARVIK_AUDIO_ERROR_DEVICE, kCall);
    // The program handles its own signals; SDL must not turn Ctrl-C into an event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return fail_sdl(TARVIK_AUDIO_ERROR_DRIVER, "SDL_InitSubSystem");
    const auto give_up = [](int code, const char* call, std::string reason) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return fail(code, call, std::move(reason));
    };
    // The dummy driver only swallows the sound: for a player that is no output at all.
    const char* driver = SDL_GetCurrentAudioDriver();
    if (!driver || std::strcmp(driver, "dummy") == 0)
        return give_up(TARVIK_AUDIO_ERROR_DRIVER, "SDL_InitSubSystem",
                       "no audio output: only SDL's silent dummy driver started");
    const char* name = nullptr;
    if (device != kDefaultDevice) {
        if (device >= SDL_GetNumAudioDevices(0))
            return give_up(TARVIK_AUDIO_ERROR_DEVICE, "SDL_GetNumAudioDevices", "");
        name = SDL_GetAudioDeviceName(device, 0);
    }

    auto d = std::make_unique<Device>();
    d->rate = rate;
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(rate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = kDeviceFrames;
    want.callback = render;
    want.userdata = d.get();
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the hardware wants behind the scenes.
    d->id = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (d->id == 0) return give_up(TARVIK_AUDIO_ERROR_DRIVER, kCall, SDL_GetError());
    g_device = std::move(d);
    return succeed();
}

bool free_device() {
    if (!g_device) return fail(TARVIK_AUDIO_ERROR_INIT, "SDL_CloseAudioDevice");
    destroy(g_stream);
    SDL_CloseAudioDevice(g_device->id);
    g_device.reset();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return succeed();
}

int get_volume() {
    return g_volume.load(std::memory_order_relaxed);
}

bool set_volume(int volume) {
    if (volume < 0 || volume > 100) return fail(TARVIK_AUDIO_ERROR_ILLPARAM, "set_volume");
    g_volume.store(volume, std::memory_order_relaxed);
    return succeed();
}

// Holds (1) or resumes (0) the device's output.
bool pause_device(int on) {
    if (!g_device) return fail(TARVIK_AUDIO_ERROR_INIT, "SDL_PauseAudioDevice");
    SDL_PauseAudioDevice(g_device->id, on);
    return succeed();
}

bool start() {
    return pause_device(0);
}
bool pause() {
    return pause_device(1);
}

Handle stream_create_file(const char* path) {
    if (!g_device) return fail(TARVIK_AUDIO_ERROR_INIT, "sf_open"), 0;
    if (g_stream) return fail(TARVIK_AUDIO_ERROR_ALREADY, "sf_open"), 0;
    // Tell "cannot open" from "cannot read this format". Only a regular file is taken: a
    // FIFO or device could block the open or never end (non-blocking, so a FIFO does not wait).
    // The descriptor checked is the one read, so the name cannot be swapped in between.
    platform::RegularFile opened = platform::open_regular_file(path);
    if (!opened)
        return fail(TARVIK_AUDIO_ERROR_FILEOPEN, "open",
                    opened.error != 0 ? opened.error_text().c_str() : "not a regular file"),
               0;

    auto s = std::make_unique<Stream>();
    s->file = std::move(opened.fd);
    s->source = AudioSource::from_descriptor(s->file.get());
    if (!s->source->ok())
        return fail(TARVIK_AUDIO_ERROR_FILEFORM, "sf_open", s->source->error()), 0;
    const AudioFacts& facts = s->source->facts();
    if (facts.sample_rate < 1)
        return fail(TARVIK_AUDIO_ERROR_FILEFORM, "sf_open", "no channels or no sample rate"), 0;
    s->channels = facts.channels;
    s->rate = facts.sample_rate;
    s->device_rate = g_device->rate;
    s->reported_frames = facts.frames == SF_COUNT_MAX ? 0 : std::max<int64_t>(facts.frames, 0);
    if (static_cast<uint32_t>(s->rate) != s->device_rate) {
        s->converter = SDL_NewAudioStream(AUDIO_S16SYS, 2, s->rate, AUDIO_S16SYS, 2,
                                          static_cast<int>(s->device_rate));
        if (!s->converter) return fail_sdl(TARVIK_AUDIO_ERROR_FORMAT, "SDL_NewAudioStream"), 0;
    }
    s->handle = g_next_handle++;
    if (g_next_handle == 0) g_next_handle = 1;
    try {
        s->decoder = std::thread(decode, s.get());
    } catch (...) {
        if (s->converter) SDL_FreeAudioStream(s->converter);
        return fail(TARVIK_AUDIO_ERROR_MEMORY, "pthread_create"), 0;
    }
    g_stream = std::move(s);
    succeed();
    return g_stream->handle;
}

bool stream_play(Handle h) {
    Stream* s = find(h, "stream_play");
    if (!s) return false;
    s->playing.store(true, std::memory_order_release);
    g_device->stream.store(s, std::memory_order_release);
    return succeed();
}

bool stream_free(Handle h) {
    if (!find(h, "stream_free")) return false;
    destroy(g_stream);
    return succeed();
}

uint64_t stream_get_length(Handle h) {
    const Stream* s = find(h, "stream_get_length");
    if (!s) return kBadPosition;
    const int64_t decoded = s->decoded_frames.load(std::memory_order_acquire);
    const bool all = s->decoded_all.load(std::memory_order_acquire);
    // Until the end is known the length stays ahead of what was decoded, so that a stream
    // whose header tells too little (or nothing) is not taken as played out on a dry spell.
    const int64_t frames = all ? s->decoded_frames.load(std::memory_order_acquire)
                               : std::max(s->reported_frames, decoded + 1);
    return static_cast<uint64_t>(frames) * s->block();
}

uint64_t channel_get_position(Handle h) {
    const Stream* s = find(h, "channel_get_position");
    if (!s) return kBadPosition;
    if (s->finished.load(std::memory_order_acquire))
        return static_cast<uint64_t>(s->decoded_frames.load(std::memory_order_acquire)) *
               s->block();
    const uint64_t out = s->consumed.load(std::memory_order_acquire);
    uint64_t frames = out;
    if (static_cast<uint32_t>(s->rate) != s->device_rate)
        frames = static_cast<uint64_t>(static_cast<double>(out) * s->rate / s->device_rate);
    const auto decoded = static_cast<uint64_t>(s->decoded_frames.load(std::memory_order_acquire));
    return std::min(frames, decoded) * s->block();
}

double channel_bytes_to_seconds(Handle h, uint64_t bytes) {
    const Stream* s = find(h, "channel_bytes_to_seconds");
    if (!s) return -1.0;
    return static_cast<double>(bytes / s->block()) / s->rate;
}

uint32_t channel_get_level(Handle h) {
    const Stream* s = find(h, "channel_get_level");
    if (!s) return kBadLevel;
    return s->level.load(std::memory_order_relaxed);
}

bool channel_slide_attributes(Handle h, int rate, int volume, int pan, uint32_t time_ms) {
    constexpr const char* kCall = "channel_slide_attributes";
    Stream* s = find(h, kCall);
    if (!s) return false;
    if ((rate != -1 && rate != 0) || pan != -101 || volume < -2 || volume > 100)
        return fail(TARVIK_AUDIO_ERROR_ILLPARAM, kCall);
    const double now = now_ms(*g_device);
    const Slide current = unpack_slide(s->slide.load(std::memory_order_relaxed));
    if (slide_stopped_at(current, now)) return fail(TARVIK_AUDIO_ERROR_NOTPLAYING, kCall);
    if (volume != -1) {
        Slide next;
        next.start_ms = static_cast<uint32_t>(now);
        next.duration_ms = static_cast<uint16_t>(std::min<uint32_t>(time_ms, 0xFFFF));
        next.from = static_cast<uint8_t>(std::lround(slide_volume_at(current, now)));
        next.to = static_cast<uint8_t>(volume == -2 ? 0 : volume);
        next.stop_at_end = volume == -2;
        s->slide.store(pack_slide(next), std::memory_order_release);
    }
    return succeed();
}

bool channel_is_sliding(Handle h) {
    const Stream* s = find(h, "channel_is_sliding");
    if (!s) return false;
    return slide_running_at(unpack_slide(s->slide.load(std::memory_order_relaxed)),
                            now_ms(*g_device));
}

constexpr TarvikAudio kTable{
    .get_version = get_version,
    .version_compatible = version_compatible,
    .init = init,
    .free = free_device,
    .error_code = error_code,
    .error_call = error_call,
    .error_reason = error_reason,
    .get_volume = get_volume,
    .set_volume = set_volume,
    .start = start,
    .pause = pause,
    .stream_create_file = stream_create_file,
    .stream_play = stream_play,
    .stream_free = stream_free,
    .stream_get_length = stream_get_length,
    .channel_get_position = channel_get_position,
    .channel_bytes_to_seconds = channel_bytes_to_seconds,
    .channel_get_level = channel_get_level,
    .channel_slide_attributes = channel_slide_attributes,
    .channel_is_sliding = channel_is_sliding,
};

} // namespace

} // namespace tarvik::audio

extern "C" __attribute__((visibility("default"))) const TarvikAudio*
tarvik_audio_entry(uint32_t interface_version) {
    return interface_version == TARVIK_AUDIO_INTERFACE ? &tarvik::audio::kTable : nullptr;
}

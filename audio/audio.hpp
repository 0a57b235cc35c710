// The playback facility: decoding through libsndfile (WAV, MP3, MP2, MP1, Ogg Vorbis and
// whatever else it reads), output through SDL2's audio device.
//
// One output device and one stream at a time. Every function is called from one thread (the
// program's); the facility decodes on a thread of its own and SDL mixes on its audio thread,
// and those share data with the caller only through atomics and a lock-free ring.
//
// Byte positions and lengths count the stream decoded to 16-bit samples in the file's own
// channel count ("block" = channels * 2 bytes per frame), whatever the device rate.
// Functions that report success return true; on failure error_code() tells why.
#pragma once

#include <cstdint>
#include <string>

namespace tarvik::audio {

inline constexpr const char* kHomePage = "https://www.libsdl.org/";

using Handle = uint32_t; // 0: no stream

inline constexpr int kDefaultDevice = -1;
inline constexpr uint64_t kBadPosition = ~uint64_t{0};
inline constexpr uint32_t kBadLevel = ~uint32_t{0};

// Error codes of the last failed call.
enum ErrorCode : int {
    kOk = 0,
    kErrorMemory = 1,      // out of memory
    kErrorFileOpen = 2,    // the file cannot be opened
    kErrorDriver = 3,      // no audio output: no driver started, only the silent dummy
                           // driver is there, or the device refused to open
    kErrorHandle = 5,      // no such stream
    kErrorFormat = 6,      // the stream's format cannot be converted for the device
    kErrorInit = 8,        // init() has not been called
    kErrorAlready = 14,    // already initialised / a stream exists already
    kErrorIllParam = 20,   // a parameter is out of range or not offered
    kErrorDevice = 23,     // no such device number
    kErrorNotPlaying = 24, // the channel has been stopped
    kErrorFileForm = 41,   // the file's format is not recognised
};

// Version of the audio facility (SDL): low 16 bits major, high 16 bits minor.
uint32_t get_version();
// True when the SDL loaded at run time is the one built against or a later release of the
// same major version.
bool version_compatible();

// Opens the output device (kDefaultDevice, or an index among SDL's output devices) at `rate`
// Hz, 16-bit signed stereo. The device starts paused.
bool init(int device, uint32_t rate);
// Closes the device (freeing a stream that is left) and shuts the audio facility down.
bool free();
int error_code();

// Output ("WAVE") volume of the facility, 0 to 100: a master gain on everything played. It is
// process-wide and starts at 100.
int get_volume();
bool set_volume(int volume);

// Starts or resumes the device's output; pause() holds it (streams keep their position).
bool start();
bool pause();

// Opens a file and starts decoding it ahead; 0 on failure. Needs init().
Handle stream_create_file(const std::string& path);
// Starts the stream on the device (heard once the device is started).
bool stream_play(Handle stream);
bool stream_free(Handle stream);
// Length in bytes. Until decoding reaches the end, an estimate from the file's header that
// is always ahead of the position; from then on exactly the byte position the stream has
// when it has played to its end.
uint64_t stream_get_length(Handle stream);

// Position in bytes of what has been handed to the device; equals the length once the
// stream has played to its end. kBadPosition for a bad handle.
uint64_t channel_get_position(Handle stream);
// Seconds of a byte count of this stream; negative for a bad handle.
double channel_bytes_to_seconds(Handle stream, uint64_t bytes);
// Level word of the most recent output block: low 16 bits left, high 16 bits right, each 0
// to 128 (peak, after every gain). kBadLevel for a bad handle.
uint32_t channel_get_level(Handle stream);

// Slides the channel's attributes over time_ms (at most 65535 ms). rate: -1 leaves it, 0
// returns to the stream's own rate (streams always play at their own rate here, so this
// slides nothing); other rates are not offered. volume: 0 to 100, -1 leaves it, -2 fades
// to 0 and then stops the channel. pan: only -101 (leave it) is offered. A new volume slide
// replaces the one under way, starting from the volume reached.
bool channel_slide_attributes(Handle stream, int rate, int volume, int pan, uint32_t time_ms);
// True while a slide of the channel is under way. Slides run on the clock, whether or not
// the device is started.
bool channel_is_sliding(Handle stream);

} // namespace tarvik::audio

// SPDX-License-Identifier: GPL-3.0-or-later
/* The playback facility, a module of its own (tarvik_audio.so beside the program) so that
 * only -play and -ver pay for loading SDL2 and what it pulls in. Decoding goes through
 * libsndfile (WAV in any sample format, MP3, MP2, MP1, Ogg Vorbis, ...), output through
 * SDL2's audio device.
 *
 * The module exports one C entry, TARVIK_AUDIO_ENTRY, which returns its table of operations
 * for the interface version asked for (NULL for another version).
 *
 * One output device and one stream at a time. Every operation is called from one thread
 * (the program's); the module decodes on a thread of its own and SDL mixes on its audio
 * thread, and those share data with the caller only through atomics and a lock-free ring.
 *
 * Byte positions and lengths count the stream decoded to 16-bit samples in the file's own
 * channel count ("block" = channels * 2 bytes per frame), whatever the device rate.
 * Operations that report success return true; on failure error_code() tells why and
 * error_call() names the SDL2, libsndfile or system call that failed (or the operation
 * itself when it refused its arguments or state). */
#ifndef TARVIK_AUDIO_MODULE_H
#define TARVIK_AUDIO_MODULE_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TARVIK_AUDIO_MODULE_NAME "tarvik_audio.so"
#define TARVIK_AUDIO_ENTRY "tarvik_audio_entry"
#define TARVIK_AUDIO_INTERFACE 1u
#define TARVIK_AUDIO_HOME_PAGE "https://www.libsdl.org/"

typedef uint32_t TarvikAudioHandle; /* 0: no stream */

#define TARVIK_AUDIO_DEFAULT_DEVICE (-1)
#define TARVIK_AUDIO_BAD_POSITION (~(uint64_t)0)
#define TARVIK_AUDIO_BAD_LEVEL (~(uint32_t)0)

/* Error codes of the last failed operation. */
enum {
    TARVIK_AUDIO_OK = 0,
    TARVIK_AUDIO_ERROR_MEMORY = 1,      /* out of memory, or no decoding thread */
    TARVIK_AUDIO_ERROR_FILEOPEN = 2,    /* the file cannot be opened, or is no regular file */
    TARVIK_AUDIO_ERROR_DRIVER = 3,      /* no audio output: no driver started, only the silent
                                           dummy driver is there, or the device refused */
    TARVIK_AUDIO_ERROR_HANDLE = 5,      /* no such stream */
    TARVIK_AUDIO_ERROR_FORMAT = 6,      /* the stream cannot be converted for the device */
    TARVIK_AUDIO_ERROR_INIT = 8,        /* init() has not been called */
    TARVIK_AUDIO_ERROR_ALREADY = 14,    /* already initialised / a stream exists already */
    TARVIK_AUDIO_ERROR_ILLPARAM = 20,   /* a parameter is out of range or not offered */
    TARVIK_AUDIO_ERROR_DEVICE = 23,     /* no such device number */
    TARVIK_AUDIO_ERROR_NOTPLAYING = 24, /* the channel has been stopped */
    TARVIK_AUDIO_ERROR_FILEFORM = 41    /* the file's format is not recognised */
};

typedef struct TarvikAudio {
    /* SDL2 as loaded: low 16 bits major, high 16 bits minor version. */
    uint32_t (*get_version)(void);
    /* True when the SDL2 loaded is the one built against or a later release of it. */
    bool (*version_compatible)(void);

    /* Opens the output device (TARVIK_AUDIO_DEFAULT_DEVICE, or an index among SDL's output
     * devices) at `rate` Hz, 16-bit signed stereo. The device starts paused. */
    bool (*init)(int device, uint32_t rate);
    /* Closes the device (freeing a stream that is left) and shuts SDL's audio down. */
    bool (*free)(void);
    int (*error_code)(void);
    /* The call that failed last ("SDL_OpenAudioDevice", "sf_open", ...) and, when the
     * library said why, its reason ("" otherwise). */
    const char* (*error_call)(void);
    const char* (*error_reason)(void);

    /* Output ("WAVE") volume, 0 to 100: a master gain on everything played, 100 at load. */
    int (*get_volume)(void);
    bool (*set_volume)(int volume);

    /* Starts or resumes the device's output; pause() holds it (streams keep position). */
    bool (*start)(void);
    bool (*pause)(void);

    /* Opens a file and starts decoding it ahead; 0 on failure. Needs init(). */
    TarvikAudioHandle (*stream_create_file)(const char* path);
    /* Starts the stream on the device (heard once the device is started). */
    bool (*stream_play)(TarvikAudioHandle stream);
    bool (*stream_free)(TarvikAudioHandle stream);
    /* Length in bytes. Until decoding reaches the end, an estimate from the file's header
     * that is always ahead of the position; from then on exactly the byte position the
     * stream has when it has played to its end. */
    uint64_t (*stream_get_length)(TarvikAudioHandle stream);

    /* Position in bytes of what has been handed to the device; equals the length once the
     * stream has played to its end. TARVIK_AUDIO_BAD_POSITION for a bad handle. */
    uint64_t (*channel_get_position)(TarvikAudioHandle stream);
    /* Seconds of a byte count of this stream; negative for a bad handle. */
    double (*channel_bytes_to_seconds)(TarvikAudioHandle stream, uint64_t bytes);
    /* Level word of the most recent output block: low 16 bits left, high 16 bits right,
     * each 0 to 128 (peak, after every gain). TARVIK_AUDIO_BAD_LEVEL for a bad handle. */
    uint32_t (*channel_get_level)(TarvikAudioHandle stream);

    /* Slides the channel's attributes over time_ms (at most 65535 ms). rate: -1 leaves it, 0
     * returns to the stream's own rate (streams always play at their own rate here, so this
     * slides nothing); other rates are not offered. volume: 0 to 100, -1 leaves it, -2
     * fades to 0 and then stops the channel. pan: only -101 (leave it) is offered. A new
     * volume slide replaces the one under way, starting from the volume reached. */
    bool (*channel_slide_attributes)(TarvikAudioHandle stream, int rate, int volume, int pan,
                                     uint32_t time_ms);
    /* True while a slide is under way. Slides run on the clock, device started or not. */
    bool (*channel_is_sliding)(TarvikAudioHandle stream);
} TarvikAudio;

typedef const TarvikAudio* (*TarvikAudioEntry)(uint32_t interface_version);

#ifdef __cplusplus
}
#endif

#endif

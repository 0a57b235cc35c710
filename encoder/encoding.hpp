// WAV to MP3 through the encoder library: the configuration record, its fitting to MPEG's
// rules, and the streaming encode.
#pragma once

#include "common/console_out.hpp"
#include "common/files.hpp"
#include "encoder/input_file.hpp"
#include "encoder/run_state.hpp"
#include "lame_enc.h"

#include <array>
#include <atomic>
#include <string>

namespace tarvik {

// The record for the current settings (every other byte zero).
BE_CONFIG build_config(uint16_t mpeg_version, uint32_t sample_rate, uint8_t mode, uint16_t bit_rate,
                       int32_t vbr_quality);
inline BE_CONFIG build_config(const RunSettings& s) {
    return build_config(s.mpeg_version, s.sample_rate, s.mode, s.bit_rate, s.vbr_quality);
}

// MPEG's nine sample rates, and the bit rates of MPEG-1 and of MPEG-2/2.5, in kbps (also the
// order of the frame header's bit-rate index, from 1).
inline constexpr std::array<uint32_t, 9> kMpegRates{8000,  11025, 12000, 16000, 22050,
                                                    24000, 32000, 44100, 48000};
inline constexpr std::array<uint16_t, 14> kMpeg1Kbps{32,  40,  48,  56,  64,  80,  96,
                                                     112, 128, 160, 192, 224, 256, 320};
inline constexpr std::array<uint16_t, 14> kMpeg2Kbps{8,  16, 24, 32,  40,  48,  56,
                                                     64, 80, 96, 112, 128, 144, 160};

// What the encoder makes of an input rate: the MPEG rate it writes (a rate outside MPEG's
// nine is resampled to the nearest of them) and the bit rates that rate allows.
struct MpegClass {
    uint32_t rate = 44100;   // the MP3's sample rate
    uint16_t min_kbps = 32;  // lowest bit rate of the class
    uint16_t max_kbps = 320; // highest one the encoder writes (64 at 8 to 12 kHz)
    bool mpeg1() const { return rate >= 32000; }
};
MpegClass mpeg_class(uint32_t input_rate);

// A bit rate request made legal for a class: the lowest allowed rate at or above it, else the
// class's highest (MPEG-1 makes 8 to 24 into 32 and 144 into 160; MPEG-2 192 and above into
// 160; 8 to 12 kHz everything above 64 into 64).
uint16_t fit_bit_rate(uint16_t kbps, const MpegClass& mpeg);

// Fits the record to what the encoder will really write, from the requested settings (which
// it leaves alone, so fitting again for another rate starts from the request): the output
// rate, the bit rate fitted to its class (VBR ranges over the whole class, a typed bit rate
// as its floor), and the channel mode chosen from the bit rate.
void adjust_config(BE_CONFIG& config, const RunSettings& settings);

// The name "Final settings" prints for a channel-mode code; empty for an unknown code.
const char* mode_name(int32_t mode);

struct EncodeOptions {
    bool show_bar = true;                      // ten-step bar, or the numeric percentage
    bool no_click = false;                     // fade to silence after the last sample
    bool progress = true;                      // false: no progress line at all (parallel batch)
    const std::atomic<bool>* cancel = nullptr; // set: stop and fail as soon as possible
    AtomicFile::Place place;                   // moves the finished MP3 into place (default: rename)
};

struct EncodeResult {
    bool ok = false;
    std::string reason;   // why it failed; empty when cancelled or refused by `place`
    ReadFingerprint read; // the input as the encoder read it
};

// The encode options the run settings ask for (bar or percentage, no-click).
EncodeOptions encode_options_for(const RunSettings& settings);

// Encodes the audio of wav_path into mp3_path. The MP3 appears under its name only when
// complete (written under a temporary name, synced, renamed); on failure nothing is left.
// Every input sample is kept: the length tag makes decoders that honour it return exactly
// the input's length. With no_click the audio is followed by a short fade from its last
// sample to silence, inside the padding that those decoders drop, so that a player that
// ignores the tag does not end on a step (a click) when the audio does not end in silence.
// Prints the final settings, progress and "Space saved" to out; no message on failure.
EncodeResult encode_mp3(const BE_CONFIG& config, const std::string& wav_path,
                        const std::string& mp3_path, const EncodeOptions& options, ConsoleOut& out);

} // namespace tarvik

// WAV to MP3 through the encoder library: the configuration record, its fitting to MPEG's
// rules, and the streaming encode.
#pragma once

#include "common/console_out.hpp"
#include "common/files.hpp"
#include "common/mpeg.hpp"
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
    AtomicFile::Place place; // moves the finished MP3 into place (default: rename)
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

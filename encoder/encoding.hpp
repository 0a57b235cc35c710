// WAV to MP3 through the encoder library: the configuration record, its fitting to MPEG's
// rules, and the streaming encode.
#pragma once

#include "common/console_out.hpp"
#include "encoder/run_state.hpp"
#include "lame_enc.h"

#include <atomic>
#include <string>

namespace tarvik {

// The record for the current settings (every other byte zero).
BE_CONFIG build_config(uint16_t mpeg_version, uint32_t sample_rate, uint8_t mode, uint16_t bit_rate,
                       int32_t vbr_quality);
inline BE_CONFIG build_config(const RunSettings& s) {
    return build_config(s.mpeg_version, s.sample_rate, s.mode, s.bit_rate, s.vbr_quality);
}

// Clamps the bit rate to the sample rate's MPEG class (also into settings.bit_rate) and
// picks the channel mode from the bit rate.
void adjust_config(BE_CONFIG& config, RunSettings& settings);

// The bit rate made legal for an MPEG class (mpeg_version 1: MPEG-1, 0: MPEG-2/2.5):
// MPEG-1 turns 8, 16 and 24 into 32 and 144 into 160; MPEG-2/2.5 turns 192 to 320 into 160.
// Every other rate comes back unchanged.
uint16_t fit_bit_rate(uint16_t kbps, uint16_t mpeg_version);

// The name "Final settings" prints for a channel-mode code; empty for an unknown code.
const char* mode_name(int32_t mode);

struct EncodeOptions {
    bool show_bar = true;   // ten-step bar, or the numeric percentage
    bool no_click = false;  // drop the encoder's flushed frames
    bool progress = true;   // false: no progress line at all (parallel batch)
    const std::atomic<bool>* cancel = nullptr; // set: stop and fail as soon as possible
};

// The encode options the run settings ask for (bar or percentage, no-click).
EncodeOptions encode_options_for(const RunSettings& settings);

// Encodes the audio of wav_path into mp3_path. The MP3 appears under its name only when
// complete (written under a temporary name, synced, renamed); on failure nothing is left.
// Prints the final settings, progress and "Space saved" to out; no message on failure.
bool encode_mp3(const BE_CONFIG& config, const std::string& wav_path, const std::string& mp3_path,
                const EncodeOptions& options, ConsoleOut& out);

} // namespace tarvik

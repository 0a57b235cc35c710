// Fitting the settings to a WAV file, and writing the temporary silent WAV.
#pragma once

#include "common/console_out.hpp"
#include "encoder/run_state.hpp"
#include "lame_enc.h"

#include <atomic>
#include <optional>
#include <string>

namespace tarvik {

// False only when the WAV must be opened (single-file and batch runs) and cannot be.
// Doubles the default 64 kbps (not a typed 64) to 128 for two-channel output; the record
// takes it from adjust_config.
bool probe_wav(const std::string& path, BE_CONFIG& config, RunSettings& settings,
               bool existing_wav);

// Fits mode, sample rate and bit rate to the WAV's own channels and rate, then calls
// adjust_config. False only when the file cannot be opened as audio.
bool get_wav_specs(const std::string& path, BE_CONFIG& config, RunSettings& settings);

// True when the temporary WAV for `seconds` of silence fits the free space of `dir`; else
// shows an error box saying how much it would take (absurd lengths included).
bool silence_fits(const BE_CONFIG& config, long long seconds, const std::string& dir);

// Writes `seconds` of digital silence at the record's rate (one channel for mono, else two)
// into a new, uniquely named "%.8d.wav" in `dir`, streaming it in blocks. Shows its own
// error box on failure. Once *cancel is set it stops, removes the partial file and returns
// nullopt without a box. Returns the path of the complete file.
std::optional<std::string> generate_wave(const BE_CONFIG& config, long long seconds,
                                         const std::string& dir, ConsoleOut& out,
                                         const std::atomic<bool>* cancel = nullptr);

// Duration of an audio file in seconds (0 when it cannot be read).
double audio_seconds(const std::string& path);

} // namespace tarvik

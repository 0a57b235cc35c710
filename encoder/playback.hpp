// SPDX-License-Identifier: GPL-3.0-or-later
// -play and the pieces of it that need no device (finding the file, the status line), and
// the loading of the audio module that plays.
#pragma once

#include "audio/module.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

inline constexpr const char* kPauseBanner = "[......P.A.U.S.E.D......]";

// Lit cells (0 to 11) of one side of the meter for a channel level (0 to 128).
int meter_cells(uint32_t channel_level);

// The 25-character meter of a level word (low 16 bits left, high 16 bits right): "[", the
// left bar growing leftwards from the middle, " ", the right bar growing rightwards, "]".
std::string level_meter(uint32_t level);

// "Time elapsed: <hh:mm:ss or n/a> - Volume: <3 digits>% - L <meter or pause banner> R\r".
std::string status_line(double seconds, int volume, bool paused, uint32_t level);

// The file -play means. A name whose file name has the extension .wav, .mp1, .mp2, .mp3 or
// .ogg (in any case) is taken as it is. Otherwise the file name's extension is replaced by
// (or, without one, given) .mp3, .wav, .ogg, .mp2 and .mp1 in turn, and the first that names
// a readable file is taken. File names match without regard to case; the result names the
// file as it is stored. nullopt when no candidate is readable; a name taken as it is may not
// exist.
std::optional<std::string> find_sound_file(const std::string& name);

// The name without its file's extension, as the not-found message shows it.
std::string name_without_extension(const std::string& name);

// The audio module (tarvik_audio.so), loaded from program_dir first, else through the
// system's search, on the first call; later calls return the same result. Null when it
// cannot be loaded; *problem (if given) then tells why.
const TarvikAudio* audio_module(const std::string& program_dir, std::string* problem = nullptr);

// The audio facility's block of the library information (-ver); loads the module.
std::string audio_version_block(const std::string& program_dir);

} // namespace tarvik

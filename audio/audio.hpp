// The playback facility: decoding through libsndfile, output through SDL2.
#pragma once

#include <cstdint>

namespace tarvik::audio {

inline constexpr const char* kHomePage = "https://www.libsdl.org/";

// Low 16 bits: major version; high 16 bits: minor version.
uint32_t get_version();

} // namespace tarvik::audio

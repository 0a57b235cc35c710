#include "audio/audio.hpp"

namespace tarvik::audio {

uint32_t get_version() { return (0u << 16) | 1u; }

} // namespace tarvik::audio

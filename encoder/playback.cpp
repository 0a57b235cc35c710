#include "encoder/modes.hpp"

#include <cstdio>

namespace tarvik {

int play(Context&, const std::string&) {
    std::printf("Playback is not available yet.\n");
    return kExitFailure;
}

} // namespace tarvik

#include "encoder/modes.hpp"

#include <cstdio>

namespace tarvik {

int run_silence(Context&, const std::vector<std::string>&) {
    std::printf("Silence generation is not available yet.\n");
    return kExitFailure;
}

int run_single_file(Context&, const std::vector<std::string>&) {
    std::printf("Single-file encoding is not available yet.\n");
    return kExitFailure;
}

} // namespace tarvik

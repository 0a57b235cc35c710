#include "platform/console.hpp"

#include <cstdio>
#include <unistd.h>

namespace tarvik::platform {

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool stdin_is_terminal() { return ::isatty(STDIN_FILENO) == 1; }

void clear_console() {
    if (!stdout_is_terminal()) return;
    std::fputs("\033[H\033[2J\033[3J", stdout);
    std::fflush(stdout);
}

} // namespace tarvik::platform

// Console services: clearing the screen and reading keys without waiting or echo.
#pragma once

namespace tarvik::platform {

bool stdout_is_terminal();
bool stdin_is_terminal();

// Clears the terminal; does nothing when standard output is not a terminal.
void clear_console();

} // namespace tarvik::platform

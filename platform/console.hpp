// SPDX-License-Identifier: GPL-3.0-or-later
// Console services: clearing the screen and reading keys without waiting or echo.
#pragma once

#include "platform/files.hpp"

#include <string_view>
#include <vector>

namespace tarvik::platform {

bool stdout_is_terminal();
bool stdin_is_terminal();

// Gives standard output to the caller as a new descriptor (close-on-exec) and makes
// descriptor 1 a copy of standard error: whatever this process and the programs it starts
// print from then on goes to standard error. Invalid, and nothing changed, on failure.
FileDescriptor take_standard_output();

// Clears the terminal; does nothing when standard output is not a terminal.
void clear_console();

// Key codes as the C runtime's console key reading delivers them: an arrow key comes as two
// codes, kKeyPrefix and then kKeyUp, kKeyDown, kKeyLeft or kKeyRight; other keys as their
// character code.
inline constexpr int kKeyPrefix = 0xE0;
inline constexpr int kKeyUp = 0x48;
inline constexpr int kKeyDown = 0x50;
inline constexpr int kKeyLeft = 0x4B;
inline constexpr int kKeyRight = 0x4D;
inline constexpr int kKeyEscape = 0x1B;

// Key codes of the bytes a terminal sends. A lone ESC is the ESCAPE key; the cursor-key
// sequences (ESC [ A and ESC O A, with or without modifier parameters) are the arrows; other
// escape sequences, and a sequence cut off at the end, give no code.
std::vector<int> decode_key_bytes(std::string_view bytes);

// Reads keys from a terminal standard input without waiting and without echo. While an
// instance lives the terminal is in non-canonical, no-echo mode (Ctrl-C still interrupts).
// Its settings are put back when the instance ends, at process exit, before the process dies
// of SIGINT, SIGTERM, SIGHUP or SIGQUIT, and while it is stopped by SIGTSTP. When standard
// input is not a terminal, or the process is not in the terminal's foreground, the reader is
// inactive: no key is ever pending. One instance at a time.
class KeyReader {
  public:
    KeyReader();
    ~KeyReader();
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    bool active() const { return active_; }
    // True when a key code is waiting (never blocks).
    bool key_pending();
    // The next key code, 0 when none is waiting (never blocks).
    int read_key();

  private:
    void fill();

    bool active_ = false;
    std::vector<int> queue_; // codes read but not yet taken
    size_t next_ = 0;
};

} // namespace tarvik::platform

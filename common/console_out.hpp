// SPDX-License-Identifier: GPL-3.0-or-later
// Where a piece of work prints: straight to standard output, or into a buffer that is
// printed later as one block (files converted in parallel print their blocks in order); and
// moving the whole console to standard error when standard output carries something else.
#pragma once

#include "platform/files.hpp"

#include <string>
#include <string_view>

namespace tarvik {

class ConsoleOut {
  public:
    // Prints straight to standard output.
    ConsoleOut() = default;
    // Collects everything into *buffer.
    explicit ConsoleOut(std::string* buffer) : buffer_(buffer) {}

    void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void write(std::string_view text);
    void flush();
    bool buffered() const { return buffer_ != nullptr; }

  private:
    std::string* buffer_ = nullptr;
};

// Flushes standard output and gives it to the caller as a descriptor; from then on all
// console text, this process's and its child tools', goes to standard error. Invalid, and
// the console left where it was, on failure.
platform::FileDescriptor move_console_to_error();

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// Where a piece of work prints: straight to standard output, or into a buffer that is
// printed later as one block (files converted in parallel print their blocks in order).
#pragma once

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

} // namespace tarvik

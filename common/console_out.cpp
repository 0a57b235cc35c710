// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/console_out.hpp"

#include "common/text.hpp"
#include "platform/console.hpp"

#include <cstdarg>
#include <cstdio>

namespace tarvik {

void ConsoleOut::print(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    if (!buffer_) {
        std::vprintf(fmt, args);
        va_end(args);
        return;
    }
    buffer_->append(vformat_text(fmt, args));
    va_end(args);
}

void ConsoleOut::write(std::string_view text) {
    if (buffer_)
        buffer_->append(text);
    else
        std::fwrite(text.data(), 1, text.size(), stdout);
}

void ConsoleOut::flush() {
    if (!buffer_) std::fflush(stdout);
}

platform::FileDescriptor move_console_to_error() {
    std::fflush(stdout);
    return platform::take_standard_output();
}

} // namespace tarvik

#include "common/console_out.hpp"

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
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (needed > 0) {
        const size_t old = buffer_->size();
        buffer_->resize(old + static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer_->data() + old, static_cast<size_t>(needed) + 1, fmt, args);
        buffer_->resize(old + static_cast<size_t>(needed));
    }
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

} // namespace tarvik

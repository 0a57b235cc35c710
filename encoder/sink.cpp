// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/sink.hpp"

#include "common/text.hpp"
#include "platform/console.hpp"

namespace tarvik {

ConsoleSink::ConsoleSink(ConsoleOut& out, bool show_bar)
    : out_(out), show_bar_(show_bar), terminal_(platform::stdout_is_terminal()) {}

void ConsoleSink::progress_begin() {
    active_ = !collected();
    mark_ = -1;
}

void ConsoleSink::progress(double percent) {
    if (!active_) return;
    if (!show_bar_) {
        draw(format_text("Encoding: %0.2f%%\r", percent));
        out_.flush();
        return;
    }
    if (mark_ == -1) {
        mark_ = 0;
        draw("Encoding: [ ");
    }
    draw_up_to(static_cast<int>(percent));
}

void ConsoleSink::progress_end(ProgressEnd end) {
    if (!active_) return;
    active_ = false;
    switch (end) {
    case ProgressEnd::Stopped:
        // The bar stays as it stands, and whatever follows goes on after it.
        out_.write(line_);
        line_.clear();
        cursor_ = 0;
        return;
    case ProgressEnd::Failed:
        // The warning that follows starts on a line of its own.
        if (mark_ != -1 || !show_bar_) draw("\n");
        return;
    case ProgressEnd::Finished:
        break;
    }
    if (!show_bar_) {
        draw("\n");
        return;
    }
    if (mark_ != -1) draw_up_to(100); // a finished bar always shows ten steps
    draw(" Done!\n");
}

// One '>' per tenth reached, catching up when a chunk spans several.
void ConsoleSink::draw_up_to(int percent) {
    bool drew = false;
    while (mark_ < percent && mark_ < 100) {
        mark_ += 10;
        draw("\b>]");
        drew = true;
    }
    if (drew) out_.flush();
}

void ConsoleSink::draw(std::string_view bytes) {
    if (terminal_) {
        out_.write(bytes);
        return;
    }
    for (const char c : bytes) {
        if (c == '\b') {
            cursor_ -= cursor_ > 0;
        } else if (c == '\r') {
            cursor_ = 0;
        } else if (c == '\n') {
            out_.write(line_ + '\n');
            line_.clear();
            cursor_ = 0;
        } else {
            if (cursor_ == line_.size()) line_ += c;
            line_[cursor_++] = c;
        }
    }
}

} // namespace tarvik

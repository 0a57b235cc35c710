// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/sink.hpp"

namespace tarvik {

void ConsoleSink::progress_begin() {
    active_ = !collected();
    mark_ = -1;
}

void ConsoleSink::progress(double percent) {
    if (!active_) return;
    if (!show_bar_) {
        out_.print("Encoding: %0.2f%%\r", percent);
        out_.flush();
        return;
    }
    if (mark_ == -1) {
        mark_ = 0;
        out_.write("Encoding: [ ");
    }
    draw_up_to(static_cast<int>(percent));
}

void ConsoleSink::progress_end(bool finished) {
    if (!active_) return;
    active_ = false;
    if (!finished) {
        // The warning that follows starts on a line of its own.
        if (mark_ != -1 || !show_bar_) out_.write("\n");
        return;
    }
    if (!show_bar_) {
        out_.write("\n");
        return;
    }
    if (mark_ != -1) draw_up_to(100); // a finished bar always shows ten steps
    out_.write(" Done!\n");
}

// One '>' per tenth reached, catching up when a chunk spans several.
void ConsoleSink::draw_up_to(int percent) {
    bool drew = false;
    while (mark_ < percent && mark_ < 100) {
        mark_ += 10;
        out_.write("\b>]");
        drew = true;
    }
    if (drew) out_.flush();
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// Where a conversion shows what happens while it runs: the lines of its block and the
// progress of its encode. The core reports; the sink decides how it looks.
#pragma once

#include "common/console_out.hpp"

#include <string>
#include <string_view>

namespace tarvik {

// How an encode's progress ended: every frame encoded, a failure, or a stop signal.
enum class ProgressEnd { Finished, Failed, Stopped };

class Sink {
  public:
    virtual ~Sink() = default;
    // Text of the job's block, as printed (lines end in '\n').
    virtual void write(std::string_view text) = 0;
    // Shows what was written so far before another program writes to the same console.
    virtual void flush() {}
    // True when the block is collected and printed later (files converted in parallel): the
    // lip-sync tool's own output is captured into it.
    virtual bool collected() const = 0;
    // The job passed its checks and is about to write its output.
    virtual void starting() {}
    // The encode began, reached `percent` (0 to 100), and ended.
    virtual void progress_begin() {}
    virtual void progress(double /*percent*/) {}
    virtual void progress_end(ProgressEnd /*end*/) {}
};

// The console's sink: text to `out` (standard output, or a block collected for later), and,
// when the block is not collected, a ten-step bar or a numeric percentage for the encode.
// On a terminal the bar is drawn as the encode goes, over itself (backspaces, carriage
// returns); elsewhere (a pipe, a file) it is printed once, when it ends, as the terminal
// shows it then, without control characters.
class ConsoleSink : public Sink {
  public:
    ConsoleSink(ConsoleOut& out, bool show_bar);
    void write(std::string_view text) override { out_.write(text); }
    void flush() override { out_.flush(); }
    bool collected() const override { return out_.buffered(); }
    void progress_begin() override;
    void progress(double percent) override;
    void progress_end(ProgressEnd end) override;

  private:
    void draw_up_to(int percent);
    // The bar's bytes as a terminal takes them: sent on a terminal, else applied to line_.
    void draw(std::string_view bytes);
    ConsoleOut& out_;
    bool show_bar_;
    bool terminal_;
    bool active_ = false;
    int mark_ = -1;     // tenths drawn so far, in percent; -1: the bar has not started
    std::string line_;  // off a terminal: the bar's line as a terminal would show it
    size_t cursor_ = 0; // ... and where the terminal's cursor would be in it
};

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// Turns per-frame mouth shapes into cues that an animation can hold: short flickers are
// merged into their neighbours.
#pragma once

#include "lipsync/shapes.hpp"

#include <cstdint>
#include <vector>

namespace tarvik::lipsync {

struct CueSettings {
    int min_hold_frames = 5;    // shortest cue for shapes that may be merged away
    int min_closure_frames = 2; // shortest A: a closure shows however brief, one stray frame not
    int min_long_l_frames = 7;  // H (tongue raised) only for runs at least this long, else B
};

// Streaming cue builder. Frames arrive in order; memory grows only with the cue list.
// Rules, applied to runs of equal shapes:
// - a run of H shorter than min_long_l_frames becomes B (only a long L shows the tongue);
// - a run shorter than min_hold_frames (A: min_closure_frames) is merged into a neighbour
//   that is neither X nor A, the longer one when both qualify; X is never merged away,
//   and a short run between two rests keeps its shape (a short word still shows);
// - the opening of a cue is the mean of its frames' openings.
class CueBuilder {
  public:
    explicit CueBuilder(const CueSettings& settings = {});

    // Adds the next frame's shape and opening (0 to 1).
    void add(Shape shape, float opening);
    // Ends the track and returns all cues; the builder is empty afterwards.
    std::vector<Cue> finish();
    uint32_t frames() const { return frames_; }

  private:
    struct Run {
        uint32_t start = 0;
        uint32_t length = 0;
        Shape shape = Shape::X;
        double opening_sum = 0;
    };
    void close_run();
    void settle(bool final);
    void emit(const Run& run);
    bool mergeable(const Run& run) const;
    static void join(Run& into, const Run& from);

    CueSettings settings_;
    Run current_;
    bool has_current_ = false;
    std::vector<Run> pending_; // at most three runs wait for their neighbours
    std::vector<Cue> cues_;
    uint32_t frames_ = 0;
};

} // namespace tarvik::lipsync

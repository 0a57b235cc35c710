// SPDX-License-Identifier: GPL-3.0-or-later
#include "lipsync/cues.hpp"

#include <algorithm>
#include <cmath>

namespace tarvik::lipsync {

CueBuilder::CueBuilder(const CueSettings& settings) : settings_(settings) {
    pending_.reserve(4);
}

void CueBuilder::add(Shape shape, float opening) {
    if (has_current_ && current_.shape != shape) close_run();
    if (!has_current_) {
        current_ = Run{frames_, 0, shape, 0};
        has_current_ = true;
    }
    ++current_.length;
    current_.opening_sum += std::clamp(opening, 0.0f, 1.0f);
    ++frames_;
}

void CueBuilder::join(Run& into, const Run& from) {
    into.start = std::min(into.start, from.start);
    into.length += from.length;
    into.opening_sum += from.opening_sum;
}

bool CueBuilder::mergeable(const Run& run) const {
    if (run.shape == Shape::X) return false;
    const int hold =
        run.shape == Shape::A ? settings_.min_closure_frames : settings_.min_hold_frames;
    return run.length < static_cast<uint32_t>(std::max(1, hold));
}

void CueBuilder::close_run() {
    Run run = current_;
    has_current_ = false;
    if (run.shape == Shape::H && run.length < static_cast<uint32_t>(settings_.min_long_l_frames))
        run.shape = Shape::B;
    if (!pending_.empty() && pending_.back().shape == run.shape)
        join(pending_.back(), run);
    else
        pending_.push_back(run);
    settle(false);
}

void CueBuilder::settle(bool final) {
    auto takes_others = [](const Run& r) { return r.shape != Shape::X && r.shape != Shape::A; };
    auto erase_at = [this](size_t i) {
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (;;) {
        // The first run of the track has only a right neighbour.
        if (cues_.empty() && pending_.size() >= 2 && mergeable(pending_[0]) &&
            takes_others(pending_[1])) {
            join(pending_[1], pending_[0]);
            erase_at(0);
            continue;
        }
        if (pending_.size() >= 3) {
            Run& left = pending_[0];
            Run& right = pending_[2];
            Run* target = nullptr;
            if (mergeable(pending_[1])) {
                if (takes_others(left) && takes_others(right))
                    target = left.length >= right.length ? &left : &right;
                else if (takes_others(left))
                    target = &left;
                else if (takes_others(right))
                    target = &right;
            }
            if (!target) {
                emit(pending_[0]);
                erase_at(0);
                continue;
            }
            join(*target, pending_[1]);
            erase_at(1);
            // The neighbours may now carry the same shape and become one run.
            if (pending_[0].shape == pending_[1].shape) {
                join(pending_[0], pending_[1]);
                erase_at(1);
            }
            continue;
        }
        if (!final) break;
        // The last run of the track has only a left neighbour.
        if (pending_.size() == 2 && mergeable(pending_[1]) && takes_others(pending_[0])) {
            join(pending_[0], pending_[1]);
            erase_at(1);
            continue;
        }
        if (pending_.empty()) break;
        emit(pending_[0]);
        erase_at(0);
    }
}

void CueBuilder::emit(const Run& run) {
    const double mean = run.length ? run.opening_sum / run.length : 0;
    cues_.push_back(Cue{run.start, run.shape, static_cast<uint8_t>(std::lround(mean * 255))});
}

std::vector<Cue> CueBuilder::finish() {
    if (has_current_) close_run();
    settle(true);
    std::vector<Cue> out = std::move(cues_);
    cues_.clear();
    frames_ = 0;
    return out;
}

} // namespace tarvik::lipsync

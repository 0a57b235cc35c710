// SPDX-License-Identifier: GPL-3.0-or-later
// Text forms of a lip-sync track: a readable dump of a VLP file, and the tab-separated and
// JSON forms that engine importers of other lip-sync tools read (times in seconds with two
// decimals, shapes as letters).
#pragma once

#include "common/text.hpp"
#include "lipsync/vlp.hpp"

#include <string>
#include <string_view>

namespace tarvik::lipsync {

// Everything the file holds: header values, then one line per cue with start, end, shape
// and opening.
std::string format_dump(const LipSyncTrack& track);

// One "start<TAB>shape" line per cue; when the last cue is not a rest, a final line gives
// the end of the track with X, so that every cue's end can be read from the next line.
std::string format_tsv(const LipSyncTrack& track);

// {"metadata": {"soundFile", "duration"}, "mouthCues": [{"start", "end", "value"}...]}.
// The duration is the track's length (whole 10 ms), which is also the last cue's end.
std::string format_json(const LipSyncTrack& track, std::string_view sound_file);

using tarvik::json_string; // from common/text

// "S.CC" for a time in 10 ms units.
std::string centiseconds_text(uint64_t centiseconds);

} // namespace tarvik::lipsync

// Analysing a sound file: read through libsndfile in blocks, mixed down to mono, fed to the
// analyser. Any rate, channel count and sample format that libsndfile reads.
#pragma once

#include "lipsync/analyzer.hpp"
#include "lipsync/vlp.hpp"

#include <functional>
#include <optional>
#include <string>

namespace tarvik::lipsync {

struct SoundResult {
    std::optional<LipSyncTrack> track;
    std::string error; // one line when there is no track: missing, a directory, unreadable,
                       // not a sound file, no audio, a read error
};

// Analyses the sound file at `path`. The observer, if any, sees every frame's decision.
SoundResult analyse_sound_file(const std::string& path, const AnalysisSettings& settings = {},
                               std::function<void(const FrameResult&)> observer = {});

} // namespace tarvik::lipsync

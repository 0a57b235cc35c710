// SPDX-License-Identifier: GPL-3.0-or-later
// Analysing a sound file: read through the programs' one audio source in blocks, mixed down
// to mono and fed at once to the signal analysis and, unless it alone is asked for, to phone
// recognition (and alignment to the line's text, when there is one). Any rate, channel count
// and sample format that libsndfile reads.
#pragma once

#include "lipsync/analyzer.hpp"
#include "lipsync/vlp.hpp"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::lipsync {

struct SoundInfo {
    int sample_rate = 0;
    uint64_t frames = 0; // sample frames read
};

// Reads the sound file at `path` and hands its samples, mixed down to mono, to `block` in
// order. `opened` sees the rate before the first block. Returns the
// reason when the file cannot be used: missing, a directory, unreadable, not a sound file,
// too long, no audio, a read error.
std::optional<std::string> read_sound(const std::string& path,
                                      const std::function<void(const SoundInfo&)>& opened,
                                      const std::function<void(const float*, size_t)>& block,
                                      SoundInfo& info);

enum class Method {
    Recognition, // phones from the speech model; rests from the signal
    Signal,      // the signal analysis alone (--fast)
};

struct AnalysisRequest {
    Method method = Method::Recognition;
    std::optional<std::string> text; // the words spoken: the phones are aligned to them
    std::string language = "en-us";  // of the speech and the text: an eSpeak NG voice name
    AnalysisSettings settings;
    std::function<void(const FrameResult&)> observer; // every frame of the signal analysis
};

struct SoundResult {
    std::optional<LipSyncTrack> track;
    std::string error;              // one line when there is no track
    std::vector<std::string> notes; // what the user should know about a track (one line each)
};

SoundResult analyse_sound_file(const std::string& path, const AnalysisRequest& request = {});

// The shapes of phone spans for `frames` frames: frames that no speech phone covers are
// nullopt; a phone of two sounds (a diphthong) shows each over half its frames.
std::vector<std::optional<Shape>> phone_shapes(const std::vector<struct PhoneSpan>& spans,
                                               uint32_t frames);

// A text's phones aligned to the sound the aligner was fed, a pause allowed where eSpeak NG
// pauses: each phone's shapes over its span, in turn (frames left to silence are nullopt).
// nullopt when the aligner cannot place them.
std::optional<std::vector<std::optional<Shape>>>
align_plan(class PhoneDecoder& aligner, const struct TextPlan& plan, uint32_t frames);

} // namespace tarvik::lipsync

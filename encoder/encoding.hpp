// SPDX-License-Identifier: GPL-3.0-or-later
// WAV to MP3 through the encoder library: the streaming encode of one planned input.
#pragma once

#include "common/files.hpp"
#include "encoder/input_file.hpp"
#include "encoder/plan.hpp"
#include "encoder/sink.hpp"

#include <atomic>
#include <optional>
#include <string>

namespace tarvik {

struct EncodeOptions {
    bool no_click = false;                     // fade to silence after the last sample
    const std::atomic<bool>* cancel = nullptr; // set: stop and fail as soon as possible
    AtomicFile::Place place; // moves the finished MP3 into place (default: rename)
};

struct EncodeResult {
    bool ok = false;
    std::string reason;             // why it failed; empty when cancelled or refused by `place`
    ReadFingerprint read;           // the input as the encoder read it
    std::optional<int> space_saved; // percent of the input's size the MP3 saves, when known
};

// Encodes the audio of `input` (opened, at its first frame) into mp3_path as planned, every
// sample scaled by the plan's gain when it has one. The MP3 appears under its name only when
// complete (written under a temporary name, synced, renamed); on failure nothing is left. Every
// input sample is kept: the length tag makes decoders that honour it return exactly the input's
// length. With no_click the audio is followed by a short fade from its last sample to silence,
// inside the padding that those decoders drop, so that a player that ignores the tag does not end
// on a step (a click) when the audio does not end in silence. Reports progress to the sink; prints
// nothing else.
EncodeResult encode_mp3(const Plan& plan, InputWav& input, const std::string& mp3_path,
                        const EncodeOptions& options, Sink& sink);

} // namespace tarvik

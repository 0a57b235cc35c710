// SPDX-License-Identifier: GPL-3.0-or-later
// WAV to MP3 through the encoder library: the streaming encode of one planned input.
#pragma once

#include "common/files.hpp"
#include "encoder/input_file.hpp"
#include "encoder/plan.hpp"
#include "encoder/sink.hpp"

#include <atomic>
#include <memory>
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
// nothing else. The same as encode_unplaced, then place_mp3.
EncodeResult encode_mp3(const Plan& plan, InputWav& input, const std::string& mp3_path,
                        const EncodeOptions& options, Sink& sink);

// An MP3 complete under its temporary name beside its destination, not yet in place: it may be
// read by that name, then placed, or dropped (the file is removed with it).
struct UnplacedMp3 {
    std::unique_ptr<AtomicFile> file; // null on failure or when cancelled
    std::string reason;               // why it failed; empty when cancelled
    explicit operator bool() const { return file != nullptr; }
};

// The encode of encode_mp3 up to its placing: the input is left open, to be read again after
// a rewind or finished by place_mp3.
UnplacedMp3 encode_unplaced(const Plan& plan, InputWav& input, const std::string& mp3_path,
                            const EncodeOptions& options, Sink& sink);

// Puts an encoded MP3 into place (synced, moved through options.place) and finishes the read of
// its input, whose fingerprint the result carries.
EncodeResult place_mp3(UnplacedMp3& mp3, InputWav& input, const EncodeOptions& options);

} // namespace tarvik

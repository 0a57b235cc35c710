// SPDX-License-Identifier: GPL-3.0-or-later
// The temporary silent WAV of a silence run: the room it needs, and its writing.
#pragma once

#include "encoder/plan.hpp"

#include <atomic>
#include <optional>
#include <string>

namespace tarvik {

// Where the temporary WAV of a silence goes. A program in a folder of its own (a portable
// tree) keeps it beside itself as "%.8d.wav", or in the temporary directory when it cannot
// write there. A program in a system folder writes nothing beside itself: the WAV goes to
// the MP3's folder under a hidden temporary name (see platform/temporaries), which the next
// run there removes should a killed run have left it.
struct WavePlace {
    std::string dir;
    bool hidden = false;
};
WavePlace silence_wave_place(const std::string& program_dir, const std::string& mp3_dir);

// The bytes the temporary WAV of a silence needs (nullopt: more than 64 bits can count) and
// the free space of the directory it goes to (of the nearest one above it while it is yet
// to be made).
struct SilenceSpace {
    std::optional<long long> needed;
    bool known = false; // the free space could be read
    long double free_bytes = 0;
    // Fits, or the free space is unknown (the write itself will tell).
    bool fits() const {
        return needed && (!known || static_cast<long double>(*needed) <= free_bytes);
    }
};

SilenceSpace silence_space(const Plan& plan, long long seconds, const std::string& dir);

// A size in bytes as "123 bytes" or "1.5 GiB".
std::string size_text(long double bytes);

struct SilenceWave {
    enum Result { Written, NotCreated, NotWritten, NotClosed, Stopped };
    std::string path; // set once every frame was written (NotClosed: the file is gone again)
    Result result = NotCreated;
};

// Writes `seconds` of digital silence at the plan's input rate (one channel for mono, else
// two) into a new, uniquely named file of `place`, streaming it in blocks. Once *cancel is
// set it stops and removes the partial file. On any failure nothing is left.
SilenceWave generate_wave(const Plan& plan, long long seconds, const WavePlace& place,
                          const std::atomic<bool>* cancel = nullptr);

} // namespace tarvik

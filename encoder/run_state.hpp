// SPDX-License-Identifier: GPL-3.0-or-later
// The console encoder's run state: the settings and flags the command line sets, and the
// process facts every mode needs. One instance lives in main and is passed down.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 255; // exit status -1, as an 8-bit status
inline constexpr int kExitPartial = 1;   // a batch that ran but had failed files
inline constexpr int kMaxJobs = 64;

inline constexpr const char* kUnit = "tarvik"; // source unit named in error captions

// Channel-mode codes of the encoder library.
enum : uint8_t { kModeStereo = 0, kModeJointStereo = 1, kModeDual = 2, kModeMono = 3 };

// -loudness: measure each line, and with a target (LUFS) bring it there.
struct LoudnessRequest {
    bool measure = false;
    std::optional<double> target;
};

// Encoding settings as the command line asks for them; never changed by a run: each job's
// plan (encoder/plan.hpp) derives what the encoder is set to.
struct RunSettings {
    uint32_t sample_rate = 44100;
    uint8_t mode = kModeMono;
    uint16_t bit_rate = 64;      // kbps, as requested: fitted to each output's MPEG class
    bool bit_rate_given = false; // typed: never doubled for stereo, and the VBR floor
    int32_t vbr_quality = -1;    // -1: constant bit rate; 0..9: VBR quality
    bool show_bar = true;        // false: numeric percentage instead of the bar
    bool no_click = false;       // drop the encoder's final flushed frames
    int jobs = 1;                // parallel batch jobs (0: one per core)
    LoudnessRequest loudness;
};

struct RunFlags {
    bool wav_mode = false;
    bool batch_mode = false;
    bool lips = false;
    bool delete_wav = false;
    bool recurse = false; // batch: every folder below the input folder too
    bool update = false;  // batch: skip the lines whose outputs are up to date
    bool sample_rate_given = false;
    bool mode_given = false;
};

struct Context {
    RunSettings settings;
    RunFlags flags;
    std::string program_dir;    // the executable's directory, no trailing '/'
    std::string current_dir;    // the working directory at start
    std::string results_target; // -json: the results file ("-": standard output); empty: none
    std::string lips_language;  // -lang: the lip-sync tool's language; empty: none given
};

// Cores this process may run on (1 to kMaxJobs).
int available_cores();

} // namespace tarvik

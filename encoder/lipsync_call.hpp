// SPDX-License-Identifier: GPL-3.0-or-later
// Running the lip-sync tool for an encoded WAV and putting its VLP beside the MP3.
#pragma once

#include "common/files.hpp"
#include "encoder/lipsync_languages.hpp"
#include "encoder/sink.hpp"

#include <atomic>
#include <string>

namespace tarvik {

struct VlpRequest {
    std::string program_dir;          // where the tool lies
    std::string wav_path;             // the WAV just encoded
    std::string mp3_path;             // the MP3 just written
    bool silence_mode = false;        // no line text: the WAV is a temporary silence
    double audio_seconds = 0;         // sets the tool's time limit; the VLP must cover it
    bool capture_tool_output = false; // the tool's output goes into `out` instead of the console
    const std::atomic<bool>* cancel = nullptr; // set: stop the tool at once
    AtomicFile::Place place;                   // moves the VLP into place (default: rename)
    std::string language; // -lang: passed on as --language; empty: the tool's default
};

struct VlpResult {
    bool ok = false;
    std::string reason; // why there is no VLP, as a sentence; empty when stopped or refused
};

// Where the VLP of an MP3 goes: beside it, with its name and ".vlp".
std::string vlp_path_for(const std::string& mp3_path);

// The line's text file the tool is given when it stands beside the WAV (NAME.txt for
// NAME.wav); empty when there is none.
std::string line_text_for(const std::string& wav_path);

// Starts the tool on the WAV, asking it to write a fresh file in the MP3's folder, waits
// (within a time limit proportional to the audio's length) and moves the result beside the
// MP3. Succeeds only when the tool exited with 0 and what it wrote reads back as a VLP
// covering the audio, and that VLP is in place.
VlpResult generate_vlp(const VlpRequest& request, Sink& out);

} // namespace tarvik

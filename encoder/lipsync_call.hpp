// Running the lip-sync tool for an encoded WAV and putting its VLP beside the MP3.
#pragma once

#include "common/console_out.hpp"

#include <atomic>
#include <string>

namespace tarvik {

inline constexpr const char* kLipsyncToolName = "lipsync";

struct VlpRequest {
    std::string program_dir; // where the tool lies
    std::string wav_path;    // the WAV just encoded
    std::string mp3_path;    // the MP3 just written
    bool silence_mode = false; // the VLP takes the MP3's name (the WAV's is temporary)
    double audio_seconds = 0;  // sets the tool's time limit
    bool capture_tool_output = false; // the tool's output goes into `out` instead of the console
    const std::atomic<bool>* cancel = nullptr; // set: stop the tool at once
};

// The VLP path the tool writes for a WAV: the name cut at its last '.', then ".vlp".
std::string vlp_path_for(const std::string& wav_path);

// Starts the tool on the WAV, waits (within a time limit proportional to the audio's
// length), checks that a non-empty VLP was written and moves it beside the MP3.
// True when a non-empty VLP was produced.
bool generate_vlp(const VlpRequest& request, ConsoleOut& out);

} // namespace tarvik

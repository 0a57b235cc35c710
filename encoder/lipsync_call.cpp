// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/lipsync_call.hpp"

#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "lipsync/vlp.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/temporaries.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace tarvik {

namespace {

// True when the file holds a VLP whose length matches the audio's (a VLP of another take
// does not).
bool vlp_covers(const std::string& path, double audio_seconds) {
    const auto read = lipsync::read_vlp_file(path); // an empty file is no VLP either
    if (!read.track) return false;
    const double tolerance = 0.1 + 0.01 * audio_seconds;
    return audio_seconds <= 0 || std::fabs(read.track->seconds() - audio_seconds) <= tolerance;
}

} // namespace

std::string vlp_path_for(const std::string& mp3_path) {
    return strip_extension(mp3_path).value_or(mp3_path) + ".vlp";
}

std::string line_text_for(const std::string& wav_path) {
    const std::string dir = dir_part(wav_path, true).value_or("");
    const std::string name = file_part(wav_path).value_or("");
    const std::string text = dir + strip_extension(name).value_or(name) + ".txt";
    return readable_file_size(text) ? text : std::string();
}

VlpResult generate_vlp(const VlpRequest& request, Sink& out) {
    VlpResult vlp;
    const std::string tool = lipsync_tool_path(request.program_dir);
    if (!platform::exists(tool)) {
        vlp.reason = "Make sure the lipsync tool stands in the same directory as tarvik";
        return vlp;
    }
    out.write("Generating VLP file...\n");
    out.flush();

    const std::string destination = vlp_path_for(request.mp3_path);
    // A new, empty, uniquely named file beside the VLP; the tool writes its VLP over it.
    const auto fresh = platform::create_temporary_file(directory_of(destination));
    if (!fresh) {
        vlp.reason = format_text("Cannot create a file in \"%s\"",
                                 escaped(directory_of(destination)).c_str());
        out.write(vlp.reason + "\n");
        return vlp;
    }
    std::vector<std::string> args;
    if (!request.language.empty()) args = {"--language", request.language};
    if (!request.silence_mode)
        if (const std::string text = line_text_for(request.wav_path); !text.empty())
            args.insert(args.end(), {"--text", text});
    // -q: the tool's own success line would name the fresh file, not the VLP the user gets.
    args.insert(args.end(), {"-q", "-o", *fresh, request.wav_path});

    // Generous, but a stuck tool must not hold the run for ever. TARVIK_LIPSYNC_TIME_LIMIT
    // (seconds) replaces the limit, for slow machines or tests.
    double limit = 60.0 + 10.0 * request.audio_seconds;
    if (const char* env = std::getenv("TARVIK_LIPSYNC_TIME_LIMIT");
        env && parse_leading_int(env) > 0)
        limit = static_cast<double>(parse_leading_int(env));
    std::string captured;
    const auto result = platform::run_and_wait(
        tool, args, limit, request.capture_tool_output ? &captured : nullptr, request.cancel);
    out.write(captured);
    if (result.timed_out)
        vlp.reason =
            format_text("The lip-sync tool did not finish within %.0f s and was stopped.", limit);
    else if (!result.started)
        vlp.reason = "The lip-sync tool could not be started.";
    else if (!result.cancelled && !result.exited)
        vlp.reason = format_text("The lip-sync tool failed (ended by signal %d).", result.signal);
    else if (!result.cancelled && result.exit_status != 0)
        vlp.reason = format_text("The lip-sync tool failed (exit status %d).", result.exit_status);
    else if (!result.cancelled && !vlp_covers(*fresh, request.audio_seconds))
        vlp.reason = "The lip-sync tool wrote no VLP file covering the audio.";
    if (!vlp.reason.empty()) out.write(vlp.reason + "\n");

    // Only what this run's tool wrote, complete, counts; never a file left from before.
    errno = 0;
    vlp.ok =
        vlp.reason.empty() && !result.cancelled && place_file(request.place, *fresh, destination);
    if (!vlp.ok) {
        if (vlp.reason.empty() && errno != 0) {
            vlp.reason = format_text("Cannot rename \"%s\" to \"%s\": %s", escaped(*fresh).c_str(),
                                     escaped(destination).c_str(), std::strerror(errno));
            out.write(vlp.reason + "\n");
        }
        platform::remove_file(*fresh);
        if (result.started && !result.cancelled) out.write("\n-Failure\n");
        return vlp;
    }
    out.write("\n-Success\n");
    return vlp;
}

} // namespace tarvik

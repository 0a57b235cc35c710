#include "encoder/lipsync_call.hpp"

#include "common/files.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "platform/process.hpp"

#include <cstdlib>
#include <unistd.h>

namespace tarvik {

std::string vlp_path_for(const std::string& wav_path) {
    const std::string dir = dir_part(wav_path, true).value_or("");
    const std::string name = file_part(wav_path).value_or("");
    return dir + strip_extension(name).value_or(name) + ".vlp";
}


bool generate_vlp(const VlpRequest& request, ConsoleOut& out) {
    const std::string tool = join_path(request.program_dir, kLipsyncToolName);
    if (::access(tool.c_str(), F_OK) != 0) return false;
    out.print("Generating VLP file...\n");
    out.flush();

    // Generous, but a stuck tool must not hold the run for ever. TARVIK_LIPSYNC_TIME_LIMIT
    // (seconds) replaces the limit, for slow machines or tests.
    double limit = 60.0 + 10.0 * request.audio_seconds;
    if (const char* env = std::getenv("TARVIK_LIPSYNC_TIME_LIMIT"); env && parse_leading_int(env) > 0)
        limit = static_cast<double>(parse_leading_int(env));
    std::string captured;
    const auto result = platform::run_and_wait(tool, {request.wav_path}, limit,
                                               request.capture_tool_output ? &captured : nullptr,
                                               request.cancel);
    out.write(captured);
    if (!result.started) return false;
    if (result.timed_out)
        out.print("The lip-sync tool ran longer than %.0f seconds and was stopped.\n", limit);

    const std::string vlp = vlp_path_for(request.wav_path);
    const long long size = file_size_of(vlp);
    if (size < 0) return false;
    if (size == 0) {
        out.print("\n-Failure\n");
        ::unlink(vlp.c_str());
        return false;
    }
    out.print("\n-Success\n");

    if (request.silence_mode) {
        move_file(vlp, strip_extension(request.mp3_path).value_or(request.mp3_path) + ".vlp");
        return true;
    }
    const std::string wav_dir = directory_of(request.wav_path);
    const std::string mp3_dir = directory_of(request.mp3_path);
    // The same directory, whatever path or letter case names it, already holds the VLP
    // beside the MP3. (Names differing only in case are one directory only where the file
    // system folds case; here that is asked of the file system, not guessed from the text.)
    if (wav_dir == mp3_dir || same_file(wav_dir, mp3_dir)) return true;
    move_file(vlp, join_path(mp3_dir, file_part(vlp).value_or(vlp)));
    return true;
}

} // namespace tarvik

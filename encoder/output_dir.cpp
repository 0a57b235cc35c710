#include "encoder/output_dir.hpp"

#include "common/messages.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "encoder/run_state.hpp"
#include "platform/system.hpp"

#include <cstdio>
#include <sys/stat.h>

namespace tarvik {

bool output_dir_acceptable(const std::string& dir, int line) {
    if (dir.find('"') == std::string::npos) return true;
    show_error(kUnit, line,
               "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these "
               "characters consecutively when specifying output_dir: \\\"");
    return false;
}

bool prepare_output_dir(std::string& dir, int line) {
    if (!output_dir_acceptable(dir, line)) return false;
    if (dir.empty()) {
        show_error(kUnit, line,
                   "The output directory is empty!\nName a directory, or leave it out.");
        return false;
    }
    if (make_dir_path(dir, true) > 0)
        std::printf("\nDirectory created: \"%s\"\n", escaped(dir).c_str());
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        !platform::directory_writable(dir)) {
        show_error(
            kUnit, line,
            format_text("Cannot use \"%s\" as the output directory: it is not a directory that "
                        "can be written to.",
                        escaped(dir).c_str()));
        return false;
    }
    return true;
}

} // namespace tarvik

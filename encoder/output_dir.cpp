#include "encoder/output_dir.hpp"

#include "common/messages.hpp"
#include "encoder/run_state.hpp"

namespace tarvik {

bool output_dir_acceptable(const std::string& dir, int line) {
    if (dir.find('"') == std::string::npos) return true;
    show_error(kUnit, line,
               "Hey! Wanna make me crash huh? Bad idea dude...\nPlease, don't use these "
               "characters consecutively when specifying output_dir: \\\"");
    return false;
}

} // namespace tarvik

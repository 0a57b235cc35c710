#include "encoder/output_dir.hpp"

#include "common/paths.hpp"
#include "platform/system.hpp"

#include <sys/stat.h>

namespace tarvik {

OutputDir output_dir_acceptable(const std::string& dir) {
    return dir.find('"') == std::string::npos ? OutputDir::Ready : OutputDir::Quoted;
}

PreparedDir prepare_output_dir(std::string& dir) {
    if (output_dir_acceptable(dir) != OutputDir::Ready) return {OutputDir::Quoted};
    if (dir.empty()) return {OutputDir::Empty};
    const bool created = make_dir_path(dir, true) > 0;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !platform::directory_writable(dir))
        return {OutputDir::NotWritable, created};
    return {OutputDir::Ready, created};
}

} // namespace tarvik

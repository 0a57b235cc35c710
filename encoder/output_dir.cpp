// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/output_dir.hpp"

#include "common/paths.hpp"
#include "platform/files.hpp"
#include "platform/system.hpp"

namespace tarvik {

OutputDir output_dir_acceptable(const std::string& dir) {
    return dir.find('"') == std::string::npos ? OutputDir::Ready : OutputDir::Quoted;
}

PreparedDir prepare_output_dir(std::string& dir) {
    if (output_dir_acceptable(dir) != OutputDir::Ready) return {OutputDir::Quoted};
    if (dir.empty()) return {OutputDir::Empty};
    const bool created = make_dir_path(dir, true) > 0;
    const auto status = platform::file_status(dir);
    if (!status || status->type != platform::FileType::Directory ||
        !platform::directory_writable(dir))
        return {OutputDir::NotWritable, created};
    return {OutputDir::Ready, created};
}

} // namespace tarvik

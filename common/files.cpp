// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/files.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"

#include <cstring>

namespace tarvik {

std::string AtomicFile::error() const {
    const int e = error_number();
    switch (failed_step()) {
    case Step::None:
        return {};
    case Step::Create:
        return format_text("cannot create a file in \"%s\": %s",
                           escaped(directory_of(destination())).c_str(), errno_text(e).c_str());
    case Step::Write:
        return format_text("cannot write \"%s\": %s", escaped(destination()).c_str(),
                           errno_text(e).c_str());
    case Step::Sync:
        return format_text("cannot write \"%s\" to disk: %s", escaped(destination()).c_str(),
                           errno_text(e).c_str());
    case Step::Place:
        if (e == 0) return {};
        return format_text("cannot rename \"%s\" to \"%s\": %s", escaped(temp_path()).c_str(),
                           escaped(destination()).c_str(), std::strerror(e));
    }
    return {};
}

std::optional<long long> readable_file_size(const std::string& path) {
    const platform::RegularFile file = platform::open_regular_file(path);
    if (!file) return std::nullopt;
    return static_cast<long long>(file.status.identity.size);
}

long long file_size_of(const std::string& path) {
    const auto status = platform::file_status(path);
    return status ? static_cast<long long>(status->identity.size) : -1;
}

} // namespace tarvik

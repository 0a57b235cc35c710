// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarvik::platform {

std::string executable_path() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

std::string current_directory() {
    std::error_code ec;
    return std::filesystem::current_path(ec).string();
}

bool directory_writable(const std::string& dir) {
    return !dir.empty() && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

bool is_system_folder(const std::string& dir) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::weakly_canonical(dir, ec);
    if (ec || path.empty()) return true;
    const std::filesystem::path usr = "/usr";
    const auto [end, _] = std::mismatch(usr.begin(), usr.end(), path.begin(), path.end());
    if (end == usr.end()) return true;
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid();
}

int usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    const int n = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    return n > 0 ? n : static_cast<int>(std::thread::hardware_concurrency());
}

std::string temp_directory() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

} // namespace tarvik::platform

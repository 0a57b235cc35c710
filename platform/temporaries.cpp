// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/temporaries.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::platform {

namespace {

// The programs whose temporaries are recognised; a temporary's process must run one of them
// under this name (as /proc/<pid>/comm shows it).
constexpr std::string_view kPrograms[] = {"tarvik", "lipsync"};
constexpr std::string_view kRandomPart = "XXXXXX";

struct Owner {
    std::string_view program;
    pid_t pid;
};

// The program and pid in a name ".<program>-<pid>-" followed by mkstemp's six letters and
// digits, and nothing else; nullopt for any other name.
std::optional<Owner> owner_of(std::string_view name) {
    if (!name.starts_with('.')) return std::nullopt;
    name.remove_prefix(1);
    for (const std::string_view program : kPrograms) {
        if (!name.starts_with(program) || name.substr(program.size(), 1) != "-") continue;
        const std::string_view rest = name.substr(program.size() + 1);
        const size_t dash = rest.find('-');
        if (dash == std::string_view::npos || dash == 0 || rest[0] == '0') continue;
        const std::string_view digits = rest.substr(0, dash), random = rest.substr(dash + 1);
        pid_t pid = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
        const bool random_ok =
            random.size() == kRandomPart.size() &&
            std::all_of(random.begin(), random.end(), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            });
        if (ec == std::errc() && end == digits.data() + digits.size() && pid > 0 && random_ok)
            return Owner{program, pid};
    }
    return std::nullopt;
}

// True when the process is gone: it does not exist, or it runs another program. A process
// whose program cannot be read (no /proc) counts as alive.
bool owner_gone(const Owner& owner) {
    if (::kill(owner.pid, 0) != 0 && errno == ESRCH) return true;
    std::ifstream comm("/proc/" + std::to_string(owner.pid) + "/comm");
    std::string running;
    return std::getline(comm, running) && running != owner.program;
}

} // namespace

std::string temporary_name(const std::string& program) {
    return "." + program + "-" + std::to_string(::getpid()) + "-" + std::string(kRandomPart);
}

TemporaryFile open_temporary_file(const std::string& dir, const std::string& program) {
    std::string templ = (std::filesystem::path(dir) / temporary_name(program)).string();
    FileDescriptor fd(::mkostemp(templ.data(), O_CLOEXEC));
    if (!fd.valid()) return {};
    return {std::move(fd), std::move(templ)};
}

std::optional<std::string> create_temporary_file(const std::string& dir,
                                                 const std::string& program) {
    TemporaryFile file = open_temporary_file(dir, program);
    if (!file.fd.valid()) return std::nullopt;
    file.fd.reset();
    return std::move(file.path);
}

void remove_stale_temporaries(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int fd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const auto owner = owner_of(e->d_name);
        struct stat st {};
        if (owner && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && owner_gone(*owner))
            ::unlinkat(fd, e->d_name, 0);
    }
    ::closedir(d);
}

} // namespace tarvik::platform

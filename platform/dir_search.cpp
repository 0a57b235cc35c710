// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dir_search.hpp"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <locale.h>
#include <sys/stat.h>

namespace tarvik::platform {

bool wildcard_match(const std::string& pattern, const std::string& name) {
    // fnmatch gives '[' and the backslash meanings of their own; here they stand for themselves. In
    // the C locale (for this thread only) '?' is one byte and case folds ASCII letters alone,
    // whatever locale the program set.
    std::string literal;
    literal.reserve(pattern.size());
    for (const char c : pattern) {
        if (c == '[' || c == '\\') literal += '\\';
        literal += c;
    }
    static const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    const locale_t previous = ::uselocale(c_locale);
    const bool match = ::fnmatch(literal.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
    ::uselocale(previous);
    return match;
}

std::vector<DirEntry> find_entries(const std::string& path_or_pattern, size_t max_entries) {
    std::vector<DirEntry> out;
    if (path_or_pattern.empty()) return out;
    const size_t sep = path_or_pattern.rfind('/');
    const std::string dir =
        sep == std::string::npos ? "." : (sep == 0 ? "/" : path_or_pattern.substr(0, sep));
    const std::string pattern =
        sep == std::string::npos ? path_or_pattern : path_or_pattern.substr(sep + 1);

    if (pattern.find_first_of("*?") == std::string::npos) {
        struct stat st {};
        const std::string& full = path_or_pattern;
        if (!pattern.empty() && ::stat(full.c_str(), &st) == 0)
            out.push_back({pattern, S_ISDIR(st.st_mode)});
        else if (pattern.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            out.push_back({dir, true});
        return out;
    }

    DIR* d = ::opendir(dir.c_str());
    if (!d) return out;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (!wildcard_match(pattern, name)) continue;
        bool is_dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            is_dir = ::stat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({name, is_dir});
        if (max_entries && out.size() >= max_entries) break;
    }
    ::closedir(d);
    return out;
}

std::optional<DirListing> list_directory(const std::string& dir, const std::string& pattern) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return std::nullopt;
    const int fd = ::dirfd(d);
    DirListing out;
    struct stat self {};
    if (::fstat(fd, &self) != 0) {
        ::closedir(d);
        return std::nullopt;
    }
    out.device = self.st_dev;
    out.inode = self.st_ino;
    bool failed = false;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) {
            failed = errno != 0;
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        unsigned char type = e->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) // file systems that do not say: ask, without following a link
            type = ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ? DT_UNKNOWN
                   : S_ISDIR(st.st_mode)                                   ? DT_DIR
                   : S_ISLNK(st.st_mode)                                   ? DT_LNK
                                                                           : DT_REG;
        if (type == DT_DIR) {
            out.subdirectories.push_back(name);
            continue;
        }
        if (!wildcard_match(pattern, name)) continue;
        if (type == DT_LNK && ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
            continue; // a link to a directory is not walked into, nor taken as a file
        out.matches.push_back(name);
    }
    ::closedir(d);
    if (failed) return std::nullopt;
    return out;
}

} // namespace tarvik::platform

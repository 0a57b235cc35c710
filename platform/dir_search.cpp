// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/dir_search.hpp"

#include <dirent.h>
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

} // namespace tarvik::platform

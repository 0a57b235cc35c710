// SPDX-License-Identifier: GPL-3.0-or-later
// Directory search: the entries of one directory whose names match a wildcard pattern
// ('*' and '?', without regard to case), like the Windows find-first/find-next pair.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarvik::platform {

struct DirEntry {
    std::string name; // the entry's real name, as stored
    bool is_directory = false;
};

// "dir/pattern" or a plain path. A path without wildcards finds that one entry when it
// exists. Stops after max_entries (0: no limit). "." and ".." are never returned.
std::vector<DirEntry> find_entries(const std::string& path_or_pattern, size_t max_entries = 0);

// Wildcard match of a whole name, '*' any run, '?' one byte, ASCII letters without case.
bool wildcard_match(const std::string& pattern, const std::string& name);

} // namespace tarvik::platform

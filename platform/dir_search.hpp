// SPDX-License-Identifier: GPL-3.0-or-later
// Directory search: the entries of one directory whose names match a wildcard pattern
// ('*' and '?', without regard to case), like the Windows find-first/find-next pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// One directory's entries for a walk down a tree, read without following links to
// directories: its subdirectories (a link to one is neither a subdirectory nor a match), and
// the other entries whose names match the pattern (files, links to files, dangling links).
// Names are as stored, in no particular order; "." and ".." are never returned.
struct DirListing {
    std::vector<std::string> matches;
    std::vector<std::string> subdirectories;
    uint64_t device = 0; // the directory read, so that a walk can tell one it has seen
    uint64_t inode = 0;
};
// nullopt when the directory cannot be opened or read.
std::optional<DirListing> list_directory(const std::string& dir, const std::string& pattern);

// Wildcard match of a whole name, '*' any run, '?' one byte, ASCII letters without case.
bool wildcard_match(const std::string& pattern, const std::string& name);

} // namespace tarvik::platform

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/tree.hpp"

#include "common/paths.hpp"
#include "platform/dir_search.hpp"

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

namespace tarvik {

namespace {

constexpr const char* kWavPattern = "*.wav";

} // namespace

const std::string& WavList::folder(size_t i) const {
    const auto after = std::upper_bound(folders_.begin(), folders_.end(), i,
                                        [](size_t n, const Folder& f) { return n < f.first; });
    return std::prev(after)->relative;
}

std::string_view WavList::name(size_t i) const {
    return std::string_view(names_.data() + starts_[i]); // ends at its '\0'
}

std::string WavList::relative(size_t i) const {
    const std::string& dir = folder(i);
    return dir.empty() ? std::string(name(i)) : join_path(dir, name(i));
}

std::vector<std::string> WavList::folders() const {
    std::vector<std::string> out;
    out.reserve(folders_.size());
    for (const Folder& f : folders_)
        out.push_back(f.relative);
    return out;
}

void WavList::add_folder(std::string relative, std::vector<std::string> names) {
    if (names.empty()) return;
    std::sort(names.begin(), names.end());
    folders_.push_back({std::move(relative), starts_.size()});
    for (const std::string& n : names) {
        starts_.push_back(names_.size());
        names_.append(n).push_back('\0');
    }
}

std::optional<WavList> list_wav_folder(const std::string& dir, size_t max_files) {
    const auto entries = platform::find_entries(join_path(dir, kWavPattern), max_files + 1);
    if (entries.empty()) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& e : entries)
        names.push_back(e.name);
    WavList list;
    list.add_folder("", std::move(names));
    return list;
}

std::optional<WavTree> list_wav_tree(const std::string& dir) {
    WavTree tree;
    std::set<std::pair<uint64_t, uint64_t>> seen;
    // Depth first, without recursion: the folders still to walk, the next one last.
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        std::string relative = std::move(pending.back());
        pending.pop_back();
        auto listing = platform::list_directory(relative.empty() ? dir : join_path(dir, relative),
                                                kWavPattern);
        if (!listing) {
            if (relative.empty()) return std::nullopt;
            tree.unreadable.push_back(std::move(relative));
            continue;
        }
        if (!seen.insert({listing->device, listing->inode}).second) continue;
        std::sort(listing->subdirectories.begin(), listing->subdirectories.end(), std::greater<>());
        for (const std::string& sub : listing->subdirectories)
            pending.push_back(relative.empty() ? sub : join_path(relative, sub));
        tree.list.add_folder(std::move(relative), std::move(listing->matches));
    }
    if (tree.list.size() == 0) return std::nullopt;
    return tree;
}

} // namespace tarvik

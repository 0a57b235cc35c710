// SPDX-License-Identifier: GPL-3.0-or-later
// The WAVs a batch converts: those of one folder, or of a whole tree of folders. Each folder is
// named once and the WAVs' names are kept in one block of text, so a list of a hundred
// thousand files stays a few megabytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// The WAVs in the order a batch converts them, folder by folder.
class WavList {
  public:
    size_t size() const { return starts_.size(); }
    size_t folder_count() const { return folders_.size(); }
    // The WAV's folder relative to the listed folder ("" for that folder itself, else
    // "a/b" without a trailing '/').
    const std::string& folder(size_t i) const;
    std::string_view name(size_t i) const;
    // "a/b/name", or the name alone in the listed folder itself.
    std::string relative(size_t i) const;
    // Every folder's relative name, in the list's order, each once.
    std::vector<std::string> folders() const;
    // Appends a folder and its WAVs, which it sorts by name (byte order: runs are
    // reproducible). A folder without WAVs is not kept.
    void add_folder(std::string relative, std::vector<std::string> names);

  private:
    struct Folder {
        std::string relative;
        size_t first = 0; // its first WAV's index
    };
    std::vector<Folder> folders_;
    std::string names_;          // every name, each ended by '\0'
    std::vector<size_t> starts_; // where each name starts in names_
};

// The *.wav entries of dir (matched without regard to case), sorted by name. Stops after
// max_files + 1 entries so a caller can refuse an oversized batch. nullopt when the
// directory cannot be read or holds no match.
std::optional<WavList> list_wav_folder(const std::string& dir, size_t max_files);

// The *.wav files of dir and of every folder below it, at any depth: a folder's own WAVs
// first, then its subfolders in name order, each walked the same way. Links to folders are
// not followed (a link to a file is listed like a file), and a folder reached twice (a bind
// mount) is walked once. nullopt when dir cannot be read or the tree holds no WAV.
struct WavTree {
    WavList list;
    std::vector<std::string> unreadable; // folders below dir that could not be read
};
std::optional<WavTree> list_wav_tree(const std::string& dir);

} // namespace tarvik

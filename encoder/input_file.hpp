// The input WAV as the run found it: whether it holds audio at all, whether it is shorter
// than its header says (a recording still being written), and which file it was, so that
// -rem deletes only the very file that was encoded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvik {

// What names a file's content: device, inode, size and modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtime_sec = 0;
    int64_t mtime_nsec = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file a path names now (links followed); nullopt when it is gone.
std::optional<FileIdentity> identity_of(const std::string& path);

enum class WavContent {
    Audio,      // holds sample frames
    Empty,      // opens as audio but yields no frames
    Truncated,  // its data chunk claims more bytes than the file holds
    Unreadable, // not audio that can be read
};

// Looks at the WAV's header and frame count.
WavContent inspect_wav_content(const std::string& path);

// Deletes the WAV only when it is still the file that was encoded. False (nothing deleted)
// when it is gone, was replaced or changed since, or cannot be deleted.
bool delete_if_unchanged(const std::string& path, const FileIdentity& encoded);

} // namespace tarvik

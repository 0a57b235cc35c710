// SPDX-License-Identifier: GPL-3.0-or-later
// File services over the system's calls: descriptors that close themselves, opening a
// regular file without blocking, what a path names, removing, syncing, free space and the
// permissions of new files. Every program reaches the file system's system calls here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::platform {

// What names a file's content: device, inode, size and modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtime_sec = 0;
    int64_t mtime_nsec = 0;
    bool operator==(const FileIdentity&) const = default;
};

enum class FileType { Regular, Directory, Other };

struct FileStatus {
    FileType type = FileType::Other;
    FileIdentity identity;
};

// An open file descriptor, closed when the object ends.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives the descriptor up to the caller (who closes it); the object is empty afterwards.
    int release();
    // Closes the descriptor now; false when close reported an error (errno set).
    bool reset();

    // Reads up to `size` bytes at the current position, or at `offset` without moving it
    // (interruptions retried): the count read, 0 at the end, -1 with errno set on failure.
    long long read(void* buffer, size_t size) const;
    long long read_at(void* buffer, size_t size, long long offset) const;
    // Reads until `size` bytes or the end of the file; false with errno set on failure.
    bool read_all(std::string& into, size_t limit) const;
    // Writes all of `text` (short writes and interruptions continued): 0, or the errno of the
    // failure.
    int write_all(std::string_view text) const;
    // The status of the open file; nullopt with errno set on failure.
    std::optional<FileStatus> status() const;

  private:
    int fd_ = -1;
};

// A regular file opened for reading, or why it could not be.
struct RegularFile {
    FileDescriptor fd;      // open, blocking, close-on-exec; not valid on failure
    FileStatus status;      // of the file opened
    int error = 0;          // errno of the step that failed; 0 when the file was not regular
    bool directory = false; // failed because the path names a directory
    explicit operator bool() const { return fd.valid(); }
    // "" when opened; else the system's text for `error`, "is a directory" or "is not a
    // regular file".
    std::string error_text() const;
};

// Opens a regular file for reading without waiting on a FIFO or device: opens it
// non-blocking and close-on-exec, checks through the descriptor (so the name cannot be
// swapped in between) that it is a regular file, then makes reads blocking again.
RegularFile open_regular_file(const std::string& path);

// Creates a new file for reading and writing that no other name had (O_EXCL), with
// `mode` less the umask: the descriptor, or an invalid one with errno set (EEXIST: taken).
FileDescriptor create_new_file(const std::string& path, unsigned mode);
// An unnamed file in `dir` for reading and writing, gone with its descriptor (O_TMPFILE, or
// a named one removed at once where the file system lacks it); invalid on failure.
FileDescriptor create_unnamed_file(const std::string& dir);

// The status of what a path names, links followed; nullopt when it cannot be read.
std::optional<FileStatus> file_status(const std::string& path);
// True when the path names something, links followed (a dangling link does not count).
bool exists(const std::string& path);
// True when the name itself exists, a dangling link included.
bool name_exists(const std::string& path);
// True when the path names a file this process may execute.
bool is_executable(const std::string& path);
// True when both paths name the same existing file (hard links and symlinks included).
bool same_file(const std::string& a, const std::string& b);

// Removes a file's name: 0, or the errno of the failure.
int remove_file(const std::string& path);
// Syncs a file's contents to disk; false on failure (errno set).
bool sync_file(const std::string& path);
// Syncs a directory's entries to disk, so that a rename into it survives a crash.
void sync_directory(const std::string& dir);

// Free bytes in the file system that holds `dir` for an unprivileged writer; nullopt when
// unknown.
std::optional<long double> free_space(const std::string& dir);

// The process's file-creation mask, read without changing it.
unsigned process_umask();
// The permissions a file created by open(2) with 0666 gets: 0666 less the umask.
unsigned new_file_mode();

// The file a chain of symbolic links finally names (the path itself when it is none); a
// dangling link gives the file it names, which a write then creates.
std::string link_target(const std::string& path);

// The reason a file operation failed, from errno: "file too large" for a file grown past
// the size limit (ulimit -f), else the system's text.
std::string error_text(int error);

// This process's id.
int process_id();

// Appends `text` to a file in one piece, creating it (0666 less the umask) when missing: 0,
// or the errno of the failure. A failed append cuts the file back to its size before, so it
// never ends in part of the text; a file this call created is removed again.
int append_whole(const std::string& path, const std::string& text);

} // namespace tarvik::platform

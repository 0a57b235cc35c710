// File operations that never leave a half-written file under its final name.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace tarvik {

// A file written under a temporary name beside its destination and renamed into place
// only by commit(). Destroying it without a commit removes the temporary file.
class AtomicFile {
  public:
    explicit AtomicFile(std::string destination);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false when the directory cannot take it.
    bool open();
    std::FILE* stream() { return file_; }
    const std::string& temp_path() const { return temp_path_; }
    const std::string& destination() const { return destination_; }
    // Flushes and closes the stream (the temporary file stays). False on any write error.
    bool close();
    // Moves a synced temporary file over the destination; false with errno set on failure.
    using Place = std::function<bool(const std::string& temp, const std::string& destination)>;
    // Closes if needed, syncs to disk, renames over the destination (through `place` when
    // given) and syncs the directory. False (and the temporary file removed) on any failure,
    // with error() saying which step failed and why.
    bool commit(const Place& place = {});
    const std::string& error() const { return error_; }
    // Removes the temporary file.
    void abandon();

  private:
    std::string destination_;
    std::string temp_path_;
    std::FILE* file_ = nullptr;
    bool write_error_ = false;
    std::string error_;
};

// Moves temp over destination through `place`, or by a plain rename when none is given;
// false with errno set (0 when `place` refused without an error).
bool place_file(const AtomicFile::Place& place, const std::string& temp,
                const std::string& destination);

// The reason a file operation failed, from errno: "file too large" for a file grown past the
// size limit (ulimit -f), else the system's text.
std::string errno_text(int error);

// A template for mkstemp: a hidden temporary file of this run in dir, which a later run
// recognises and removes once this one is gone. Short, so that it fits beside any name.
std::string temporary_template(const std::string& dir);

// True when both paths name the same existing file (hard links and symlinks included).
bool same_file(const std::string& a, const std::string& b);

// Size of a regular file that this process can open for reading; nullopt for anything else
// (missing, unreadable, a directory, a FIFO or device, which could block or never end).
std::optional<long long> readable_file_size(const std::string& path);

// Size of a file in bytes, or -1 when it cannot be read.
long long file_size_of(const std::string& path);

// Syncs a file's contents to disk; false on failure.
bool sync_file(const std::string& path);

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a file that is complete or absent: it is written under a hidden temporary name
// beside its destination (see temporaries.hpp), synced, moved over the destination and the
// directory synced. A new file gets the permissions open(2) gives: 0666 less the umask.
// While the temporary file exists a stop that ends the process removes it (see signals.hpp).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarvik::platform {

class RemoveOnStop;

class AtomicFile {
  public:
    struct Options {
        // The program named in the temporary name: "tarvik" or "lipsync", whose stale
        // temporaries later runs remove, or another name ("tarvik-gui") whose are left.
        std::string program = "tarvik";
        // A destination that is a symbolic link stays one: the file it finally names is
        // replaced (see link_target in files.hpp).
        bool through_links = false;
    };
    // The step that failed.
    enum class Step { None, Create, Write, Sync, Place };
    // Moves a synced temporary file over the destination; false with errno set on failure
    // (0 when it refused without an error).
    using Place = std::function<bool(const std::string& temp, const std::string& destination)>;

    explicit AtomicFile(std::string destination);
    AtomicFile(std::string destination, Options options);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false when the directory cannot take it.
    bool open();
    std::FILE* stream() { return file_; }
    // Writes all the bytes to the stream; false on an error.
    bool write(std::string_view bytes);
    // The temporary file's path (still known after it is removed, for messages).
    const std::string& temp_path() const { return temp_path_; }
    // The path as given, and the file replaced (the same unless through_links).
    const std::string& destination() const { return destination_; }
    const std::string& target() const { return target_; }
    // Flushes and closes the stream (the temporary file stays, and may still be changed by
    // name). False on any write error.
    bool close();
    // Closes if needed, syncs to disk, moves the file over the target (through `place` when
    // given, else by rename) and syncs the directory. False (and the temporary file removed)
    // on any failure, with failed_step() and error() saying which step failed and why.
    bool commit(const Place& place = {});
    // Removes the temporary file.
    void abandon();

    Step failed_step() const { return failed_; }
    // The errno of the failed step (0 when `place` refused without one).
    int error_number() const { return error_; }

  private:
    void fail(Step step, int error);

    std::string destination_;
    std::string target_;
    std::string program_;
    std::string temp_path_;
    bool temp_exists_ = false;
    std::FILE* file_ = nullptr;
    Step failed_ = Step::None;
    int error_ = 0;
    std::unique_ptr<RemoveOnStop> guard_; // registers the temporary file while it exists
};

// Moves temp over destination through `place`, or by a plain rename when none is given;
// false with errno set (0 when `place` refused without an error).
bool place_file(const AtomicFile::Place& place, const std::string& temp,
                const std::string& destination);

// The whole file in one call. Returns the failed step and its errno (Step::None: written).
struct AtomicWrite {
    AtomicFile::Step failed_step = AtomicFile::Step::None;
    int error = 0;
    bool ok() const { return failed_step == AtomicFile::Step::None; }
};
AtomicWrite write_file_atomically(const std::string& destination, std::string_view bytes,
                                  const AtomicFile::Options& options = {});

} // namespace tarvik::platform

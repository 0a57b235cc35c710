// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/atomic_file.hpp"

#include "platform/files.hpp"
#include "platform/signals.hpp"
#include "platform/temporaries.hpp"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::platform {

namespace {
// The folder of a path, "." for a bare name.
std::string folder_of(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}
} // namespace

AtomicFile::AtomicFile(std::string destination) : AtomicFile(std::move(destination), {}) {}

AtomicFile::AtomicFile(std::string destination, Options options)
    : destination_(std::move(destination)),
      target_(options.through_links ? link_target(destination_) : destination_),
      program_(std::move(options.program)) {}

AtomicFile::~AtomicFile() {
    abandon();
}

void AtomicFile::fail(Step step, int error) {
    if (failed_ != Step::None) return; // the first failure is the one that counts
    failed_ = step;
    error_ = error;
}

bool AtomicFile::open() {
    std::string templ =
        (std::filesystem::path(folder_of(target_)) / temporary_name(program_)).string();
    const StopSignalsHeld held;
    const int fd = ::mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(Step::Create, errno);
        return false;
    }
    guard_ = std::make_unique<RemoveOnStop>(templ);
    temp_path_ = templ;
    temp_exists_ = true;
    // mkstemp makes the file private; it gets the permissions of any new file.
    ::fchmod(fd, new_file_mode());
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        fail(Step::Create, errno);
        ::close(fd);
        abandon();
        return false;
    }
    return true;
}

bool AtomicFile::write(std::string_view bytes) {
    if (!file_) return false;
    if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size())
        return true;
    fail(Step::Write, errno);
    return false;
}

bool AtomicFile::close() {
    if (!file_) return failed_ != Step::Write;
    errno = 0;
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    const int flush_error = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed) fail(Step::Write, flush_error ? flush_error : errno);
    return failed_ != Step::Write;
}

bool AtomicFile::commit(const Place& place) {
    if (!temp_exists_) return false;
    if (!close()) {
        abandon();
        return false;
    }
    if (!sync_file(temp_path_)) {
        fail(Step::Sync, errno);
        abandon();
        return false;
    }
    {
        const StopSignalsHeld held;
        errno = 0;
        if (!place_file(place, temp_path_, target_)) {
            fail(Step::Place, errno);
            abandon();
            return false;
        }
        temp_exists_ = false;
        guard_.reset();
    }
    sync_directory(folder_of(target_));
    return true;
}

void AtomicFile::abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    const StopSignalsHeld held;
    if (temp_exists_) {
        ::unlink(temp_path_.c_str());
        temp_exists_ = false;
    }
    guard_.reset();
}

bool place_file(const AtomicFile::Place& place, const std::string& temp,
                const std::string& destination) {
    return place ? place(temp, destination) : ::rename(temp.c_str(), destination.c_str()) == 0;
}

AtomicWrite write_file_atomically(const std::string& destination, std::string_view bytes,
                                  const AtomicFile::Options& options) {
    AtomicFile file(destination, options);
    if (file.open() && file.write(bytes)) file.commit();
    return {file.failed_step(), file.error_number()};
}

} // namespace tarvik::platform

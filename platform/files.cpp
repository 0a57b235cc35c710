// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tarvik::platform {

namespace {
FileStatus status_from(const struct stat& st) {
    FileStatus s;
    s.type = S_ISREG(st.st_mode)   ? FileType::Regular
             : S_ISDIR(st.st_mode) ? FileType::Directory
                                   : FileType::Other;
    s.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                  static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
                  static_cast<int64_t>(st.st_mtim.tv_nsec)};
    return s;
}
} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileDescriptor::reset() {
    if (fd_ < 0) return true;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

long long FileDescriptor::read(void* buffer, size_t size) const {
    ssize_t n;
    while ((n = ::read(fd_, buffer, size)) < 0 && errno == EINTR) {
    }
    return n;
}

long long FileDescriptor::read_at(void* buffer, size_t size, long long offset) const {
    ssize_t n;
    while ((n = ::pread(fd_, buffer, size, static_cast<off_t>(offset))) < 0 && errno == EINTR) {
    }
    return n;
}

int FileDescriptor::write_all(std::string_view text) const {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(n);
    }
    return 0;
}

bool FileDescriptor::read_all(std::string& into, size_t limit) const {
    char block[65536];
    while (into.size() < limit) {
        const long long n = read(block, std::min(sizeof block, limit - into.size()));
        if (n < 0) return false;
        if (n == 0) break;
        into.append(block, static_cast<size_t>(n));
    }
    return true;
}

std::optional<FileStatus> FileDescriptor::status() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return status_from(st);
}

std::string RegularFile::error_text() const {
    if (fd.valid()) return {};
    if (error != 0) return std::strerror(error);
    return directory ? "is a directory" : "is not a regular file";
}

RegularFile open_regular_file(const std::string& path) {
    RegularFile file;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        file.error = errno;
        return file;
    }
    const auto status = fd.status();
    if (!status) {
        file.error = errno;
        return file;
    }
    file.status = *status;
    if (status->type != FileType::Regular) {
        file.directory = status->type == FileType::Directory;
        return file;
    }
    if (::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK) != 0) {
        file.error = errno;
        return file;
    }
    file.fd = std::move(fd);
    return file;
}

FileDescriptor create_new_file(const std::string& path, unsigned mode) {
    return FileDescriptor(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
}

FileDescriptor create_unnamed_file(const std::string& dir) {
    FileDescriptor fd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.valid()) return fd;
    std::string name = dir + "/tarvik-gui-run-XXXXXX";
    fd = FileDescriptor(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.valid()) ::unlink(name.c_str());
    return fd;
}

std::optional<FileStatus> file_status(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return status_from(st);
}

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

bool name_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

bool is_executable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

bool same_file(const std::string& a, const std::string& b) {
    const auto sa = file_status(a), sb = file_status(b);
    return sa && sb && sa->identity.device == sb->identity.device &&
           sa->identity.inode == sb->identity.inode;
}

int remove_file(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

bool sync_file(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    const bool ok = ::fsync(fd.get()) == 0;
    return fd.reset() && ok;
}

void sync_directory(const std::string& dir) {
    const FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

std::optional<long double> free_space(const std::string& dir) {
    struct statvfs fs {};
    if (::statvfs(dir.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<long double>(fs.f_bavail) * static_cast<long double>(fs.f_frsize);
}

unsigned process_umask() {
    // Read from /proc rather than by setting it, which would briefly change it for other
    // threads; only where /proc does not show it is it set and put back.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Umask:"))
            return static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 8));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

unsigned new_file_mode() {
    return 0666 & ~process_umask();
}

std::string link_target(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path at = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(at, ec))) break;
        const fs::path target = fs::read_symlink(at, ec);
        if (ec || target.empty()) break;
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return at.string();
}

std::string error_text(int error) {
    return error == EFBIG ? "file too large" : std::strerror(error);
}

int process_id() {
    return static_cast<int>(::getpid());
}

int append_whole(const std::string& path, const std::string& text) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
    bool created = false;
    if (!fd.valid() && errno == ENOENT) {
        fd = create_new_file(path, 0666);
        created = fd.valid();
    }
    if (!fd.valid()) return errno;
    struct stat before {};
    if (::fstat(fd.get(), &before) != 0) return errno;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (created)
                ::unlink(path.c_str());
            else if (::ftruncate(fd.get(), before.st_size) != 0) {
                // The part written stays; nothing more can be done about it here.
            }
            return error;
        }
        done += static_cast<size_t>(n);
    }
    return fd.reset() ? 0 : errno;
}

} // namespace tarvik::platform

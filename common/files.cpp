#include "common/files.hpp"

#include "common/paths.hpp"

#include "common/text.hpp"
#include "platform/temporaries.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {
mode_t creation_mode() {
    // The mode a plain fopen would give: 0666 less the process's umask, read once. It is read
    // from /proc rather than by setting it, which would briefly change it for other threads.
    static const mode_t mode = [] {
        mode_t mask = 022;
        if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f))
                if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
            std::fclose(f);
        }
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

void sync_directory_of(const std::string& path) {
    const int fd = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
} // namespace

AtomicFile::AtomicFile(std::string destination) : destination_(std::move(destination)) {}

AtomicFile::~AtomicFile() {
    abandon();
}

std::string errno_text(int error) {
    return error == EFBIG ? "file too large" : std::strerror(error);
}

bool AtomicFile::open() {
    const std::string dir = directory_of(destination_);
    std::string templ = temporary_template(dir);
    const int fd = ::mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0) {
        error_ = format_text("cannot create a file in \"%s\": %s", escaped(dir).c_str(),
                             errno_text(errno).c_str());
        return false;
    }
    ::fchmod(fd, creation_mode());
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        ::close(fd);
        ::unlink(templ.c_str());
        return false;
    }
    temp_path_ = templ;
    return true;
}

bool AtomicFile::close() {
    if (!file_) return !write_error_;
    errno = 0;
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    const int flush_error = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed) {
        write_error_ = true;
        if (error_.empty())
            error_ = format_text("cannot write \"%s\": %s", escaped(destination_).c_str(),
                                 errno_text(flush_error ? flush_error : errno).c_str());
    }
    return !write_error_;
}

bool AtomicFile::commit(const Place& place) {
    if (temp_path_.empty()) return false;
    if (!close()) {
        abandon();
        return false;
    }
    if (!sync_file(temp_path_)) {
        error_ = format_text("cannot write \"%s\" to disk: %s", escaped(destination_).c_str(),
                             errno_text(errno).c_str());
        abandon();
        return false;
    }
    errno = 0;
    if (!place_file(place, temp_path_, destination_)) {
        if (errno != 0)
            error_ = format_text("cannot rename \"%s\" to \"%s\": %s", escaped(temp_path_).c_str(),
                                 escaped(destination_).c_str(), std::strerror(errno));
        abandon();
        return false;
    }
    temp_path_.clear();
    sync_directory_of(destination_);
    return true;
}

void AtomicFile::abandon() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_path_.empty()) {
        ::unlink(temp_path_.c_str());
        temp_path_.clear();
    }
}

bool place_file(const AtomicFile::Place& place, const std::string& temp,
                const std::string& destination) {
    return place ? place(temp, destination) : ::rename(temp.c_str(), destination.c_str()) == 0;
}

std::string temporary_template(const std::string& dir) {
    return join_path(dir, platform::temporary_name("tarvik"));
}

bool sync_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<long long> readable_file_size(const std::string& path) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) return std::nullopt;
    return static_cast<long long>(st.st_size);
}

long long file_size_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

} // namespace tarvik

#include "encoder/input_file.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// True when a RIFF WAV's data chunk claims more bytes than follow it in the file. A size of
// 0 or 0xFFFFFFFF means "unknown" (a writer that could not seek back) and is not a claim.
bool data_chunk_cut_short(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool cut = false;
    std::array<unsigned char, 12> head{};
    if (::fstat(fd, &st) == 0 && ::pread(fd, head.data(), head.size(), 0) == 12 &&
        std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WAVE", 4) == 0) {
        off_t pos = 12;
        // Chunks until "data"; a bounded walk, so a hostile header cannot loop for long.
        for (int i = 0; i < 4096 && pos + 8 <= st.st_size; ++i) {
            std::array<unsigned char, 8> chunk{};
            if (::pread(fd, chunk.data(), chunk.size(), pos) != 8) break;
            const uint32_t size = le32(chunk.data() + 4);
            if (std::memcmp(chunk.data(), "data", 4) == 0) {
                const off_t available = st.st_size - (pos + 8);
                cut = size != 0 && size != 0xFFFFFFFFu && off_t(size) > available;
                break;
            }
            pos += 8 + off_t(size) + (size & 1);
        }
    }
    ::close(fd);
    return cut;
}

} // namespace

std::optional<FileIdentity> identity_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                        static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
                        static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

WavContent inspect_wav_content(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return WavContent::Unreadable;
    sf_close(file);
    if (info.frames <= 0) return WavContent::Empty;
    return data_chunk_cut_short(path) ? WavContent::Truncated : WavContent::Audio;
}

bool delete_if_unchanged(const std::string& path, const FileIdentity& encoded) {
    const auto now = identity_of(path);
    if (!now || !(*now == encoded)) return false;
    return ::unlink(path.c_str()) == 0;
}

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/input_file.hpp"

#include "common/text.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarvik {

namespace {

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

enum class DataChunk { Consistent, CutShort, Unknown, Understated };

// Walks a RIFF WAV's chunks: does its data chunk claim more bytes than the file holds, not
// state its size (0 or 0xFFFFFFFF), or leave bytes after it that are not well-formed chunks
// (a recorder that updated its header now and then, then stopped)? Anything that is not a
// RIFF WAV is left to libsndfile and counts as consistent.
DataChunk walk_chunks(const HashingReader& file, sf_count_t file_size) {
    std::array<unsigned char, 12> head{};
    if (file.peek(head.data(), head.size(), 0) != 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVE", 4) != 0)
        return DataChunk::Consistent;
    sf_count_t pos = 12;
    bool after_data = false;
    // A bounded walk, so that a hostile header cannot loop for long; a file with more chunks
    // than that is not trusted to end well.
    int i = 0;
    for (; i < 4096 && pos + 8 <= file_size; ++i) {
        std::array<unsigned char, 8> chunk{};
        if (file.peek(chunk.data(), chunk.size(), pos) != 8) break;
        const uint32_t size = le32(chunk.data() + 4);
        if (after_data) {
            const bool named = std::all_of(chunk.begin(), chunk.begin() + 4,
                                           [](unsigned char c) { return c >= 0x20 && c <= 0x7e; });
            if (!named || pos + 8 + sf_count_t(size) > file_size) return DataChunk::Understated;
        } else if (std::memcmp(chunk.data(), "data", 4) == 0) {
            if (size == 0 || size == 0xFFFFFFFFu) return DataChunk::Unknown;
            if (sf_count_t(size) > file_size - (pos + 8)) return DataChunk::CutShort;
            after_data = true;
        }
        pos += 8 + sf_count_t(size) + (size & 1);
    }
    // Past the data, the chunks must reach the end of the file (a last pad byte may be
    // missing; a few stray bytes shorter than a chunk header are no audio).
    return after_data && (i == 4096 || pos > file_size + 1) ? DataChunk::Understated
                                                            : DataChunk::Consistent;
}

} // namespace

bool InputWav::open(const std::string& path) {
    if (!reader_.open(path)) return false;
    size_ = reader_.length();
    // The decoder reads through the hashing reader from here on: what it reads to inspect the
    // header is what the encoder would read first.
    audio_ = AudioSource::from_virtual_io(HashingReader::io, &reader_);
    const AudioFacts& audio = audio_->facts();
    if (!audio_->ok() || audio.sample_rate < 1) {
        audio_.reset();
        check_ = {WavContent::Unreadable};
        return true;
    }
    facts_ = {static_cast<uint32_t>(audio.sample_rate), audio.channels, audio.frames};
    if (audio.frames <= 0) {
        check_ = {WavContent::Empty};
        return true;
    }
    switch (walk_chunks(reader_, size_)) {
    case DataChunk::CutShort:
        check_ = {WavContent::Truncated};
        break;
    case DataChunk::Unknown:
        check_ = {WavContent::Audio, DataSize::Unknown};
        break;
    case DataChunk::Understated:
        check_ = {WavContent::Audio, DataSize::Understated};
        break;
    case DataChunk::Consistent:
        check_ = {WavContent::Audio};
        break;
    }
    return true;
}

ReadFingerprint InputWav::finish() {
    audio_.reset();
    return reader_.finish();
}

std::string length_warning(const WavCheck& check, const std::string& path) {
    if (check.size == DataSize::Stated) return {};
    return format_text(check.size == DataSize::Unknown
                           ? "WARNING! The header of \"%s\" does not state its length (still "
                             "being recorded?): it is encoded as far as it goes\n"
                           : "WARNING! The header of \"%s\" states less audio than the file "
                             "holds: only the audio it states is encoded\n",
                       escaped(path).c_str());
}

void ContentHash::mix(uint64_t word) {
    hash_ = (hash_ ^ word) * 1099511628211ull;
    hash_ ^= hash_ >> 32;
}

void ContentHash::add(const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    length_ += size;
    for (; pending_size_ != 0 && size > 0; --size) {
        pending_ |= uint64_t{*p++} << (8 * pending_size_);
        if (++pending_size_ == 8) {
            mix(pending_);
            pending_ = 0;
            pending_size_ = 0;
        }
    }
    for (; size >= 8; p += 8, size -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        mix(word);
    }
    for (; size > 0; --size)
        pending_ |= uint64_t{*p++} << (8 * pending_size_++);
}

uint64_t ContentHash::value() const {
    ContentHash end = *this;
    end.mix(pending_);
    end.mix(length_);
    return end.hash_;
}

SF_VIRTUAL_IO HashingReader::io = {
    [](void* r) { return static_cast<HashingReader*>(r)->length(); },
    [](sf_count_t offset, int whence, void* r) {
        return static_cast<HashingReader*>(r)->seek(offset, whence);
    },
    [](void* buffer, sf_count_t count, void* r) {
        return static_cast<HashingReader*>(r)->read_at(buffer, count);
    },
    [](const void*, sf_count_t, void*) { return sf_count_t{0}; },
    [](void* r) { return static_cast<HashingReader*>(r)->tell(); },
};

bool HashingReader::open(const std::string& path) {
    platform::RegularFile file = platform::open_regular_file(path);
    if (!file) return false;
    fd_ = std::move(file.fd);
    opened_ = file.status.identity;
    return true;
}

sf_count_t HashingReader::length() const {
    const auto status = fd_.status();
    return status ? static_cast<sf_count_t>(status->identity.size) : 0;
}

sf_count_t HashingReader::peek(void* buffer, sf_count_t count, sf_count_t offset) const {
    return fd_.read_at(buffer, static_cast<size_t>(count), offset);
}

sf_count_t HashingReader::seek(sf_count_t offset, int whence) {
    const sf_count_t base = whence == SEEK_CUR ? position_ : whence == SEEK_END ? length() : 0;
    if (base + offset < 0) return -1;
    position_ = base + offset;
    return position_;
}

sf_count_t HashingReader::read_at(void* buffer, sf_count_t count) {
    if (!hash_up_to(position_)) return 0;
    const sf_count_t got = fd_.read_at(buffer, static_cast<size_t>(count), position_);
    if (got <= 0) return 0;
    const sf_count_t end = position_ + got;
    if (end > hashed_) {
        hash_.add(static_cast<const unsigned char*>(buffer) + (hashed_ - position_),
                  static_cast<size_t>(end - hashed_));
        hashed_ = end;
    }
    position_ = end;
    return got;
}

bool HashingReader::hash_up_to(sf_count_t end) {
    std::vector<unsigned char> block;
    while (hashed_ < end && !failed_) {
        block.resize(static_cast<size_t>(std::min<sf_count_t>(end - hashed_, 1 << 16)));
        const sf_count_t got = fd_.read_at(block.data(), block.size(), hashed_);
        if (got <= 0) {
            failed_ = true;
            break;
        }
        hash_.add(block.data(), static_cast<size_t>(got));
        hashed_ += got;
    }
    return !failed_;
}

ReadFingerprint HashingReader::finish() {
    const sf_count_t size = length();
    hash_up_to(size);
    const auto now = fd_.status();
    const bool same = now && now->identity == opened_;
    return {opened_, hash_.value(), failed_ || !same || hashed_ != size};
}

std::string delete_encoded_input(const std::string& path, const WavCheck& check,
                                 const ReadFingerprint& read) {
    if (check.size == DataSize::Unknown)
        return "its header does not state its length: it may still be being recorded";
    if (check.size == DataSize::Understated)
        return "its header states less audio than the file holds";
    if (read.changed) return "it changed while it was being encoded";
    // Same device, inode, size and time, and the same bytes: a take rewritten in place at the
    // same size on a file system with coarse times differs in its hash.
    HashingReader now;
    if (!now.open(path)) return "it is no longer the file that was encoded";
    const ReadFingerprint again = now.finish();
    if (!(again.opened == read.opened) || again.hash != read.hash || again.changed)
        return "it changed since it was encoded";
    if (const int error = platform::remove_file(path); error != 0)
        return std::string("cannot delete it: ") + std::strerror(error);
    return {};
}

} // namespace tarvik

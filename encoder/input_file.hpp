// SPDX-License-Identifier: GPL-3.0-or-later
// The input WAV as the run found it: whether it holds audio at all, whether its header states
// the audio's length truthfully, which file it was, and what bytes the encoder read, so that
// -rem deletes only the very file that was encoded, unchanged.
#pragma once

#include "common/audio_source.hpp"
#include "encoder/plan.hpp"
#include "platform/files.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sndfile.h>
#include <string>

namespace tarvik {

enum class WavContent {
    Audio,      // holds sample frames
    Empty,      // opens as audio but yields no frames
    Truncated,  // its data chunk claims more bytes than the file holds
    Unreadable, // not audio that can be read
};

// What the header says of the audio's length.
enum class DataSize {
    Stated,      // stated, and the file ends in well-formed chunks after the audio
    Unknown,     // 0 or 0xFFFFFFFF: a recorder that is still writing, or could not seek back
    Understated, // the bytes after the stated audio are not chunks: more audio than stated
};

struct WavCheck {
    WavContent content = WavContent::Unreadable;
    DataSize size = DataSize::Stated;
};

// The warning line for an input whose header does not state its length truthfully (the
// audio is encoded as far as the header or the file goes); empty for any other input.
std::string length_warning(const WavCheck& check, const std::string& path);

// A fast 64-bit hash of a byte stream fed in pieces of any size (FNV-style, a word at a
// time): the same bytes give the same value however they were split. It tells a changed
// file from the one that was encoded; it is no defence against a forger.
class ContentHash {
  public:
    void add(const void* data, size_t size);
    uint64_t value() const;

  private:
    void mix(uint64_t word);
    uint64_t hash_ = 14695981039346656037ull;
    uint64_t pending_ = 0; // bytes of an unfinished word
    unsigned pending_size_ = 0;
    uint64_t length_ = 0;
};

// The input as the encoder read it: the file it was when opened, a hash of all its bytes in
// file order, and whether it grew or changed while it was read.
struct ReadFingerprint {
    platform::FileIdentity opened;
    uint64_t hash = 0;
    bool changed = false;
};

// An input file opened once for libsndfile, hashing every byte in file order as the decoder
// reads it (a gap the decoder skips is read and hashed too).
class HashingReader {
  public:
    HashingReader() = default;
    HashingReader(const HashingReader&) = delete;
    HashingReader& operator=(const HashingReader&) = delete;

    // Opens a regular file without blocking (a FIFO is refused, never waited on).
    bool open(const std::string& path);
    // libsndfile's virtual I/O over this reader; pass `this` as its user data.
    static SF_VIRTUAL_IO io;
    // Hashes what the decoder did not read, and says whether the file changed meanwhile.
    ReadFingerprint finish();

    sf_count_t read_at(void* buffer, sf_count_t count);
    sf_count_t seek(sf_count_t offset, int whence);
    sf_count_t length() const;
    sf_count_t tell() const { return position_; }
    // Reads bytes at an offset without moving the position or adding them to the hash.
    sf_count_t peek(void* buffer, sf_count_t count, sf_count_t offset) const;

  private:
    bool hash_up_to(sf_count_t end);
    platform::FileDescriptor fd_;
    platform::FileIdentity opened_;
    sf_count_t position_ = 0;
    sf_count_t hashed_ = 0; // bytes [0, hashed_) are in the hash
    ContentHash hash_;
    bool failed_ = false;
};

// An input WAV opened once for a whole conversion: its size, its audio facts and content check
// and the decoder the encoder reads from all come from one open file, which every byte read
// is hashed from.
class InputWav {
  public:
    // Opens a regular file without blocking and looks at its header, its chunks and its frame
    // count. False only when it is not a regular file this process can read.
    bool open(const std::string& path);
    // The size in bytes when it was opened.
    long long size() const { return size_; }
    const WavCheck& check() const { return check_; }
    const InputFacts& facts() const { return facts_; }
    // The audio, at its first frame; null unless the content is readable audio.
    AudioSource* audio() { return audio_ ? &*audio_ : nullptr; }
    sf_count_t length() const { return reader_.length(); }
    // Back to the first frame for a second pass. The bytes read again are not hashed twice:
    // the hash stays that of the file's bytes in file order.
    bool rewind() { return audio_ && audio_->rewind(); }
    // Closes the decoder; hashes what it did not read, and says whether the file changed.
    ReadFingerprint finish();

  private:
    HashingReader reader_;
    std::optional<AudioSource> audio_;
    long long size_ = 0;
    WavCheck check_;
    InputFacts facts_;
};

// Deletes the WAV that was encoded when it is provably the same file with the same bytes:
// its header stated its length, it did not change while it was read (from the one open that
// inspected and encoded it), and the identity and a fresh hash of the file the path names now
// match. Returns the reason it was kept, or empty when deleted.
std::string delete_encoded_input(const std::string& path, const WavCheck& check,
                                 const ReadFingerprint& read);

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
// The record -update keeps of finished lines, in one SQLite database in the (top) output
// folder. For each WAV, by its path relative to the input folder, it holds what the outputs
// were made from (a hash of the WAV's bytes and of its line text, the settings, the program's
// version) and what they were once in place (size, modification time and a hash of the MP3
// and of the VLP). A line is up to date while all of it still holds. Every SQLite call of
// the program is in this module; results are plain values.
#pragma once

#include "encoder/run_state.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvik {

// The database's name: hidden, so that no listing takes it for a line.
inline constexpr const char* kRecordName = ".tarvik.db";
// How long a run waits for another run that holds the record before it gives up.
inline constexpr int kRecordWaitMs = 2000;

// A regular file as a line's record keeps it.
struct FileFacts {
    int64_t size = 0;
    int64_t mtime_ns = 0;
    uint64_t hash = 0; // of every byte, as the encoder hashes its input (ContentHash)
    bool operator==(const FileFacts&) const = default;
};

// The facts of a regular file that can be read; nullopt otherwise.
std::optional<FileFacts> file_facts(const std::string& path);

struct LineRecord {
    uint64_t wav_hash = 0;
    std::optional<uint64_t> text_hash; // the line's text file, when -lips had one
    std::string settings;              // output_settings_key()
    std::string version;               // of the program that made the outputs
    FileFacts mp3;
    std::optional<FileFacts> vlp; // with -lips
};

// A line's files as this run names them. text and vlp are empty without -lips; text also
// when the line has no text file.
struct LineFiles {
    std::string wav, text, mp3, vlp;
};

// Every setting that changes the bytes of an MP3 or a VLP, as one text: a line recorded with
// another text is made again. A setting that changes what is made adds its field here.
// lips_language (-lang) adds one only when given, so records made without it stay valid.
std::string output_settings_key(const RunSettings& settings, bool lips,
                                const std::string& lips_language);

// Whether a recorded line still holds for its files as they are now, made with `settings` by
// this version: the MP3 (and VLP) have the recorded size, time and bytes, and the WAV and the
// text have the recorded bytes. Reads the files; the cheap checks come first.
bool line_up_to_date(const std::optional<LineRecord>& recorded, const LineFiles& files,
                     const std::string& settings);

class UpdateRecord {
  public:
    enum class State {
        Ready,   // opened, and held by this run until it ends
        Rebuilt, // the file there was damaged or not a record of ours: set aside, made anew
        Busy,    // another run holds it
        Failed,  // cannot be used (reason says why)
    };
    struct Opened {
        State state = State::Failed;
        std::unique_ptr<UpdateRecord> record; // Ready and Rebuilt
        std::string path;                     // the database
        std::string aside;                    // Rebuilt: where the unusable file went
        std::string reason;                   // Failed: why
    };
    // Opens or creates dir/kRecordName and takes it for this run alone: a second run waits up
    // to wait_ms for it, then gets Busy. The record is written through a write-ahead log with
    // synchronous=NORMAL: a line's row is written only after its files are synced in place,
    // so a row never stands for output that is not on disk, whenever the run is stopped; a
    // power cut may lose the last rows, which only makes those lines again.
    static Opened open(const std::string& dir, int wait_ms = kRecordWaitMs);

    ~UpdateRecord();
    UpdateRecord(const UpdateRecord&) = delete;
    UpdateRecord& operator=(const UpdateRecord&) = delete;

    // The line's record; nullopt when there is none or it cannot be read. Safe from any thread.
    std::optional<LineRecord> find(std::string_view key);
    // Records a finished line, replacing its old record, in one transaction; false when it
    // could not be written. Safe from any thread.
    bool store(std::string_view key, const LineRecord& line);

  private:
    explicit UpdateRecord(sqlite3* db);
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* find_ = nullptr;
    sqlite3_stmt* store_ = nullptr;
};

} // namespace tarvik

// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoder/update_record.hpp"

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/version.hpp"
#include "encoder/input_file.hpp"
#include "platform/files.hpp"

#include <bit>
#include <cstdio>
#include <sqlite3.h>

namespace tarvik {

namespace {

// "tarv": tells our record from any other SQLite database.
constexpr int32_t kApplicationId = 0x74617276;
constexpr int kSchemaVersion = 1;
// The one table; the stored text of its statement is compared on every open.
constexpr const char* kCreateTable =
    "CREATE TABLE line(wav BLOB PRIMARY KEY NOT NULL, wav_hash INTEGER NOT NULL, "
    "text_hash INTEGER, settings TEXT NOT NULL, version TEXT NOT NULL, "
    "mp3_size INTEGER NOT NULL, mp3_mtime INTEGER NOT NULL, mp3_hash INTEGER NOT NULL, "
    "vlp_size INTEGER, vlp_mtime INTEGER, vlp_hash INTEGER) WITHOUT ROWID";
constexpr const char* kFind =
    "SELECT wav_hash, text_hash, settings, version, mp3_size, mp3_mtime, mp3_hash, vlp_size, "
    "vlp_mtime, vlp_hash FROM line WHERE wav = ?1";
constexpr const char* kStore = "INSERT OR REPLACE INTO line VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                               "?8, ?9, ?10, ?11)";
// The files SQLite may keep beside a database.
constexpr const char* kCompanions[] = {"-wal", "-journal", "-shm"};

enum class Attempt { Ok, Busy, Unusable, Failed };

struct AttemptResult {
    Attempt kind = Attempt::Failed;
    sqlite3* db = nullptr;
    std::string reason;
};

Attempt kind_of(int code) {
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Attempt::Busy;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return Attempt::Unusable;
    default:
        return Attempt::Failed;
    }
}

// A statement that finalizes itself.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

// The first column of a query's first row as text ("" when none), and its result code.
struct Scalar {
    int code = SQLITE_OK;
    std::string text;
    long long number = 0;
};
Scalar scalar(sqlite3* db, const char* sql) {
    Statement st;
    Scalar out;
    out.code = sqlite3_prepare_v2(db, sql, -1, &st.s, nullptr);
    if (out.code != SQLITE_OK) return out;
    out.code = sqlite3_step(st.s);
    if (out.code == SQLITE_ROW) {
        if (const auto* t = sqlite3_column_text(st.s, 0))
            out.text = reinterpret_cast<const char*>(t);
        out.number = sqlite3_column_int64(st.s, 0);
        out.code = SQLITE_OK;
    } else if (out.code == SQLITE_DONE) {
        out.code = SQLITE_OK;
    }
    return out;
}

AttemptResult failed(sqlite3* db, int code, std::string reason = {}) {
    AttemptResult r;
    r.kind = reason.empty() ? kind_of(code) : Attempt::Unusable;
    r.reason = reason.empty() ? std::string(db ? sqlite3_errmsg(db) : sqlite3_errstr(code))
                              : std::move(reason);
    if (db) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    return r;
}

// Opens the database and takes it for this run: checks that it is ours (or makes it, when
// it is new and empty) inside an exclusive transaction, and only then turns on the
// write-ahead log, so that a database of another program is never changed.
AttemptResult attempt_open(const std::string& path, int wait_ms) {
    sqlite3* db = nullptr;
    int code =
        sqlite3_open_v2(path.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) return failed(db, code);
    sqlite3_busy_timeout(db, wait_ms);
    auto exec = [&](const char* sql) {
        return code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    };
    // Exclusive locking mode: the lock taken by the first transaction is kept until the run
    // closes the database, and the log needs no shared-memory file.
    if (exec("PRAGMA locking_mode=EXCLUSIVE") != SQLITE_OK || exec("BEGIN EXCLUSIVE") != SQLITE_OK)
        return failed(db, code);
    const Scalar application = scalar(db, "PRAGMA application_id");
    if (application.code != SQLITE_OK) return failed(db, application.code);
    const Scalar version = scalar(db, "PRAGMA user_version");
    const Scalar objects = scalar(db, "SELECT count(*) FROM sqlite_schema");
    const Scalar table = scalar(db, "SELECT sql FROM sqlite_schema WHERE name = 'line'");
    for (const Scalar* s : {&version, &objects, &table})
        if (s->code != SQLITE_OK) return failed(db, s->code);
    if (application.number == 0 && version.number == 0 && objects.number == 0) {
        const std::string create = format_text("PRAGMA application_id=%d; PRAGMA user_version=%d; ",
                                               kApplicationId, kSchemaVersion) +
                                   kCreateTable;
        if (exec(create.c_str()) != SQLITE_OK) return failed(db, code);
    } else if (application.number != kApplicationId || version.number != kSchemaVersion ||
               table.text != kCreateTable) {
        return failed(db, SQLITE_NOTADB, "not a record of this program");
    } else {
        const Scalar check = scalar(db, "PRAGMA quick_check");
        if (check.code != SQLITE_OK) return failed(db, check.code);
        if (check.text != "ok") return failed(db, SQLITE_CORRUPT, "damaged: " + check.text);
    }
    if (exec("COMMIT") != SQLITE_OK) return failed(db, code);
    const Scalar journal = scalar(db, "PRAGMA journal_mode=WAL");
    if (journal.code != SQLITE_OK) return failed(db, journal.code);
    if (exec("PRAGMA synchronous=NORMAL") != SQLITE_OK) return failed(db, code);
    AttemptResult ok;
    ok.kind = Attempt::Ok;
    ok.db = db;
    return ok;
}

// Moves an unusable database, with the journal or log that belongs to it, to `aside`.
bool set_aside(const std::string& path, const std::string& aside) {
    for (const char* suffix : kCompanions)
        std::remove((aside + suffix).c_str());
    if (std::rename(path.c_str(), aside.c_str()) != 0) return false;
    for (const char* suffix : kCompanions)
        if (platform::name_exists(path + suffix))
            std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    return true;
}

int64_t signed_hash(uint64_t h) {
    return std::bit_cast<int64_t>(h);
}

bool facts_match(const std::string& path, const std::optional<FileFacts>& recorded) {
    if (path.empty() || !recorded) return path.empty() && !recorded;
    const auto status = platform::file_status(path);
    if (!status || status->type != platform::FileType::Regular ||
        status->identity.size != recorded->size)
        return false;
    const auto now = file_facts(path);
    return now && *now == *recorded;
}

} // namespace

std::optional<FileFacts> file_facts(const std::string& path) {
    HashingReader reader;
    if (!reader.open(path)) return std::nullopt;
    const ReadFingerprint read = reader.finish();
    if (read.changed) return std::nullopt;
    return FileFacts{read.opened.size, read.opened.mtime_sec * 1000000000 + read.opened.mtime_nsec,
                     read.hash};
}

std::string output_settings_key(const RunSettings& s, bool lips, const std::string& lips_language) {
    return format_text("rate=%u mode=%u kbps=%u typed=%d vbr=%d noclick=%d lips=%d",
                       static_cast<unsigned>(s.sample_rate), static_cast<unsigned>(s.mode),
                       static_cast<unsigned>(s.bit_rate), s.bit_rate_given ? 1 : 0,
                       static_cast<int>(s.vbr_quality), s.no_click ? 1 : 0, lips ? 1 : 0) +
           // A loudness target changes the MP3; measuring alone does not.
           (s.loudness.target ? format_text(" loudness=%.2f", *s.loudness.target) : "") +
           (lips_language.empty() ? "" : " lang=" + lips_language);
}

bool line_up_to_date(const std::optional<LineRecord>& recorded, const LineFiles& files,
                     const std::string& settings) {
    if (!recorded || recorded->settings != settings || recorded->version != kVersion ||
        recorded->vlp.has_value() == files.vlp.empty() ||
        recorded->text_hash.has_value() == files.text.empty())
        return false;
    if (!facts_match(files.mp3, recorded->mp3) || !facts_match(files.vlp, recorded->vlp))
        return false;
    if (!files.text.empty()) {
        const auto text = file_facts(files.text);
        if (!text || text->hash != *recorded->text_hash) return false;
    }
    const auto wav = file_facts(files.wav);
    return wav && wav->hash == recorded->wav_hash;
}

UpdateRecord::Opened UpdateRecord::open(const std::string& dir, int wait_ms) {
    Opened opened;
    opened.path = join_path(dir, kRecordName);
    AttemptResult a = attempt_open(opened.path, wait_ms);
    if (a.kind == Attempt::Unusable) {
        opened.aside = opened.path + ".damaged";
        if (!set_aside(opened.path, opened.aside)) {
            opened.reason = a.reason;
            return opened;
        }
        a = attempt_open(opened.path, wait_ms);
        if (a.kind == Attempt::Ok) opened.state = State::Rebuilt;
    } else if (a.kind == Attempt::Ok) {
        opened.state = State::Ready;
    }
    if (a.kind == Attempt::Busy) opened.state = State::Busy;
    if (a.kind != Attempt::Ok) {
        opened.reason = a.reason;
        return opened;
    }
    opened.record.reset(new UpdateRecord(a.db));
    if (!opened.record->find_ || !opened.record->store_) {
        opened.state = State::Failed;
        opened.reason = sqlite3_errmsg(a.db);
        opened.record.reset();
    }
    return opened;
}

UpdateRecord::UpdateRecord(sqlite3* db) : db_(db) {
    sqlite3_prepare_v3(db_, kFind, -1, SQLITE_PREPARE_PERSISTENT, &find_, nullptr);
    sqlite3_prepare_v3(db_, kStore, -1, SQLITE_PREPARE_PERSISTENT, &store_, nullptr);
}

UpdateRecord::~UpdateRecord() {
    sqlite3_finalize(find_);
    sqlite3_finalize(store_);
    sqlite3_close(db_); // the last connection: the log is folded into the database and removed
}

std::optional<LineRecord> UpdateRecord::find(std::string_view key) {
    std::lock_guard lock(mutex_);
    sqlite3_reset(find_);
    sqlite3_bind_blob(find_, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(find_) != SQLITE_ROW) return std::nullopt;
    auto integer = [&](int column) { return sqlite3_column_int64(find_, column); };
    auto text = [&](int column) {
        const auto* t = sqlite3_column_text(find_, column);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    auto null = [&](int column) { return sqlite3_column_type(find_, column) == SQLITE_NULL; };
    LineRecord r;
    r.wav_hash = static_cast<uint64_t>(integer(0));
    if (!null(1)) r.text_hash = static_cast<uint64_t>(integer(1));
    r.settings = text(2);
    r.version = text(3);
    r.mp3 = {integer(4), integer(5), static_cast<uint64_t>(integer(6))};
    if (!null(7)) r.vlp = FileFacts{integer(7), integer(8), static_cast<uint64_t>(integer(9))};
    sqlite3_reset(find_);
    return r;
}

bool UpdateRecord::store(std::string_view key, const LineRecord& line) {
    std::lock_guard lock(mutex_);
    sqlite3_stmt* s = store_;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    sqlite3_bind_blob(s, 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, signed_hash(line.wav_hash));
    if (line.text_hash) sqlite3_bind_int64(s, 3, signed_hash(*line.text_hash));
    sqlite3_bind_text(s, 4, line.settings.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 5, line.version.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 6, line.mp3.size);
    sqlite3_bind_int64(s, 7, line.mp3.mtime_ns);
    sqlite3_bind_int64(s, 8, signed_hash(line.mp3.hash));
    if (line.vlp) {
        sqlite3_bind_int64(s, 9, line.vlp->size);
        sqlite3_bind_int64(s, 10, line.vlp->mtime_ns);
        sqlite3_bind_int64(s, 11, signed_hash(line.vlp->hash));
    }
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    return ok;
}

} // namespace tarvik

#include "SyncEngine/BaselineStore.h"

#include "SyncEngine/BaselineStoreError.h"
#include "SyncEngine/CancellationError.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Uuid.h"

#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>

#include <sys/statvfs.h>

namespace kelto {

namespace {

constexpr const char* createEntries = "CREATE TABLE IF NOT EXISTS entries(key TEXT PRIMARY KEY, kind INT, size INT, mtime INT)";
constexpr const char* createMeta = "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT)";
// The racy marks, kept apart so that `entries` and `meta` stay as every
// build has written them; made with the first save. No marks are a view that
// yields none, read without a page more: a run with nothing to do reads no
// more than before marks were kept.
constexpr const char* createRacy = "CREATE TABLE racy(key TEXT PRIMARY KEY)";
constexpr const char* createNoRacy = "CREATE VIEW racy AS SELECT NULL AS key WHERE 0";
constexpr int busyTimeoutMilliseconds = 5000;

std::string sideValue(const std::optional<std::string>& identity) {
    return identity ? "some:" + *identity : std::string("none");
}

// An optional sign and one or more ASCII digits, within 64 bits.
std::optional<std::int64_t> decimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    // Parse with the sign so that the 64-bit minimum is accepted.
    std::string digits = negative ? "-" : "";
    digits.append(text);  // not "-" + text: g++ 12 warns falsely (-Wrestrict) on that in release builds
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// Whether SQLite's answer says the file is damaged: not a database, corrupt
// (cut short, say), or of another format or layout (tables missing, a newer
// format). Moving it aside mends only these.
bool damaged(int code) {
    switch (code & 0xff) {
    case SQLITE_ERROR:  // the store's SQL is fixed: the file's tables are not the store's
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_NOTADB: return true;
    default: return false;
    }
}

// Whether the file, or the folder it would be in, lies on a file system
// mounted read-only: SQLite then says only that it cannot write.
bool onReadOnlyDisk(const std::string& file) {
    struct statvfs info {};
    if (::statvfs(file.c_str(), &info) != 0 &&
        ::statvfs(std::filesystem::path(file).parent_path().c_str(), &info) != 0)
        return false;
    return (info.f_flag & ST_RDONLY) != 0;
}

bool noPermission(int code, int systemError) {
    if (systemError == EACCES || systemError == EPERM) return true;
    // Not the other read-only cases: a journal left to roll back, say.
    return code == SQLITE_READONLY || code == SQLITE_READONLY_DIRECTORY || (code & 0xff) == SQLITE_PERM ||
           (code & 0xff) == SQLITE_AUTH;
}

// SQLite's words, and the system's where they add to them.
std::string reasonOf(const std::string& message, int systemError) {
    if (systemError == 0) return message;
    const std::string system = std::generic_category().message(systemError);
    return message.find(system) == std::string::npos ? message + ": " + system : message;
}

// SQLite sees an absolute path, never a "file:" text it would read as a URI.
std::string databasePath(const std::filesystem::path& url) {
    return std::filesystem::absolute(url).string();
}

}  // namespace

BaselineStore::BaselineStore(const std::filesystem::path& url, bool readOnly) : file_(url.string()) {
    // Only a file known to be absent reads as no baseline.
    std::error_code lookError;
    const bool exists = std::filesystem::exists(url, lookError);
    if (lookError) {
        // A link that loops leads to no baseline; anything else may hide a whole one.
        if (lookError.value() == ELOOP) throw BaselineStoreError::unusable(file_, lookError.message());
        throw errorFor(SQLITE_CANTOPEN, lookError.message(), lookError.value());
    }

    std::string path;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (readOnly && exists) {
        path = databasePath(url);
        flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX;
    } else if (readOnly) {
        path = ":memory:";
    } else {
        const auto absolute = std::filesystem::absolute(url);
        FileIO::createDirectories(absolute.parent_path());
        path = absolute.string();
        if (!exists) createWhole(absolute);
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;  // never an empty file in its place
    }

    open(db_, path, flags);
    db_.setBusyTimeout(busyTimeoutMilliseconds);
    if (!readOnly) {
        // A file there holds both tables, since none is made in place: one cut
        // to nothing, or holding others, is a damaged baseline, not one to
        // start afresh.
        SqliteStatement tables =
            prepare("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('entries', 'meta')");
        if (tables.step() != SQLITE_ROW) fail();
        if (tables.columnInt64(0) != 2) throw BaselineStoreError::unusable(file_, "it holds no baseline tables");
    } else if (!exists) {
        execute(createEntries);  // in memory: reads as no baseline
        execute(createMeta);
    }
}

// Made under a name of its own and moved into place whole: a creation cut
// short at any point leaves no file that every later open would refuse, and
// creators at once never remove or move each other's half-made file. Nothing
// is there to move aside yet, so a failure only names the file and why.
void BaselineStore::createWhole(const std::filesystem::path& file) const {
    const std::string name = "." + file.filename().string() + ".new-" + Uuid::random().lowerString().substr(0, 12);
    const std::string making = (file.parent_path() / name).string();
    std::error_code ignored;
    const auto failed = [&](const std::string& reason) {
        std::filesystem::remove(making, ignored);
        std::filesystem::remove(making + "-journal", ignored);
        return BaselineStoreError::notMade(file_, reason);
    };
    {
        SqliteDatabase db;
        const int opened = db.open(making, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE |
                                               SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX);
        const std::string tables = std::string("BEGIN IMMEDIATE; ") + createEntries + "; " + createMeta + "; COMMIT";
        if (opened != SQLITE_OK || !db || db.execute(tables.c_str()) != SQLITE_OK) {
            const std::string reason = db ? db.errorMessage() : std::string("out of memory");
            db.close();
            throw failed(reason);
        }
    }
    const std::optional<SafeFileSystem::Folder> folder = SafeFileSystem::openRoot(file.parent_path());
    if (!folder) throw failed("its folder is gone");
    try {
        // Where the file system can refuse an existing name neither way
        // (exFAT through FUSE), the name, found free just now, is taken
        // plainly: only a creator at that very moment could lose its file,
        // and a job's runs take turns.
        SafeFileSystem::moveToFreeName(*folder, name, *folder, file.filename().string());
    } catch (const FileError& error) {
        // Another process made it meanwhile: that one is opened.
        if (error.errorNumber() == EEXIST) {
            std::filesystem::remove(making, ignored);
            return;
        }
        throw failed(error.reason());
    }
}

void BaselineStore::open(SqliteDatabase& db, const std::string& path, int flags) const {
    if (db.open(path, flags) == SQLITE_OK && db) return;
    const BaselineStoreError error =
        db ? errorFor(sqlite3_extended_errcode(db.get()), db.errorMessage(), sqlite3_system_errno(db.get()))
           : BaselineStoreError(BaselineStoreError::cannotOpen);
    db.close();
    throw error;
}

BaselineStoreError BaselineStore::errorFor(int code, const std::string& message, int systemError) const {
    if ((code & 0xff) == SQLITE_NOTADB) return BaselineStoreError::notADatabase(file_);
    if (damaged(code)) return BaselineStoreError::unusable(file_, message);
    const std::string reason = reasonOf(message, systemError);
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return BaselineStoreError::locked(file_, reason);
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
        // SQLite answers alike for a folder in the file's place and for a
        // file kept from us: what stands there tells them apart.
        if (holdsNoFile()) return BaselineStoreError::unusable(file_, reason);
        [[fallthrough]];
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH:
    case SQLITE_FULL:
    case SQLITE_NOTFOUND:
        // A read-only disk is nobody's permission to give.
        if (systemError == EROFS || onReadOnlyDisk(file_))
            return BaselineStoreError::unreadable(file_, reasonOf(message, EROFS));
        if (noPermission(code, systemError)) return BaselineStoreError::notPermitted(file_, reason);
        return BaselineStoreError::unreadable(file_, reason);
    default: return BaselineStoreError(message);  // not about the file (out of memory, say)
    }
}

bool BaselineStore::holdsNoFile() const {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file_, error);
    if (error) return error.value() == ELOOP;
    return status.type() != std::filesystem::file_type::regular &&
           status.type() != std::filesystem::file_type::not_found;
}

void BaselineStore::fail() const {
    throw errorFor(sqlite3_extended_errcode(db_.get()), db_.errorMessage(), sqlite3_system_errno(db_.get()));
}

void BaselineStore::execute(const char* sql) {
    if (db_.execute(sql) != SQLITE_OK) fail();
}

SqliteStatement BaselineStore::prepare(const char* sql) {
    SqliteStatement statement;
    if (db_.prepare(sql, statement) != SQLITE_OK) fail();
    return statement;
}

void BaselineStore::rollback() noexcept { db_.execute("ROLLBACK"); }

BaselineStore::Meta BaselineStore::readMeta() {
    SqliteStatement select = prepare("SELECT key, value FROM meta");
    Meta meta;
    for (;;) {
        const int rc = select.step();
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) fail();
        // A NULL key or value (never written by the store) reads as absent.
        if (select.columnIsNull(0) || select.columnIsNull(1)) continue;
        meta.insert_or_assign(std::string(select.columnText(0)), std::string(select.columnText(1)));
    }
    return meta;
}

bool BaselineStore::recordedFor(const Meta& meta, const std::optional<std::string>& uuidA,
                                const std::optional<std::string>& uuidB) {
    // A save writes both identities and both counts with the entries. Read
    // as no baseline, a damaged record would have every file planned afresh
    // and leave the guard against an emptied side without its counts.
    if (meta.empty()) {
        SqliteStatement any = prepare("SELECT 1 FROM entries LIMIT 1");
        const int rc = any.step();
        if (rc == SQLITE_DONE) return false;  // never saved, or saved empty
        if (rc != SQLITE_ROW) fail();
        throw BaselineStoreError::unusable(file_, "its entries are recorded for no sides");
    }
    const auto value = [&](std::string_view key) -> const std::string* {
        const auto found = meta.find(key);
        return found == meta.end() ? nullptr : &found->second;
    };
    const std::string* storedA = value("uuidA");
    const std::string* storedB = value("uuidB");
    const std::string* countA = value("countA");
    const std::string* countB = value("countB");
    if (!storedA || !storedB || !countA || !countB || !decimal(*countA) || !decimal(*countB))
        throw BaselineStoreError::unusable(file_, "its record of the sides and their file counts is damaged");
    return *storedA == sideValue(uuidA) && *storedB == sideValue(uuidB);
}

bool BaselineStore::isRecordedFor(const std::optional<std::string>& uuidA, const std::optional<std::string>& uuidB) {
    std::lock_guard guard(lock_);
    return recordedFor(readMeta(), uuidA, uuidB);
}

std::optional<Baseline> BaselineStore::load(const std::optional<std::string>& uuidA,
                                            const std::optional<std::string>& uuidB) {
    std::lock_guard guard(lock_);
    execute("BEGIN");
    try {
        if (!recordedFor(readMeta(), uuidA, uuidB)) {
            execute("COMMIT");
            return std::nullopt;
        }

        SqliteStatement select = prepare("SELECT key, kind, size, mtime FROM entries");
        Baseline::Builder builder;
        for (;;) {
            const int rc = select.step();
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) fail();
            // Read the kind whole: a 32-bit read would turn 2^32 + 1 into a valid 1.
            if (sqlite3_column_type(select.get(), 1) != SQLITE_INTEGER) throw BaselineStoreError(BaselineStoreError::invalidKind);
            const std::int64_t kind = select.columnInt64(1);
            if (kind < 0 || kind > 3) throw BaselineStoreError(BaselineStoreError::invalidKind);
            // Text or a real would read as a made-up number (0 for "abc", 1 for 1.5).
            if (select.columnIsNull(0) || sqlite3_column_type(select.get(), 2) != SQLITE_INTEGER ||
                sqlite3_column_type(select.get(), 3) != SQLITE_INTEGER)
                throw BaselineStoreError(BaselineStoreError::invalidEntry);
            builder.add(select.columnText(0),
                        BaselineEntry{static_cast<EntryKind>(kind), select.columnInt64(2), select.columnInt64(3)});
        }
        readRacy(builder);
        execute("COMMIT");
        return std::move(builder).build();
    } catch (...) {
        rollback();
        throw;
    }
}

void BaselineStore::save(const Baseline& entries, const std::optional<std::string>& uuidA,
                         const std::optional<std::string>& uuidB, SideCounts counts, std::stop_token stop,
                         const Baseline* stored) {
    std::lock_guard guard(lock_);
    execute("BEGIN IMMEDIATE");
    try {
        if (!stored) execute("DELETE FROM entries");
        SqliteStatement insert =
            prepare(stored ? "INSERT OR REPLACE INTO entries(key, kind, size, mtime) VALUES (?, ?, ?, ?)"
                           : "INSERT INTO entries(key, kind, size, mtime) VALUES (?, ?, ?, ?)");
        auto write = [&](const Baseline::Ref item) {
            if (stop.stop_requested()) throw CancellationError();
            insert.reset();
            insert.clearBindings();
            // The key lives in `entries` until after the step: no copy needed.
            if (insert.bindStaticText(1, item.key) != SQLITE_OK ||
                insert.bindInt64(2, static_cast<std::int64_t>(item.entry.kind)) != SQLITE_OK ||
                insert.bindInt64(3, item.entry.size) != SQLITE_OK || insert.bindInt64(4, item.entry.mtime) != SQLITE_OK)
                fail();
            const int rc = insert.step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
        };
        // One step of a statement that takes a key alone.
        auto stepWithKey = [&](SqliteStatement& statement, std::string_view key) {
            if (stop.stop_requested()) throw CancellationError();
            statement.reset();
            statement.clearBindings();
            if (statement.bindStaticText(1, key) != SQLITE_OK) fail();
            const int rc = statement.step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
        };
        if (!stored) {
            for (const Baseline::Ref item : entries) write(item);
        } else {
            // Both are sorted by key: one walk finds what went, came or changed.
            SqliteStatement remove = prepare("DELETE FROM entries WHERE key = ?");
            auto erase = [&](std::string_view key) { stepWithKey(remove, key); };
            std::size_t i = 0, j = 0;
            while (i < stored->size() || j < entries.size()) {
                if (j == entries.size() || (i < stored->size() && stored->at(i).key < entries.at(j).key)) {
                    erase(stored->at(i++).key);
                } else if (i == stored->size() || entries.at(j).key < stored->at(i).key) {
                    write(entries.at(j++));
                } else {
                    if (!(stored->at(i).entry == entries.at(j).entry)) write(entries.at(j));
                    ++i;
                    ++j;
                }
            }
        }

        // The marks are few: written whole. Unknown marks stay unknown.
        const std::string stands = racyForm();
        const bool table = entries.marksKnown() && !entries.racyKeys().empty();
        const bool view = entries.marksKnown() && entries.racyKeys().empty();
        if (stands == "table" && !table) execute("DROP TABLE racy");
        if (stands == "view" && !view) execute("DROP VIEW racy");
        if (stands != "view" && view) execute(createNoRacy);
        if (stands != "table" && table) execute(createRacy);
        if (table) {
            execute("DELETE FROM racy");
            SqliteStatement insertRacy = prepare("INSERT INTO racy(key) VALUES (?)");
            for (const std::string& key : entries.racyKeys()) stepWithKey(insertRacy, key);
        }

        execute("DELETE FROM meta");
        SqliteStatement insertMeta = prepare("INSERT INTO meta(key, value) VALUES (?, ?)");
        const std::pair<const char*, std::string> rows[] = {
            {"uuidA", sideValue(uuidA)},
            {"uuidB", sideValue(uuidB)},
            {"countA", std::to_string(counts.a)},
            {"countB", std::to_string(counts.b)},
        };
        for (const auto& [key, value] : rows) {
            insertMeta.reset();
            insertMeta.clearBindings();
            if (insertMeta.bindTransientText(1, key) != SQLITE_OK || insertMeta.bindTransientText(2, value) != SQLITE_OK)
                fail();
            const int rc = insertMeta.step();
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail();
        }

        if (stop.stop_requested()) throw CancellationError();
        execute("COMMIT");
    } catch (...) {
        rollback();
        throw;
    }
}

std::string BaselineStore::racyForm() {
    SqliteStatement form = prepare("SELECT type FROM sqlite_master WHERE name = 'racy'");
    const int rc = form.step();
    if (rc == SQLITE_DONE) return {};
    if (rc != SQLITE_ROW) fail();
    return std::string(form.columnText(0));
}

void BaselineStore::readRacy(Baseline::Builder& builder) {
    // A baseline saved before marks were kept has none under that name.
    const std::string form = racyForm();
    if (form != "table" && form != "view") {
        if (!form.empty()) throw BaselineStoreError::unusable(file_, "its racy marks are neither a table nor a view");
        builder.marksUnknown();
        return;
    }
    SqliteStatement select = prepare("SELECT key FROM racy");
    for (;;) {
        const int rc = select.step();
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) fail();
        if (select.columnIsNull(0)) throw BaselineStoreError(BaselineStoreError::invalidEntry);
        // A mark for a key without an entry (or for a folder) is dropped by the builder.
        builder.mark(select.columnText(0));
    }
}

std::optional<SideCounts> BaselineStore::sideCounts() {
    std::lock_guard guard(lock_);
    const Meta meta = readMeta();
    const auto a = meta.find("countA");
    const auto b = meta.find("countB");
    if (a == meta.end() || b == meta.end()) return std::nullopt;
    const auto countA = decimal(a->second);
    const auto countB = decimal(b->second);
    if (!countA || !countB) return std::nullopt;
    return SideCounts{*countA, *countB};
}

}  // namespace kelto

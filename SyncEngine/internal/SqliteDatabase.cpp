#include "SyncEngine/internal/SqliteDatabase.h"

#include <sqlite3.h>

namespace kelto {

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
    if (this != &other) {
        close();
        db_ = other.db_;
        other.db_ = nullptr;
    }
    return *this;
}

int SqliteDatabase::open(const std::string& path, int flags) {
    close();
    return sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
}

void SqliteDatabase::close() {
    // close_v2 defers the close until stray statements are finalised rather than failing.
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

int SqliteDatabase::setBusyTimeout(int milliseconds) { return sqlite3_busy_timeout(db_, milliseconds); }

int SqliteDatabase::execute(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

int SqliteDatabase::prepare(const char* sql, SqliteStatement& out) {
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
    out = SqliteStatement(statement);
    if (rc == SQLITE_OK && !statement) return SQLITE_MISUSE;
    return rc;
}

std::string SqliteDatabase::errorMessage() const {
    if (!db_) return "out of memory";
    return sqlite3_errmsg(db_);
}

}  // namespace kelto

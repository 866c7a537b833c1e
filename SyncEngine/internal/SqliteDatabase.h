#pragma once

#include "SyncEngine/internal/SqliteStatement.h"

#include <string>

struct sqlite3;

namespace kelto {

// One SQLite connection, closed when the object goes. Methods return SQLite's
// result codes; errorMessage() gives the connection's current message.
class SqliteDatabase {
public:
    SqliteDatabase() = default;
    ~SqliteDatabase() { close(); }
    SqliteDatabase(SqliteDatabase&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
    SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    // sqlite3_open_v2 with the default VFS. The connection may be kept even
    // when the result is an error (SQLite then returns a handle for the message).
    int open(const std::string& path, int flags);
    void close();

    explicit operator bool() const { return db_ != nullptr; }
    sqlite3* get() const { return db_; }

    int setBusyTimeout(int milliseconds);
    int execute(const char* sql);
    // A success that yields no statement (empty SQL) is returned as SQLITE_MISUSE.
    int prepare(const char* sql, SqliteStatement& out);
    std::string errorMessage() const;

private:
    sqlite3* db_ = nullptr;
};

}  // namespace kelto

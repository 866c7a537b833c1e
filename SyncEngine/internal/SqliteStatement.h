#pragma once

#include <cstdint>
#include <string_view>

struct sqlite3_stmt;

namespace kelto {

// One prepared SQLite statement, finalised when the object goes. Methods
// return SQLite's result codes; the owner turns failures into its own error.
class SqliteStatement {
public:
    SqliteStatement() = default;
    explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}
    ~SqliteStatement() { finalize(); }
    SqliteStatement(SqliteStatement&& other) noexcept : statement_(other.statement_) { other.statement_ = nullptr; }
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    void finalize();

    int step();
    int reset();
    int clearBindings();

    // The text must stay unchanged until the next step, reset or rebind.
    int bindStaticText(int index, std::string_view text);
    // SQLite keeps its own copy of the text.
    int bindTransientText(int index, std::string_view text);
    int bindInt64(int index, std::int64_t value);

    bool columnIsNull(int column) const;
    int columnInt(int column) const;
    std::int64_t columnInt64(int column) const;
    // Valid until the next step, reset or finalise; empty for NULL.
    std::string_view columnText(int column) const;

private:
    sqlite3_stmt* statement_ = nullptr;
};

}  // namespace kelto

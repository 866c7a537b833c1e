#include "SyncEngine/internal/SqliteStatement.h"

#include <sqlite3.h>

namespace kelto {

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        finalize();
        statement_ = other.statement_;
        other.statement_ = nullptr;
    }
    return *this;
}

void SqliteStatement::finalize() {
    if (statement_) sqlite3_finalize(statement_);
    statement_ = nullptr;
}

int SqliteStatement::step() { return sqlite3_step(statement_); }
int SqliteStatement::reset() { return sqlite3_reset(statement_); }
int SqliteStatement::clearBindings() { return sqlite3_clear_bindings(statement_); }

int SqliteStatement::bindStaticText(int index, std::string_view text) {
    return sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

int SqliteStatement::bindTransientText(int index, std::string_view text) {
    return sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

int SqliteStatement::bindInt64(int index, std::int64_t value) {
    return sqlite3_bind_int64(statement_, index, static_cast<sqlite3_int64>(value));
}

bool SqliteStatement::columnIsNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

int SqliteStatement::columnInt(int column) const { return sqlite3_column_int(statement_, column); }

std::int64_t SqliteStatement::columnInt64(int column) const {
    return static_cast<std::int64_t>(sqlite3_column_int64(statement_, column));
}

std::string_view SqliteStatement::columnText(int column) const {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (!text) return {};
    return {text, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column))};
}

}  // namespace kelto

#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

// One prepared statement that lives for one store operation. A statement that
// fails to prepare reports !ok(); every call on it is then harmless.
class SqliteStatement {
public:
    SqliteStatement(sqlite3 *db, const char *sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            stmt = nullptr;
        }
    }
    ~SqliteStatement() { sqlite3_finalize(stmt); }
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool ok() const { return stmt != nullptr; }

    // Text is copied by SQLite and read up to its first NUL byte.
    void bind_text(int index, const std::string &text) {
        sqlite3_bind_text(stmt, index, text.c_str(), -1, SQLITE_TRANSIENT);
    }
    void bind_int(int index, int32_t value) { sqlite3_bind_int(stmt, index, value); }
    void bind_int64(int index, int64_t value) { sqlite3_bind_int64(stmt, index, value); }

    int step() { return sqlite3_step(stmt); }
    void reset() { sqlite3_reset(stmt); }

    int32_t column_int(int col) const { return sqlite3_column_int(stmt, col); }
    int64_t column_int64(int col) const { return sqlite3_column_int64(stmt, col); }
    double column_double(int col) const { return sqlite3_column_double(stmt, col); }
    bool column_is_null(int col) const { return sqlite3_column_type(stmt, col) == SQLITE_NULL; }
    // The column's text, "" for NULL.
    std::string column_text(int col) const {
        const unsigned char *text = sqlite3_column_text(stmt, col);
        if (!text) return std::string();
        return std::string(reinterpret_cast<const char *>(text),
                           static_cast<size_t>(sqlite3_column_bytes(stmt, col)));
    }

private:
    sqlite3_stmt *stmt = nullptr;
};

// Runs one or more statements without result rows; true on SQLITE_OK.
inline bool sqlite_exec(sqlite3 *db, const char *sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One owner for SQLite statements and connections: finalized or closed when
// the owner goes away, so every early return releases them.
#pragma once

#include <sqlite3.h>

#include <memory>

struct SqliteStatementFinalizer {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
typedef std::unique_ptr<sqlite3_stmt, SqliteStatementFinalizer> SqliteStatement;

struct SqliteDatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
typedef std::unique_ptr<sqlite3, SqliteDatabaseCloser> SqliteDatabase;

// The statement prepared on db; null when it does not prepare.
inline SqliteStatement prepareSqlite(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return SqliteStatement();
    }
    return SqliteStatement(s);
}

// Runs SQL through the sqlite3 command-line tool, an outside reader and
// writer of the user dictionaries, to make fixtures and to check files.
#pragma once

#include <string>

namespace lftest {

// Runs the script on the database at db (created when missing) with
// "-batch -bail"; fills out with what the tool printed (errors included)
// and returns its exit status.
int runSqlite(const std::string& db, const std::string& script, std::string* out = nullptr);
// What the tool prints for the script, for checks; "sqlite3 failed: ..."
// when it fails.
std::string sqliteOutput(const std::string& db, const std::string& script);

}  // namespace lftest

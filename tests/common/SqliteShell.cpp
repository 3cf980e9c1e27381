#include "tests/common/SqliteShell.h"

#include <unistd.h>

#include "tests/common/TestDir.h"

namespace lftest {

int runSqlite(const std::string& db, const std::string& script, std::string* out) {
    // The script goes through a file, so that no quoting of the shell applies.
    const std::string scriptPath = db + ".script.sql";
    // Fixtures need no protection against power loss: no waits for the disk.
    if (!writeFile(scriptPath, "PRAGMA synchronous = OFF;\n" + script)) return -1;
    const int status =
        runCommand("sqlite3 -batch -bail " + shellQuote(db) + " < " + shellQuote(scriptPath) + " 2>&1", out);
    unlink(scriptPath.c_str());
    return status;
}

std::string sqliteOutput(const std::string& db, const std::string& script) {
    std::string out;
    if (runSqlite(db, script, &out) != 0) return "sqlite3 failed: " + out;
    return out;
}

}  // namespace lftest

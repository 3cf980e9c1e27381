// Helpers of the project model tests: a clean shared project, the system log
// caught line by line, and Shift_JIS fixtures written from UTF-8 text.
#pragma once

#include <string>
#include <vector>

#include "app/project/BookSet.h"
#include "foundation/codes/jclib.h"
#include "platform/UILog.h"

namespace lftest {

// The shared project as a new one: no books, defaults everywhere.
inline BookSet* freshBookSet() {
    BookSet* set = BookSet::sharedBookSet();
    set->clear();
    set->setCsvPath("");
    set->setCsvFields("");
    set->setCorrentSource(0);
    return set;
}

// Collects the system log's lines while it lives.
class LogCatcher {
public:
    LogCatcher() {
        m_old = UISetLogHandler([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCatcher() { UISetLogHandler(m_old); }
    LogCatcher(const LogCatcher&) = delete;
    LogCatcher& operator=(const LogCatcher&) = delete;

    std::vector<std::string> lines;

private:
    UILogHandler m_old;
};

// UTF-8 text as Shift_JIS bytes.
inline std::string toShiftJis(const std::string& utf8) {
    std::string out(utf8.size() * 2 + 1, '\0');
    int n =
        utf8ToSjis(utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<unsigned char*>(&out[0]), out.size());
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace lftest

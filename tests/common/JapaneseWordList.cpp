#include "tests/common/JapaneseWordList.h"

#include <iconv.h>

#include <fstream>

namespace lftest {

const char kJapaneseWordList[] = "/usr/share/edict/edict";
const char kCsvWordFields[] = "enc=utf-8;delim=,;fields=headword|kana|meaning|";

bool readJapaneseWordList(std::vector<WordRecord>* records,
                          const std::function<bool(long line, const WordRecord&)>& keep) {
    std::ifstream in(kJapaneseWordList, std::ios::binary);
    if (!in) return false;
    iconv_t cd = iconv_open("UTF-8", "EUC-JP");
    if (cd == reinterpret_cast<iconv_t>(-1)) return true;  // no records: the caller's count check fails
    std::string line;
    long lineNo = 0;
    while (std::getline(in, line)) {
        if (lineNo++ == 0) continue;
        std::vector<char> out(line.size() * 2 + 4);
        char* ip = &line[0];
        size_t il = line.size();
        char* op = out.data();
        size_t ol = out.size();
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1)) continue;  // not EUC-JP: not an entry
        const std::string u(out.data(), static_cast<size_t>(op - out.data()));
        // "headword [reading] /gloss/gloss/" or "headword /gloss/"
        const size_t space = u.find(' ');
        if (space == std::string::npos || u.size() < space + 3) continue;
        WordRecord r;
        r.headword = u.substr(0, space);
        size_t glossAt = space + 1;
        if (u.compare(space + 1, 1, "[") == 0) {
            const size_t close = u.find("] ", space);
            if (close == std::string::npos) continue;
            r.reading = u.substr(space + 2, close - space - 2);
            glossAt = close + 2;
        }
        if (u.compare(glossAt, 1, "/") != 0) continue;
        r.meaning = u.substr(glossAt + 1);
        if (keep && !keep(lineNo, r)) continue;
        records->push_back(r);
    }
    iconv_close(cd);
    return true;
}

std::string csvField(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csvWordSource(const std::vector<WordRecord>& records) {
    std::string csv;
    for (const WordRecord& r : records)
        csv += csvField(r.headword) + "," + csvField(r.reading) + "," + csvField(r.meaning) + "\n";
    return csv;
}

}  // namespace lftest

// The Japanese-English word list of the Debian archive (package edict, in
// EUC-JP), read at test time into UTF-8 records, for the whole-list checks
// of books built from a real word list, and the delimited source such a
// book is built from.
//
//   std::vector<lftest::WordRecord> records;
//   if (!lftest::readJapaneseWordList(&records)) GTEST_SKIP();
//   lftest::writeFile(dir.file("words.csv"), lftest::csvWordSource(records));
//   recipe.sources.push_back({dir.file("words.csv"), "", 9, lftest::kCsvWordFields});
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lftest {

struct WordRecord {
    std::string headword, reading, meaning;  // UTF-8; reading "" when none
};

extern const char kJapaneseWordList[];  // "/usr/share/edict/edict"

// The list's entries ("headword [reading] /gloss/.../") in order, the file's
// own header line left out, each kept when keep (given the entry's line
// number, from 1 for the header) says so. False when the file is missing;
// lines that are not EUC-JP or not of that form are no entries.
bool readJapaneseWordList(std::vector<WordRecord>* records,
                          const std::function<bool(long line, const WordRecord&)>& keep = nullptr);

// s as one quoted field of a delimited line, its quotes doubled.
std::string csvField(const std::string& s);

// The records as UTF-8 lines "headword,reading,meaning", each field quoted,
// and the field spec of that source (source type 9).
std::string csvWordSource(const std::vector<WordRecord>& records);
extern const char kCsvWordFields[];

}  // namespace lftest

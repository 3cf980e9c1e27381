// The text scan on a book built from a real English word list
// (/usr/share/dict/words, Debian's wamerican): entries whose bodies hold
// words in bold and italics and across line breaks. Every query's hits are
// the entries a brute-force scan of the decoded text finds, the text with its
// tags removed and line breaks read as spaces. The decoded text is the one
// the EB Library reads from the book.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

const char kWordList[] = "/usr/share/dict/words";
// Entries of the book: every kStride-th word of the list is a headword.
constexpr size_t kStride = 40;
constexpr size_t kBodyWords = 8;

struct Entry {
    std::string headword;
    std::vector<std::string> body;  // kBodyWords words
};

// Words of letters only, in list order.
std::vector<std::string> readWords(std::ifstream& in) {
    std::vector<std::string> words;
    std::string w;
    while (std::getline(in, w)) {
        bool letters = !w.empty();
        for (unsigned char c : w) letters = letters && std::isalpha(c) && c < 0x80;
        if (letters) words.push_back(w);
    }
    return words;
}

// The entry's markup: body words 2 and 3 in bold, 5 in italics, a line
// break after word 4.
std::string markup(const Entry& e) {
    std::string s = "<DT>" + e.headword + "</DT><DD>";
    for (size_t i = 0; i < e.body.size(); ++i) {
        if (i) s += i == 5 ? "<BR>" : " ";
        if (i == 2) s += "<B>";
        if (i == 5) s += "<I>";
        s += e.body[i];
        if (i == 3) s += "</B>";
        if (i == 5) s += "</I>";
    }
    return s + "</DD>\n";
}

// The entry as the book's decoded text gives it: the headword on a line of
// its own, then the body, its line break kept.
std::string decoded(const Entry& e) {
    std::string s = e.headword + "\n";
    for (size_t i = 0; i < e.body.size(); ++i) s += (i == 0 ? "" : i == 5 ? "\n" : " ") + e.body[i];
    return s + "\n";
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The decoded text with line breaks as spaces and runs of spaces as one,
// lower case, and for each of its characters the entry it belongs to.
struct ScanText {
    std::string text;
    std::vector<size_t> entryOf;
};

ScanText scanText(const std::vector<Entry>& entries) {
    ScanText t;
    for (size_t n = 0; n < entries.size(); ++n) {
        for (char c : lower(decoded(entries[n]))) {
            if (c == '\n') c = ' ';
            if (c == ' ' && !t.text.empty() && t.text.back() == ' ') continue;
            t.text += c;
            t.entryOf.push_back(n);
        }
    }
    return t;
}

// Brute force: the entries in which an occurrence of the query ends.
std::set<size_t> bruteForce(const ScanText& t, const std::string& query) {
    std::set<size_t> found;
    const std::string q = lower(query);
    for (size_t at = t.text.find(q); at != std::string::npos; at = t.text.find(q, at + 1))
        found.insert(t.entryOf[at + q.size() - 1]);
    return found;
}

}  // namespace

TEST(TextScanOnAWordList, EqualsABruteForceScanOfTheDecodedText) {
    std::ifstream in(kWordList);
    if (!in) {
        const char* ci = std::getenv("CI");
        if (ci && std::string(ci) == "true") FAIL() << kWordList << " is missing: scripts/setup.sh installs wamerican";
        GTEST_SKIP() << kWordList << " is not installed: run scripts/setup.sh";
    }
    const std::vector<std::string> words = readWords(in);
    ASSERT_GT(words.size(), 20000u) << kWordList;

    std::vector<Entry> entries;
    std::set<std::string> headwords;
    for (size_t i = 0; i + kBodyWords < words.size(); i += kStride) {
        if (!headwords.insert(lower(words[i])).second) continue;  // headwords differ in more than case
        Entry e{words[i], {}};
        for (size_t k = 1; k <= kBodyWords; ++k) e.body.push_back(words[(i * 7 + k * 131) % words.size()]);
        entries.push_back(e);
    }
    lftest::TestDir dir;
    std::string html = "<HTML><BODY>\n<DL>\n";
    for (const Entry& e : entries) html += markup(e);
    html += "</DL>\n</BODY></HTML>\n";
    const lftest::BookRun run = lftest::buildMarkupBook(dir.file("book"), dir.file("words.html"), html);
    ASSERT_EQ(run.newBookResult, 0) << run.log();

    // The decoded text the brute force reads is the book's own: the library
    // reads each entry's text from where its word search leads.
    lftest::EbProbe probe(dir.file("book"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (const Entry& e : entries) {
        bool same = false;
        for (const lftest::EbHit& h : probe.search(0, lftest::EbSearchKind::ExactWord, {e.headword}))
            same = same || probe.readRenderedText(0, h.textBlock, h.textOffset) == decoded(e);
        ASSERT_TRUE(same) << "the library reads no entry \"" << e.headword << "\" as " << decoded(e);
    }

    // Queries: single words, pairs across the ends of bold and italics and
    // across the line break, the headword with the body's first word (the
    // heading's end), the last body word with the next headword (across
    // entries), pieces of words around a tag, words run together across the
    // line break (which is no empty string), and misses.
    std::vector<std::string> queries;
    for (size_t n = 0; n < entries.size() && queries.size() < 600; n += 23) {
        const Entry& e = entries[n];
        const std::vector<std::string>& b = e.body;
        queries.push_back(b[n % kBodyWords]);
        queries.push_back(b[1] + " " + b[2]);
        queries.push_back(b[3] + " " + b[4]);
        queries.push_back(b[4] + " " + b[5] + " " + b[6]);
        queries.push_back(e.headword + " " + b[0]);
        if (n + 1 < entries.size()) queries.push_back(b[kBodyWords - 1] + " " + entries[n + 1].headword);
        queries.push_back(b[1].substr(b[1].size() / 2) + " " + b[2].substr(0, (b[2].size() + 1) / 2));
        queries.push_back(b[4] + b[5]);
        queries.push_back(b[0] + "qz");
    }
    ASSERT_GE(queries.size(), 300u);

    // Hits name entries by their heading; the headword read there tells which.
    std::map<std::string, size_t> entryOfHead;
    for (size_t n = 0; n < entries.size(); ++n) entryOfHead[entries[n].headword] = n;
    const ScanText text = scanText(entries);
    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("book/TEST/DATA/HONMON").c_str(), 1, 0), 1);
    size_t found = 0, empty = 0;
    for (const std::string& q : queries) {
        reader.resetHits();
        reader.textScanSearch(q.c_str(), nullptr, nullptr, 0);
        std::set<size_t> ours;
        for (int i = 0; i < reader.hitCount(); ++i) {
            const HIT_ITEM* h = reader.hits().at(i);
            const std::string head = probe.readHeading(0, static_cast<int>(h->headingBlock), h->headingOffset);
            const auto it = entryOfHead.find(head);
            ASSERT_NE(it, entryOfHead.end()) << "\"" << q << "\": a hit at " << h->headingBlock << ":"
                                             << h->headingOffset << " heads \"" << head << "\"";
            ours.insert(it->second);
        }
        const std::set<size_t> theirs = bruteForce(text, q);
        EXPECT_EQ(ours, theirs) << "\"" << q << "\": ours " << ours.size() << ", brute force " << theirs.size();
        (theirs.empty() ? empty : found) += 1;
    }
    // Both kinds of query are there in number.
    EXPECT_GT(found, queries.size() / 2);
    EXPECT_GT(empty, queries.size() / 10);
    std::printf("text scan on %zu entries: %zu queries, %zu with hits, %zu without\n", entries.size(), queries.size(),
                found, empty);
}

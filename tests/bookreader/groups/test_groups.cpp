// Dictionary groups: entries of every book kind opened and searched, the
// group file read and written, editing, history and the failure paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/groups/CEBGroup.h"
#include "bookreader/hits/CHitStore.h"
#include "bookreader/hits/CItemList.h"
#include "dictformats/userdict/CSQLIO.h"
#include "foundation/codes/jclib.h"
#include "tests/bookreader/BookFixtures.h"
#include "tests/common/MdictFixtures.h"
#include "tests/common/StarDictFixtures.h"
#include "tests/common/StoredEbzip.h"

namespace {

using lftest::readFile;
using lftest::writeFile;

std::string text(const lftest::Bytes& b) {
    return std::string(b.begin(), b.end());
}

// A user dictionary titled "Small" at path, made through CSQLIO, holding
// the entries (headword, meaning); false when it could not be made.
bool makeUserDictionary(const std::string& path, const std::vector<std::pair<const char*, const char*>>& entries = {}) {
    USERDICT_INFO info;
    memset(&info, 0, sizeof info);
    strcpy(info.booktitle, "Small");
    CSQLIO writer;
    if (writer.create(path.c_str(), &info) != 0 || writer.open(path.c_str()) != 0) return false;
    for (const auto& entry : entries) {
        int64_t id = 0;
        if (writer.addEntry(entry.first, entry.second, "", "", "", "", "", 0, CSQLIO::kWholeKey, &id) != 0)
            return false;
    }
    writer.close();
    return true;
}

// A search of word (whole word, else its beginning) through the entry's
// reader, by its kind: the word search of EB and EPWING books, else the back
// end's own search. Returns what the search returns (its hit count).
int searchEntry(CEBReader& r, const std::string& word, bool exact = true) {
    switch (r.kind()) {
        case BOOK_KIND_EB:
        case BOOK_KIND_EPWING:
            return r.wordSearch(word.c_str(), exact, 0, HIT_ADD);
        case BOOK_KIND_PDIC: {
            std::u32string wide(word.begin(), word.end());
            return r.pdic()->search(reinterpret_cast<const uint32_t*>(wide.c_str()),
                                    exact ? PDIC_SEARCH_EXACT : PDIC_SEARCH_PREFIX, 10);
        }
        case BOOK_KIND_USER_DICT:
            return r.userDict()->search(word.c_str(), exact ? CSQLIO::kExact : CSQLIO::kWholeKey, 10);
        case BOOK_KIND_STARDICT:
            return r.starDict()->search(word.c_str(), exact, 10);
        case BOOK_KIND_MDICT:
            return r.mdict()->search(word.c_str(), exact, 10);
        default:
            ADD_FAILURE() << "no search for kind " << r.kind();
            return -1;
    }
}

std::string utf8(const std::vector<uint32_t>& wide, uint32_t n) {
    std::string out(static_cast<size_t>(wideToUtf8(wide.data(), static_cast<int>(n), nullptr)), '\0');
    wideToUtf8(wide.data(), static_cast<int>(n), &out[0]);
    return out;
}

// Moves the reader to a position of the book text; false when it cannot.
bool seekBook(CEBReader& r, uint32_t block, uint16_t offset) {
    return r.seekBlock(block) == 1 && (offset == 0 || r.setOffset(offset) == 1);
}

// The heading (heading) or the text of item `hit` of list, read through the
// reader of the entry that found it.
std::string readHit(CEBReader& r, const CItemList& list, int hit, bool heading) {
    const HIT_ITEM* item = list.item(hit);
    if (!item) return "(no item)";
    // A dictionary's item names a record of its family in the list.
    const int record = static_cast<int>(list.recordOf(hit));
    std::vector<char> out(8192);
    std::vector<uint32_t> wide(out.size());
    const uint32_t size = static_cast<uint32_t>(out.size());
    uint32_t n = 0;
    switch (r.kind()) {
        case BOOK_KIND_EB:
        case BOOK_KIND_EPWING:
            if (heading ? !seekBook(r, item->headingBlock, item->headingOffset)
                        : !seekBook(r, item->textBlock, item->textOffset))
                return "(cannot seek)";
            if (heading)
                r.readHeading(out.data(), size, &n);
            else
                r.readText(out.data(), size, &n, 1, 0);
            break;
        case BOOK_KIND_PDIC:
            if (heading)
                r.pdic()->hitHeadword(&list, record, wide.data(), size * 4, &n);
            else
                r.pdic()->renderHits(&list, record, wide.data(), size * 4, size * 4, &n, 1, 1);
            return utf8(wide, n);
        case BOOK_KIND_USER_DICT:
            if (heading)
                r.userDict()->hitHeadword(&list, record, out.data(), size, &n);
            else
                r.userDict()->renderHits(&list, record, out.data(), size, size, &n, 1, 1);
            break;
        case BOOK_KIND_STARDICT:
            if (heading)
                r.starDict()->hitHeadword(&list, record, out.data(), size, &n);
            else
                r.starDict()->renderHits(&list, record, out.data(), size, size, &n, 1);
            break;
        case BOOK_KIND_MDICT:
            if (heading)
                r.mdict()->hitHeadword(&list, record, out.data(), size, &n);
            else
                r.mdict()->renderHits(&list, record, out.data(), size, size, &n, 1, 1);
            break;
        default:
            return "(no reading for this kind)";
    }
    return std::string(out.data(), n);
}

std::string hitHeading(CEBReader& r, const CItemList& list, int hit) {
    return readHit(r, list, hit, true);
}

std::string hitText(CEBReader& r, const CItemList& list, int hit) {
    return readHit(r, list, hit, false);
}

struct Book {
    std::string label;
    std::string catalog;  // path handed to addBook
    int kind;
};

// Books built once for all tests: EPWING and EB from one two-line source
// with a gaiji, and an ebzip copy of each.
class Groups : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        m_dir = new lftest::TestDir;
        const std::string root = m_dir->path();
        writeFile(root + "/8x16.hex", std::string("8 16\n00E9:") + lftest::kNarrowGlyphHex + "\n");
        writeFile(root + "/src.txt", "apple\nan edible fruit\nzoo\nplace with animals\n");
        writeFile(root + "/gaiji.txt", "caf\xC3\xA9\n");
        m_books = new std::vector<Book>;
        for (int ebType : {1, 0}) {
            lftest::BookRecipe r;
            r.outDir = root + (ebType ? "/epwing" : "/eb");
            r.ebType = ebType;
            r.hexFonts = {root + "/8x16.hex"};
            r.sources.push_back({root + "/src.txt", "", 2});
            r.sources.push_back({root + "/gaiji.txt", "", 4});
            lftest::BookRun run = lftest::buildBook(r);
            ASSERT_EQ(run.newBookResult, 0) << run.log();
            const char* catalog = ebType ? "/CATALOGS" : "/CATALOG";
            m_books->push_back({ebType ? "EPWING" : "EB", r.outDir + catalog, ebType});
            std::string z = r.outDir + "z";
            ASSERT_EQ(lftest::runCommand("mkdir -p '" + z + "' && ebzip -q -f -k -l 2 -o '" + z + "' '" + r.outDir +
                                         "' 2>&1"),
                      0);
            const char* names[] = {catalog + 1, ebType ? "CATALOGS.ebz" : "CATALOG.ebz", nullptr};
            const char* zipped = findAnyFile(z.c_str(), names, 1);
            ASSERT_TRUE(zipped != nullptr);
            m_books->push_back({std::string(ebType ? "EPWING" : "EB") + " ebzip", zipped, ebType});
        }
    }
    static void TearDownTestSuite() {
        delete m_books;
        delete m_dir;
    }
    static const Book& epwing() { return (*m_books)[0]; }
    static const Book& eb() { return (*m_books)[2]; }

    // One dictionary file of each kind 4 to 7 in the test's folder, each
    // holding "apple" among a few other words.
    struct Dictionaries {
        std::string pdic, lfd, ifo, mdx;
    };
    Dictionaries writeDictionaries() {
        Dictionaries d;
        d.pdic = m_tmp.file("words.DIC");
        EXPECT_TRUE(writeFile(d.pdic, lftest::buildPdic(lftest::PdicOptions(), lftest::pdicWorkedExampleBlocks())));
        d.lfd = m_tmp.file("mine.lfd");
        EXPECT_TRUE(makeUserDictionary(d.lfd, {{"apple", "a red fruit"}, {"zoo", "a park of animals"}}));
        d.ifo = lftest::writeStarDict(m_tmp.path(), "words", {{"apple", "a fruit"}, {"zoo", "animals"}});
        d.mdx = lftest::mdictFixture("v20_utf8_zlib.mdx");
        EXPECT_FALSE(d.mdx.empty()) << "the MDict fixtures were not written";
        return d;
    }

    static lftest::TestDir* m_dir;
    static std::vector<Book>* m_books;
    lftest::TestDir m_tmp;
};
lftest::TestDir* Groups::m_dir = nullptr;
std::vector<Book>* Groups::m_books = nullptr;

// One group holding a book of every kind: each entry opens through the group
// as a reader of its kind, a whole-word search finds the word the book holds
// and nothing for a word it lacks, and each hit, collected into one item list
// shared by the whole group, reads back as that word's heading and text.
TEST_F(Groups, OneGroupOfEveryKindFindsEachEntrysWords) {
    const std::string dir = m_tmp.path();
    // An EPWING copy whose text file is ebzip-compressed with stored slices.
    const std::string stored = dir + "/stored";
    ASSERT_EQ(lftest::runCommand("cp -r '" + m_dir->path() + "/epwing' '" + stored + "'"), 0);
    ASSERT_TRUE(
        writeFile(stored + "/TEST/DATA/HONMON.ebz", lftest::storedEbzip(readFile(stored + "/TEST/DATA/HONMON"))));
    ASSERT_EQ(unlink((stored + "/TEST/DATA/HONMON").c_str()), 0);

    const Dictionaries d = writeDictionaries();
    ASSERT_FALSE(HasFailure()) << "the dictionaries were not written";

    struct Case {
        std::string label;
        std::string path;
        int kind;
        const char* title;                   // null: not checked
        const char* heading;                 // the found word's heading
        const char* text;                    // words its text holds
        std::vector<std::string> beginning;  // headings of the words that begin "app"
    };
    std::vector<Case> cases;
    for (const Book& b : *m_books)
        cases.push_back({b.label, b.catalog, b.kind, "Test Book", "apple", "an edible fruit", {"apple"}});
    cases.push_back({"EPWING stored ebzip",
                     stored + "/CATALOGS",
                     BOOK_KIND_EPWING,
                     "Test Book",
                     "apple",
                     "an edible fruit",
                     {"apple"}});
    cases.push_back(
        {"PDIC", d.pdic, BOOK_KIND_PDIC, nullptr, "Apple", "\xE3\x82\x8A\xE3\x82\x93\xE3\x81\x94", {"Apple", "apply"}});
    cases.push_back({"user dictionary", d.lfd, BOOK_KIND_USER_DICT, "Small [User]", "apple", "a red fruit", {"apple"}});
    cases.push_back({"StarDict", d.ifo, BOOK_KIND_STARDICT, nullptr, "apple", "a fruit", {"apple"}});
    cases.push_back(
        {"MDict", d.mdx, BOOK_KIND_MDICT, nullptr, "apple", "a fruit that grows on trees", {"apple", "apply"}});

    CEBGroup group(dir.c_str());
    for (const Case& c : cases) {
        int index = group.addBook(c.path.c_str(), 0, nullptr);
        ASSERT_EQ(index, group.count() - 1) << c.label;
    }
    // Every entry of g opened through g and searched, the hits of all entries
    // collected into one list; found[i]: the item of entry i's whole-word hit.
    auto searchEveryEntry = [&](CEBGroup& g) {
        ASSERT_EQ(g.count(), static_cast<int>(cases.size()));
        CItemList list;
        std::vector<int> found;
        for (int i = 0; i < g.count(); ++i) {
            const Case& c = cases[static_cast<size_t>(i)];
            SCOPED_TRACE(c.label);
            GROUP_ENTRY* e;
            ASSERT_EQ(g.entry(i, &e), 1);
            EXPECT_EQ(e->kind, c.kind);
            EXPECT_EQ(e->opened, 1);
            CEBReader& r = *e->textReader;
            ASSERT_EQ(r.kind(), c.kind);
            char title[100];
            const int length = g.title(i, title, sizeof title);
            EXPECT_GT(length, 0);
            EXPECT_EQ(length, static_cast<int>(strlen(title)));
            if (c.title) {
                EXPECT_STREQ(title, c.title);
            }
            if (c.kind == BOOK_KIND_EPWING) {
                EXPECT_TRUE(e->fontReaders[0] != nullptr) << "narrow font";
            }

            r.resetHits();
            for (const char* missing : {"nothing", "appl", "apples"}) {
                EXPECT_EQ(searchEntry(r, missing), 0) << missing;
                EXPECT_EQ(r.collectHits(&list, list.count(), 0), 0) << missing;
            }
            const int first = list.count();
            ASSERT_EQ(searchEntry(r, "apple"), 1);
            ASSERT_EQ(r.collectHits(&list, first, 0), 1);
            ASSERT_EQ(list.count(), first + 1);
            EXPECT_EQ(hitHeading(r, list, first), c.heading);
            EXPECT_NE(hitText(r, list, first).find(c.text), std::string::npos) << hitText(r, list, first);
            found.push_back(first);

            const int n = static_cast<int>(c.beginning.size());
            ASSERT_EQ(searchEntry(r, "app", false), n);
            ASSERT_EQ(r.collectHits(&list, list.count(), 0), n);
            for (int k = 0; k < n; ++k)
                EXPECT_EQ(hitHeading(r, list, list.count() - n + k), c.beginning[static_cast<size_t>(k)]);
        }
        // The hits stay readable through their entries after every entry searched.
        for (int i = 0; i < g.count(); ++i) {
            GROUP_ENTRY* e;
            ASSERT_EQ(g.entry(i, &e), 1);
            EXPECT_NE(
                hitText(*e->textReader, list, found[static_cast<size_t>(i)]).find(cases[static_cast<size_t>(i)].text),
                std::string::npos)
                << cases[static_cast<size_t>(i)].label;
        }
    };
    searchEveryEntry(group);
    std::string file = m_tmp.file("HANDVIEW.grp");
    ASSERT_EQ(group.save(file.c_str()), 1);
    ASSERT_EQ(group.load(1), 1);
    {
        SCOPED_TRACE("every reader opened again");
        searchEveryEntry(group);
    }
    CEBGroup again(dir.c_str());
    ASSERT_EQ(again.readFile(file.c_str()), 1);
    {
        SCOPED_TRACE("read from the group file");
        searchEveryEntry(again);
    }
    char cut[5];
    EXPECT_EQ(group.title(0, cut, sizeof cut), 4);
    EXPECT_STREQ(cut, "Test");
}

TEST_F(Groups, GroupFileRoundTripsByteForByte) {
    // Paths under the base directory are written relative to it, others whole.
    const std::string base = m_dir->path() + "/epwing";
    std::string file = m_tmp.file("HANDVIEW.grp");
    std::string long_title(37, 'T');
    writeFile(file, "./CATALOGS|0|_|_|TEST    |My dict|\n" + eb().catalog +
                        "|0|_|_|TEST||\n./CATALOGS|0|_|_|TEST    |" + long_title +
                        "|\n%%bWordInflect=-1\n%%searchType=3\n%%bFindAllDict=1\n");
    CEBGroup group(m_tmp.path().c_str());
    group.setBaseDir(base.c_str());
    ASSERT_EQ(group.readFile(file.c_str()), 1);
    ASSERT_EQ(group.count(), 3);
    GROUP_ENTRY* e;
    ASSERT_EQ(group.entryPtr(0, &e), 1);
    EXPECT_EQ(std::string(e->path), epwing().catalog) << "relative to the base directory";
    EXPECT_STREQ(e->userTitle, "My dict");
    ASSERT_EQ(group.entryPtr(1, &e), 1);
    EXPECT_STREQ(e->userTitle, "");
    ASSERT_EQ(group.entryPtr(2, &e), 1);
    EXPECT_EQ(std::string(e->userTitle), long_title) << "a title as long as an entry holds";
    GROUP_SEARCH_OPTIONS o;
    group.getSearchOptions(&o);
    EXPECT_EQ(o.bWordInflect, -1);
    EXPECT_EQ(o.searchType, 3);
    EXPECT_EQ(o.bFindAllDict, 1);
    EXPECT_EQ(group.isModified(), 0);

    group.setModified(1);
    std::string copy = m_tmp.file("copy.grp");
    ASSERT_EQ(group.save(copy.c_str()), 1);
    std::string written = text(readFile(copy));
    // The EB entry is written with "G" only when its book is ISO 8859-1.
    EXPECT_EQ(written, text(readFile(file)));
}

// A UTF-8 title whose last byte is also a Shift_JIS lead byte (the
// continuation bytes 0x81-0x9F) stays apart from the field separator after
// it, on reading and after a save; a Shift_JIS title keeps a separator byte
// that is the second byte of its last character.
TEST_F(Groups, TitlesKeepTheirLastCharacterAcrossASave) {
    struct Case {
        const char* what;
        std::string field;
        std::string title;  // empty: the field
    } cases[] = {
        {"UTF-8 ending in 0x82", "\xE3\x81\x82", ""},                          // あ
        {"UTF-8 ending in 0x9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", ""},  // 日本語
        {"UTF-8 two-byte ending in 0x95", "_\xCA\x95", ""},
        {"Shift_JIS ending in a trail byte 0x7C", "\x83\x7C", ""},                // ポ
        {"Shift_JIS ending in a lead-range trail byte", "\x93\xFA\x96\x7B", ""},  // 日本
        // Read as Shift_JIS (the rest of the line is no UTF-8), the title holds
        // "|" as the second byte of 0x85 0x7C, yet reads as UTF-8 alone: it is
        // kept as a save writes it.
        {"Shift_JIS title that reads as UTF-8", "_\xCA\x85|_b|_|\x85\x85", "_\xCA\x85 _b"},
    };
    for (const Case& c : cases) {
        const std::string file = m_tmp.file("t.grp");
        const std::string title = c.title.empty() ? c.field : c.title;
        writeFile(file, epwing().catalog + "|0|_|_|TEST|" + c.field + "|\n");
        CEBGroup group(m_tmp.path().c_str());
        ASSERT_EQ(group.readFile(file.c_str()), 1) << c.what;
        ASSERT_EQ(group.count(), 1) << c.what;
        GROUP_ENTRY* e;
        ASSERT_EQ(group.entryPtr(0, &e), 1);
        EXPECT_EQ(std::string(e->userTitle), title) << c.what << ": read";
        group.setModified(1);
        const std::string copy = m_tmp.file("t2.grp");
        ASSERT_EQ(group.save(copy.c_str()), 1) << c.what;
        CEBGroup again(m_tmp.path().c_str());
        ASSERT_EQ(again.readFile(copy.c_str()), 1) << c.what;
        ASSERT_EQ(again.count(), 1) << c.what;
        ASSERT_EQ(again.entryPtr(0, &e), 1);
        EXPECT_EQ(std::string(e->userTitle), title) << c.what << ": after a save";
    }
}

TEST_F(Groups, EntriesWhoseBookIsMissingSurviveASave) {
    // A book on a disc that is not mounted is not an entry now, but saving
    // the group must not lose its line.
    std::string file = m_tmp.file("HANDVIEW.grp");
    const std::string missing = "/nonexistent/disc/CATALOGS|0|_|_|DICT    |Away|";
    writeFile(file, epwing().catalog + "|0|_|_|TEST||\n" + missing + "\n%%bWordInflect=0\n");
    CEBGroup group(m_tmp.path().c_str());
    ASSERT_EQ(group.readFile(file.c_str()), 1);
    EXPECT_EQ(group.count(), 1);
    GROUP_SEARCH_OPTIONS o;
    group.getSearchOptions(&o);
    o.searchType = 2;
    group.setSearchOptions(o);
    ASSERT_EQ(group.save(nullptr), 1);
    std::string written = text(readFile(file));
    EXPECT_NE(written.find(missing + "\n"), std::string::npos) << written;
    // Read and saved again, the line is still kept.
    CEBGroup again(m_tmp.path().c_str());
    ASSERT_EQ(again.readFile(file.c_str()), 1);
    EXPECT_EQ(again.count(), 1);
    again.setModified(1);
    ASSERT_EQ(again.save(nullptr), 1);
    EXPECT_NE(text(readFile(file)).find(missing + "\n"), std::string::npos);
}

TEST_F(Groups, DictionaryFilesAreEntriesOfTheirKind) {
    const Dictionaries d = writeDictionaries();
    ASSERT_FALSE(HasFailure()) << "the dictionaries were not written";
    struct Case {
        std::string path;
        int kind;
    } cases[] = {
        {d.ifo, BOOK_KIND_STARDICT}, {d.pdic, BOOK_KIND_PDIC}, {d.lfd, BOOK_KIND_USER_DICT}, {d.mdx, BOOK_KIND_MDICT}};
    CEBGroup group(m_tmp.path().c_str());
    for (const Case& c : cases) {
        int index = group.addBook(c.path.c_str(), 0, "mine");
        ASSERT_GE(index, 0) << c.path;
        GROUP_ENTRY* e;
        ASSERT_EQ(group.entryPtr(index, &e), 1);
        EXPECT_EQ(e->kind, c.kind) << c.path;
        EXPECT_EQ(e->opened, 0) << "dictionary files open on first use";
        // Opened through the group, the entry's reader is its back end.
        ASSERT_EQ(group.entry(index, &e), 1) << c.path;
        EXPECT_EQ(e->opened, 1) << c.path;
        ASSERT_TRUE(e->textReader != nullptr);
        EXPECT_EQ(e->textReader->kind(), c.kind) << c.path;
        char info[512];
        EXPECT_GT(e->textReader->bookInformation(info, sizeof info, 1), 0u) << c.path;
    }
    EXPECT_EQ(group.addBook(m_tmp.file("missing.ifo").c_str(), 0, nullptr), -1);
    std::string file = m_tmp.file("HANDVIEW.grp");
    ASSERT_EQ(group.save(file.c_str()), 1);
    const std::string saved = text(readFile(file));
    CEBGroup again(m_tmp.path().c_str());
    ASSERT_EQ(again.readFile(file.c_str()), 1);
    ASSERT_EQ(again.count(), 4);
    again.setModified(1);
    ASSERT_EQ(again.save(nullptr), 1);
    EXPECT_EQ(text(readFile(file)), saved);
}

TEST_F(Groups, UserDictionaryTitlesAndTheirMarkStayInTheBuffer) {
    CEBGroup group(m_tmp.path().c_str());
    for (const char* name : {"mine.lfd", "body.dsl.lfd"}) {
        ASSERT_TRUE(makeUserDictionary(m_tmp.file(name)));
        ASSERT_GE(group.addBook(m_tmp.file(name).c_str(), 0, nullptr), 0) << name;
    }
    struct Case {
        int entry;
        int size;
        const char* title;
    } cases[] = {
        {0, 100, "Small [User]"}, {1, 100, "Small"}, {0, 10, "Sm [User]"}, {0, 8, " [User]"}, {0, 5, "Smal"},
    };
    for (const Case& c : cases) {
        char out[120];
        memset(out, 'Z', sizeof out);
        EXPECT_EQ(group.title(c.entry, out, c.size), static_cast<int>(strlen(c.title))) << c.title;
        EXPECT_STREQ(out, c.title);
        for (size_t k = static_cast<size_t>(c.size); k < sizeof out; ++k)
            ASSERT_EQ(out[k], 'Z') << "written beyond the buffer: " << c.title;
    }
}

TEST_F(Groups, GroupFileLinesOfAnyLengthAndOptionLines) {
    struct Case {
        const char* what;
        std::string lines;
        int entries;
        int16_t searchType;
        const char* title;
    } cases[] = {
        {"unknown key and missing values", "%%other=5\n%%searchType\n%%searchType=\n", 0, -1, ""},
        {"option value", "%%searchType=3\n", 0, 3, ""},
        {"value after a tab", "%%searchType\t7\r\n", 0, 7, ""},
        {"value cut to 16 bits", "%%searchType=65539\n", 0, 3, ""},
        {"empty title field", epwing().catalog + "|0|_|_|TEST||\n", 1, -1, ""},
        {"\"_\" is no title", epwing().catalog + "|0|_|_|TEST|_|\n", 1, -1, ""},
        {"title cut at a character", epwing().catalog + "|0|_|_|TEST|" + std::string(36, 'x') + "\x82\xA0|\n", 1, -1,
         "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
        {"lead byte without its trail", epwing().catalog + "|0|_|_|TEST|ab\x83", 1, -1, "ab"},
        // What is left of the field is "_", which a saved file would read back as no title.
        {"\"_\" left once a lone lead byte goes", epwing().catalog + "|0|_|_|TEST|_\x82\n", 1, -1, ""},
        {"no index", epwing().catalog + "\n", 0, -1, ""},
        {"missing book", m_tmp.file("nothere/CATALOGS") + "|0|_|_|X|t|\n%%searchType=2\n", 0, 2, ""},
        {"long line", epwing().catalog + "|0|" + std::string(400, '_') + "|_|TEST|Kept|\n%%searchType=4\n", 1, 4,
         "Kept"},
        {"junk line longer than a read", std::string(600, 'x') + "|%%searchType=9|\n", 0, -1, ""},
    };
    for (const Case& c : cases) {
        std::string file = m_tmp.file("g.grp");
        writeFile(file, c.lines);
        CEBGroup group(m_tmp.path().c_str());
        ASSERT_EQ(group.readFile(file.c_str()), 1) << c.what;
        EXPECT_EQ(group.count(), c.entries) << c.what;
        GROUP_SEARCH_OPTIONS o;
        group.getSearchOptions(&o);
        EXPECT_EQ(o.searchType, c.searchType) << c.what;
        GROUP_ENTRY* e;
        if (c.entries) {
            ASSERT_EQ(group.entryPtr(0, &e), 1);
            EXPECT_STREQ(e->userTitle, c.title) << c.what;
        }
    }
    CEBGroup group(m_tmp.path().c_str());
    EXPECT_EQ(group.readFile(m_tmp.file("none.grp").c_str()), 0);
}

TEST_F(Groups, GroupFileTitlesAndIndexes) {
    // 36 letters and a three-byte UTF-8 character: 39 bytes, cut before the
    // character; 35 letters and a two-byte one: 37 bytes, whole.
    const std::string x36(36, 'x'), x35(35, 'x');
    struct Case {
        const char* what;
        std::string line;
        int entries;
        std::string title;
    } cases[] = {
        {"a title beginning with _", epwing().catalog + "|0|_|_|TEST|_mine|\n", 1, "_mine"},
        {"a title of underscores", epwing().catalog + "|0|_|_|TEST|__|\n", 1, "__"},
        {"a UTF-8 title cut at a character", epwing().catalog + "|0|_|_|TEST|" + x36 + "\xE3\x81\x82|\n", 1, x36},
        {"a UTF-8 title that fits", epwing().catalog + "|0|_|_|TEST|" + x35 + "\xC3\xA9|\n", 1, x35 + "\xC3\xA9"},
        {"a non-numeric index is refused", epwing().catalog + "|first|_|_|TEST|t|\n", 0, ""},
        {"and so is a negative one", epwing().catalog + "|-1|_|_|TEST|t|\n", 0, ""},
        {"and one with letters after it", epwing().catalog + "|0x|_|_|TEST|t|\n", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = m_tmp.file("g.grp");
        writeFile(file, c.line);
        CEBGroup group(m_tmp.path().c_str());
        ASSERT_EQ(group.readFile(file.c_str()), 1);
        ASSERT_EQ(group.count(), c.entries);
        GROUP_ENTRY* e;
        if (c.entries) {
            ASSERT_EQ(group.entryPtr(0, &e), 1);
            EXPECT_EQ(std::string(e->userTitle), c.title);
            EXPECT_TRUE(group.droppedLines().empty());
        } else {
            ASSERT_EQ(group.droppedLines().size(), 1u);
            EXPECT_EQ(group.droppedLines()[0].number, 1);
        }
    }
    // A title given by the caller is cut the same way.
    CEBGroup group(m_tmp.path().c_str());
    ASSERT_EQ(group.addBook(epwing().catalog.c_str(), 0, (x36 + "\xE3\x81\x82").c_str()), 0);
    GROUP_ENTRY* e;
    ASSERT_EQ(group.entryPtr(0, &e), 1);
    EXPECT_EQ(std::string(e->userTitle), x36);
}

TEST_F(Groups, GroupFileKeepsTheOrderOfItsLinesAndDropsWhatItCannotRead) {
    const std::string file = m_tmp.file("HANDVIEW.grp");
    const std::string a = epwing().catalog + "|0|_|_|TEST    ||";  // the slot's name as the catalog holds it
    const std::string b = eb().catalog + "|0|_|_|TEST||";
    const std::string away1 = "/nonexistent/one/CATALOGS|0|_|_|DICT    |One|";
    const std::string away2 = "/nonexistent/two/CATALOGS|1|_|_|DICT    |Two|";
    const std::string options = "%%bWordInflect=-1\n%%searchType=-1\n%%bFindAllDict=-1\n";
    writeFile(file, away1 + "\n" + a + "\n" + away2 + "\n\nnot an entry\n" + b + "\n" + epwing().catalog +
                        "|x|_|_|TEST||\n%%searchType=many\n%%colour=3\n" + options);
    CEBGroup group(m_tmp.path().c_str());
    ASSERT_EQ(group.readFile(file.c_str()), 1);
    EXPECT_EQ(group.count(), 2);
    // Lines that cannot be read are reported with their numbers, and dropped.
    std::vector<std::pair<int, std::string>> dropped;
    for (const GROUP_FILE_LINE& l : group.droppedLines()) dropped.push_back({l.number, l.text});
    EXPECT_EQ(dropped, (std::vector<std::pair<int, std::string>>{{5, "not an entry"},
                                                                 {7, epwing().catalog + "|x|_|_|TEST||"},
                                                                 {8, "%%searchType=many"},
                                                                 {9, "%%colour=3"}}));
    group.setModified(1);
    ASSERT_EQ(group.save(nullptr), 1);
    // Books that are away keep their places among the entries.
    EXPECT_EQ(text(readFile(file)), away1 + "\n" + a + "\n" + away2 + "\n" + b + "\n" + options);
    // Read and saved again: the same file.
    CEBGroup again(m_tmp.path().c_str());
    ASSERT_EQ(again.readFile(file.c_str()), 1);
    EXPECT_TRUE(again.droppedLines().empty());
    again.setModified(1);
    ASSERT_EQ(again.save(nullptr), 1);
    EXPECT_EQ(text(readFile(file)), away1 + "\n" + a + "\n" + away2 + "\n" + b + "\n" + options);
    // Removing an entry leaves the lines around it in their order.
    ASSERT_EQ(again.remove(0), 1);
    ASSERT_EQ(again.save(nullptr), 1);
    EXPECT_EQ(text(readFile(file)), away1 + "\n" + away2 + "\n" + b + "\n" + options);
}

TEST_F(Groups, SavingWritesWholeFilesAndKeepsWhatTheUserDid) {
    std::string file = m_tmp.file("HANDVIEW.grp");
    {
        CEBGroup fresh(m_tmp.path().c_str());
        EXPECT_EQ(fresh.save(nullptr), 0) << "a group never filled writes nothing";
        EXPECT_TRUE(lftest::listDir(m_tmp.path()).empty());
    }
    CEBGroup group(m_tmp.path().c_str());
    ASSERT_EQ(group.addBook(epwing().catalog.c_str(), 0, "a|b\r\nc"), 0);
    ASSERT_EQ(group.save(nullptr), 1);
    EXPECT_EQ(lftest::listDir(m_tmp.path()), std::vector<std::string>{"HANDVIEW.grp"}) << "no temporary file left";
    EXPECT_NE(text(readFile(file)).find("|a b  c|\n"), std::string::npos) << text(readFile(file));

    // The file is replaced as a whole: a second name of the old file keeps the old text.
    std::string link = m_tmp.file("old.grp");
    ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
    const std::string before = text(readFile(file));
    ASSERT_EQ(group.setUserTitle(0, "new title"), 1);
    ASSERT_EQ(group.save(nullptr), 1);
    EXPECT_EQ(text(readFile(link)), before);
    EXPECT_NE(text(readFile(file)).find("|new title|\n"), std::string::npos);

    // Unmodified: nothing written.
    writeFile(file, "changed outside");
    EXPECT_EQ(group.save(nullptr), 1);
    EXPECT_EQ(text(readFile(file)), "changed outside");
    // Saved under another name: written although unmodified.
    ASSERT_EQ(group.save(m_tmp.file("other.grp").c_str()), 1);
    EXPECT_EQ(text(readFile(m_tmp.file("other.grp"))), before.substr(0, before.find('|')) +
                                                           "|0|_|_|TEST    |new title|\n" +
                                                           "%%bWordInflect=-1\n%%searchType=-1\n%%bFindAllDict=-1\n");
    ASSERT_EQ(group.save(file.c_str()), 1);

    // Changed search options are saved; the same options change nothing.
    GROUP_SEARCH_OPTIONS o = {-1, -1, -1};
    group.setSearchOptions(o);
    EXPECT_EQ(group.isModified(), 0);
    o.searchType = 2;
    group.setSearchOptions(o);
    EXPECT_EQ(group.isModified(), 1);
    ASSERT_EQ(group.save(nullptr), 1);
    EXPECT_NE(text(readFile(file)).find("%%searchType=2\n"), std::string::npos);

    // A group emptied by the user is saved empty; the entry does not come back.
    ASSERT_EQ(group.remove(0), 1);
    ASSERT_EQ(group.save(nullptr), 1);
    EXPECT_EQ(text(readFile(file)), "%%bWordInflect=-1\n%%searchType=2\n%%bFindAllDict=-1\n");
    ASSERT_EQ(group.readFile(file.c_str()), 1);
    EXPECT_EQ(group.count(), 0);

    // A file that cannot be written: 0, still modified, the old file intact.
    ASSERT_EQ(group.addBook(epwing().catalog.c_str(), 0, nullptr), 0);
    EXPECT_EQ(group.save(m_tmp.file("no/such/dir/HANDVIEW.grp").c_str()), 0);
    EXPECT_EQ(group.isModified(), 1);
}

TEST_F(Groups, AddingSaysWhenNothingWasAdded) {
    std::string odd = m_tmp.file("x|y");
    ASSERT_EQ(lftest::runCommand("cp -r '" + m_dir->path() + "/epwing' '" + odd + "'"), 0);
    CEBGroup group(m_tmp.path().c_str());
    EXPECT_EQ(group.addBook(epwing().catalog.c_str(), 0, nullptr), 0);
    EXPECT_EQ(group.addBook(epwing().catalog.c_str(), 0, nullptr), 1) << "the same subbook twice";
    group.setModified(0);
    struct Case {
        const char* what;
        std::string path;
        int subbook;
    } cases[] = {
        {"no such subbook", epwing().catalog, 5},
        {"no such file", m_tmp.file("CATALOGS"), 0},
        {"\"|\" in the path", odd + "/CATALOGS", 0},
        {"line break in the path", m_tmp.file("a\nb/CATALOGS"), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(group.addBook(c.path.c_str(), c.subbook, nullptr), -1) << c.what;
    EXPECT_EQ(group.count(), 2);
    EXPECT_EQ(group.isModified(), 0);
}

TEST_F(Groups, ScanFindsBooksButNotInMediaFolders) {
    std::string root = m_tmp.path();
    ASSERT_EQ(lftest::runCommand("mkdir -p '" + root + "/a/SOUND' && cp -r '" + m_dir->path() + "/epwing' '" + root +
                                 "/a/b' && cp -r '" + m_dir->path() + "/eb' '" + root + "/a/SOUND/c' && cp -r '" +
                                 m_dir->path() + "/epwingz' '" + root + "/d' && touch '" + root + "/notes.txt'"),
              0);
    CEBGroup group(root.c_str());
    group.scanDirectory(root.c_str(), 3);
    EXPECT_EQ(group.count(), 2);
    CEBGroup shallow(root.c_str());
    shallow.scanDirectory(root.c_str(), 0);
    EXPECT_EQ(shallow.count(), 0);
}

TEST_F(Groups, UnfilledSlotFieldsNeverChooseHowABookIsRead) {
    for (const Book* b : {&epwing(), &eb()}) {
        CEBCatalog catalog;
        char dir[kPathSize];
        pathDirName(b->catalog.c_str(), dir);
        ASSERT_GT(catalog.readCatalog(dir, "r", b->kind), 0);
        SUBBOOK_INFO* slot = catalog.subbook(0);
        // Codes a catalog of version 1 (or EB) does not carry.
        slot->version = static_cast<unsigned char>(b->kind);
        slot->textCompression = 17;
        slot->graphicsCompression = 18;
        CEBGroup group(m_tmp.path().c_str());
        ASSERT_EQ(group.addEntry(&catalog, b->catalog.c_str(), 0, nullptr), 1) << b->label;
        GROUP_ENTRY* e;
        ASSERT_EQ(group.entry(0, &e), 1) << b->label;
        EXPECT_GE(e->textReader->wordSearch("apple", 0, 0, HIT_ADD), 1) << b->label;
    }
}

TEST_F(Groups, FailedOpeningReleasesWhatItOpened) {
    std::string book = m_tmp.file("book");
    ASSERT_EQ(lftest::runCommand("cp -r '" + m_dir->path() + "/epwing' '" + book + "' && mkdir '" + book +
                                 "/TEST/DATA/HONMONS'"),
              0);
    CEBGroup group(m_tmp.path().c_str());
    ASSERT_EQ(group.addBook((book + "/CATALOGS").c_str(), 0, nullptr), 0);
    GROUP_ENTRY* e;
    EXPECT_EQ(group.entry(0, &e), 0) << "a sound file that cannot be opened";
    ASSERT_EQ(group.entryPtr(0, &e), 1);
    EXPECT_EQ(e->opened, 0);
    EXPECT_FALSE(e->textReader->isOpen());
    EXPECT_EQ(e->soundReader, nullptr);
    EXPECT_EQ(e->graphicsReader, nullptr);
    for (auto& f : e->fontReaders) EXPECT_EQ(f, nullptr);
    ASSERT_EQ(rmdir((book + "/TEST/DATA/HONMONS").c_str()), 0);
    ASSERT_EQ(group.entry(0, &e), 1) << "the next use tries again";
    EXPECT_GE(e->textReader->wordSearch("zoo", 0, 0, HIT_ADD), 1);
}

TEST_F(Groups, ReopeningLeavesEntriesWhoseBookIsAwayUnopened) {
    const Dictionaries d = writeDictionaries();
    ASSERT_FALSE(HasFailure()) << "the dictionaries were not written";
    ASSERT_EQ(
        lftest::runCommand("cp -r '" + m_dir->path() + "/epwing' '" + m_dir->path() + "/eb' '" + m_tmp.path() + "'"),
        0);
    struct Case {
        std::string path;  // handed to addBook
        std::string file;  // the file taken away
    } cases[] = {
        {m_tmp.file("epwing/CATALOGS"), m_tmp.file("epwing/TEST/DATA/HONMON")},
        {m_tmp.file("eb/CATALOG"), m_tmp.file("eb/TEST/START")},
        {d.pdic, d.pdic},
        {d.lfd, d.lfd},
        {d.ifo, d.ifo},
        {d.mdx, d.mdx},
    };
    CEBGroup group(m_tmp.path().c_str());
    for (const Case& c : cases) ASSERT_GE(group.addBook(c.path.c_str(), 0, nullptr), 0) << c.path;
    ASSERT_EQ(group.save(m_tmp.file("HANDVIEW.grp").c_str()), 1);
    GROUP_ENTRY* e;
    for (int i = 0; i < group.count(); ++i) ASSERT_EQ(group.entry(i, &e), 1);

    for (const Case& c : cases) ASSERT_EQ(rename(c.file.c_str(), (c.file + ".away").c_str()), 0) << c.file;
    ASSERT_EQ(group.load(1), 1);
    for (int i = 0; i < group.count(); ++i) {
        SCOPED_TRACE(cases[i].path);
        EXPECT_EQ(group.entry(i, &e), 0) << "closed readers handed out as an open entry";
        ASSERT_EQ(group.entryPtr(i, &e), 1);
        EXPECT_EQ(e->opened, 0);
        EXPECT_FALSE(e->textReader->isOpen());
    }
    for (const Case& c : cases) ASSERT_EQ(rename((c.file + ".away").c_str(), c.file.c_str()), 0) << c.file;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < group.count(); ++i) {
            SCOPED_TRACE(cases[i].path);
            ASSERT_EQ(group.entry(i, &e), 1) << "the book is back";
            EXPECT_EQ(searchEntry(*e->textReader, "apple"), 1);
        }
        ASSERT_EQ(group.load(1), 1);
    }
}

TEST_F(Groups, EditingAndHistoryIndexesFollowTheEntries) {
    CEBGroup group(m_tmp.path().c_str());
    for (const char* t : {"A", "B", "C", "D"}) ASSERT_GE(group.addBook(epwing().catalog.c_str(), 0, t), 0);
    auto order = [&] {
        std::string s;
        for (int i = 0; i < group.count(); ++i) {
            GROUP_ENTRY* e;
            group.entryPtr(i, &e);
            s += e->userTitle;
        }
        return s;
    };
    // Each visit's block names the entry's title: 10 for A, 11 for B, ...
    auto visit = [&](int entry) {
        group.pushHistory(entry, BLOCK_POS{static_cast<uint32_t>(10 + entry), 0}, BLOCK_POS{0, 0});
    };
    // History of entries (by title): A B C D.
    for (int i = 0; i < 4; ++i) visit(i);
    auto historyTitles = [&] {
        std::string s;
        int saved = group.historyPosition();
        // Walk back from the end, then restore the position by stepping forward.
        int entry;
        BLOCK_POS a, b;
        while (group.stepHistory(-1, &entry, &a, &b)) {
            GROUP_ENTRY* e;
            EXPECT_EQ(group.entryPtr(entry, &e), 1);
            EXPECT_EQ(std::string(1, static_cast<char>('A' + a.block - 10)), e->userTitle)
                << "positions stay with their entry";
            s = e->userTitle + s;
        }
        while (group.historyPosition() < saved) group.stepHistory(1, &entry, &a, &b);
        return s;
    };
    ASSERT_EQ(historyTitles(), "ABCD");

    group.setModified(0);
    EXPECT_EQ(group.moveByOne(0, -1), 0);
    EXPECT_EQ(group.moveByOne(3, 1), 0);
    EXPECT_EQ(group.move(2, 2), 1);
    EXPECT_EQ(group.isModified(), 1);
    EXPECT_EQ(group.move(0, 4), 0);

    ASSERT_EQ(group.move(0, 2), 1);
    EXPECT_EQ(order(), "BCAD");
    // Move keeps the recorded entries: the history now names them at their new places.
    EXPECT_EQ(historyTitles(), "ABCD");
    ASSERT_EQ(group.moveByOne(3, -1), 1);
    EXPECT_EQ(order(), "BCDA");
    EXPECT_EQ(historyTitles(), "ABCD");
    ASSERT_EQ(group.remove(1), 1);  // C
    EXPECT_EQ(order(), "BDA");
    EXPECT_EQ(historyTitles(), "ABD");
    EXPECT_EQ(group.historyTop(), 3);
    EXPECT_EQ(group.remove(3), 0);
}

TEST(GroupHistory, PushesAndSteps) {
    CEBGroup group("/nonexistent");
    BLOCK_POS p{5, 10}, q{0, 0};
    group.pushHistory(0, p, q);
    group.pushHistory(0, p, q);
    EXPECT_EQ(group.historyTop(), 1) << "the same place twice is one record";
    for (uint32_t b = 1; b <= 17; ++b) group.pushHistory(1, BLOCK_POS{b, 0}, q);
    EXPECT_EQ(group.historyTop(), kGroupHistoryCapacity);
    int entry = -1;
    BLOCK_POS a{}, c{};
    EXPECT_EQ(group.stepHistory(-1, &entry, &a, &c), 1);
    EXPECT_EQ(a.block, 17u);
    for (int k = 0; k < 15; ++k) group.stepHistory(-1, &entry, &a, &c);
    EXPECT_EQ(a.block, 2u) << "the oldest records were dropped";
    EXPECT_EQ(group.stepHistory(-1, &entry, &a, &c), 0);
    EXPECT_EQ(group.stepHistory(1, &entry, &a, &c), 1);
    group.pushHistory(2, BLOCK_POS{99, 0}, q);
    EXPECT_EQ(group.historyTop(), 2) << "a new push removes the forward records";
    EXPECT_EQ(group.stepHistory(1, &entry, &a, &c), 0);
}

}  // namespace

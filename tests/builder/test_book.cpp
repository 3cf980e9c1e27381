// The book writer: string table, stop words, keyword list, sources, the
// complex-search temp file, progress arithmetic and the plain text reader.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "builder/CStringTable.h"
#include "builder/sources/CPlainParser.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/pathutil.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

namespace {

// A driver with an open book in a temp directory.
struct OpenBook {
    TestDir dir;
    CEPWing w;
    explicit OpenBook(int indexDef = 0, const char* complexDef = nullptr, const char* keywordFile = nullptr) {
        w.init();
        lftest::capturedMessages().clear();
        w.setMessageCallback(lftest::captureMessage);
        w.setOutput((dir.path() + "/").c_str(), 1);
        result =
            w.newBook("T", "BOOK", 0x60, nullptr, nullptr, complexDef, keywordFile, 0, nullptr, indexDef, false, 0, 0);
    }
    ~OpenBook() { w.term(); }
    CEBBook* book() { return w.book(); }
    int result;
};

std::string codesOf(std::initializer_list<unsigned> list) {
    std::string out;
    for (unsigned c : list) {
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

// The bytes a memory-mode stream holds, from its first block through the
// current position.
std::string streamBytes(CBlockStream& s) {
    std::string out;
    BLOCK_POS end;
    s.tell(&end);
    for (uint32_t b = s.startBlock(); b <= end.block; ++b) {
        const unsigned char* p = s.page(b - s.startBlock());
        size_t n = b == end.block ? end.offset : 2048;
        out.append(reinterpret_cast<const char*>(p), n);
    }
    return out;
}

// Runs the plain text reader over bytes and returns the text codes written.
std::string plainText(CEBBook* book, const std::string& bytes, TestDir& dir) {
    const std::string path = dir.file("plain.txt");
    lftest::writeFile(path, bytes);
    SOURCE_INFO src;
    std::memset(&src, 0, sizeof src);
    std::strcpy(src.path, path.c_str());
    src.type = 4;
    src.fileSize = static_cast<int64_t>(bytes.size());
    CBlockStream body(2, 0);
    CPlainParser parser;
    parser.parse(book, book->getOptions(), &src, &body, 0);
    return streamBytes(body);
}

}  // namespace

// ---- string table ----

TEST(BookStringTable, OverflowIsAnError) {
    CEBBook book;
    ASSERT_EQ(book.allocStringT(16), 0);
    EXPECT_EQ(book.stringTUsed(), 1u);  // offset 0 holds an empty string
    const char* p = book.addStringT("abcdefghijklmno", 15);
    EXPECT_EQ(std::memcmp(p, "abcdefghijklmno", 15), 0);
    EXPECT_EQ(book.stringTUsed(), 16u);
    try {
        book.addStringT("x", 1);
        FAIL() << "no overflow error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "string table overflow");
    }
    // An existing table is kept.
    EXPECT_EQ(book.allocStringT(1000), 0);
    EXPECT_EQ(book.stringTSize(), 16u);
    book.restoreStringT(1);
    EXPECT_EQ(book.stringTUsed(), 1u);
}

// The table is a capacity filled piece by piece: a capacity of several
// chunks fills to the byte, every text keeps its address and bytes however
// the texts fall on the chunk edges, the overflow comes at exactly the
// capacity, and dropping texts after a mark reaches back across chunks.
TEST(BookStringTable, FillsItsCapacityToTheByteAcrossChunks) {
    const size_t capacity = 3 * CStringTable::kFirstChunk + 12345;
    CEBBook book;
    ASSERT_EQ(book.allocStringT(capacity), 0);
    struct Stored {
        const char* at;
        std::string text;
    };
    std::vector<Stored> stored;
    auto add = [&](size_t n) {
        std::string text(n, 0);
        for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + (stored.size() * 7 + i) % 26);
        stored.push_back({book.addStringT(text.data(), n), text});
    };
    auto allKept = [&](size_t count) {
        for (size_t i = 0; i < count; ++i)
            if (std::string(stored[i].at, stored[i].text.size()) != stored[i].text) return false;
        return true;
    };
    // Lengths that do not divide a chunk, one text larger than the first
    // chunk, and empty texts.
    const size_t big = CStringTable::kFirstChunk + 100;
    add(big);
    for (size_t n = 0; book.stringTUsed() + 1000 < capacity; n = (n + 337) % 1000) add(n);
    const size_t mark = book.stringTUsed();
    const size_t keep = stored.size();
    add(capacity - book.stringTUsed());
    EXPECT_EQ(book.stringTUsed(), capacity);
    EXPECT_TRUE(allKept(stored.size()));
    for (size_t n : {size_t(1), capacity}) {
        try {
            book.addStringT("x", n);
            ADD_FAILURE() << "no overflow error for " << n;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "string table overflow");
        }
    }
    EXPECT_NE(book.addStringT("", 0), nullptr);  // nothing more still fits

    // Back to a mark in the first chunks; the space after it is free again.
    book.restoreStringT(capacity + 1);  // beyond the used bytes: no change
    EXPECT_EQ(book.stringTUsed(), capacity);
    book.restoreStringT(mark);
    EXPECT_EQ(book.stringTUsed(), mark);
    stored.resize(keep);
    book.restoreStringT(big + 1);
    stored.resize(1);
    EXPECT_EQ(book.stringTUsed(), big + 1);
    while (book.stringTUsed() + 5000 < capacity) add(5000);
    add(capacity - book.stringTUsed());
    EXPECT_EQ(book.stringTUsed(), capacity);
    EXPECT_TRUE(allKept(stored.size()));
    EXPECT_THROW(book.addStringT("x", 1), std::runtime_error);
    book.freeStringT();
    EXPECT_EQ(book.stringTUsed(), 0u);
    EXPECT_THROW(book.addStringT("x", 1), std::runtime_error);
}

TEST(BookStringTable, SizeNeverBelowTheDefault) {
    struct Case {
        int maxStringT;
        size_t size;
    } cases[] = {{0, 256000000u}, {1000, 256000000u}, {300000000, 300000000u}};
    for (const auto& c : cases) {
        TestDir dir;
        CEPWing w;
        w.init();
        w.setIntOption("maxStringT", c.maxStringT);
        w.setOutput((dir.path() + "/").c_str(), 1);
        ASSERT_EQ(w.newBook("T", "BOOK", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0), 0);
        EXPECT_EQ(w.book()->stringTSize(), c.size) << c.maxStringT;
        w.term();
    }
}

// ---- keyword list ----

TEST(BookKeywords, ListIsSortedWithItsSentinel) {
    TestDir kw;
    lftest::writeFile(kw.file("kw.txt"), std::string("zeta\tZ\r\nabc\n\n\talpha\tA\n"));
    OpenBook b(0, nullptr, kw.file("kw.txt").c_str());
    ASSERT_EQ(b.result, 0);
    const auto& k = b.book()->keywords();
    ASSERT_EQ(k.size(), 4u);
    EXPECT_STREQ(k[0].key, "abc");
    EXPECT_EQ(k[0].second, nullptr);
    EXPECT_STREQ(k[1].key, "alpha");  // a leading tab is a delimiter
    EXPECT_STREQ(k[1].second, "A");
    EXPECT_STREQ(k[2].key, "zeta");  // no CR in the key or its second form
    EXPECT_STREQ(k[2].second, "Z");
    EXPECT_EQ(k[3].keyLen, 30);
    EXPECT_EQ(std::string(k[3].key), std::string(30, '\xFF'));
}

TEST(BookKeywords, MissingListFailsTheOpen) {
    TestDir kw;
    OpenBook b(0, nullptr, kw.file("none.txt").c_str());
    EXPECT_EQ(b.result, -1);
    EXPECT_EQ(lftest::capturedMessages().back(), "Keyword file not found(LoadKeyword)");
}

// ---- sources ----

TEST(BookSources, AddSourceMeasuresAndCopies) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    lftest::writeFile(b.dir.file("s.txt"), std::string("12345"));
    const std::string longPath(300, 'a');
    EXPECT_EQ(b.book()->addSource(b.dir.file("missing.txt").c_str(), nullptr, 4, nullptr), -1);
    EXPECT_EQ(b.book()->addSource(longPath.c_str(), nullptr, 4, nullptr), -1);
    EXPECT_EQ(b.book()->addSource(nullptr, nullptr, 4, nullptr), -1);
    EXPECT_EQ(b.book()->addSource(b.dir.path().c_str(), nullptr, 4, nullptr), -1);  // a directory
    EXPECT_TRUE(b.book()->sources().empty());
    std::string fields = "sjis,tab,h";
    ASSERT_EQ(b.book()->addSource(b.dir.file("s.txt").c_str(), "Title", 9, fields.c_str()), 0);
    fields[0] = 'X';
    ASSERT_EQ(b.book()->sources().size(), 1u);
    const SOURCE_INFO& s = b.book()->sources()[0];
    EXPECT_EQ(s.fileSize, 5);
    EXPECT_EQ(s.type, 9);
    EXPECT_STREQ(s.title, "Title");
    EXPECT_STREQ(s.fields, "sjis,tab,h");
}

// A source the book writer leaves out is named in the log with the reason
// and counted in the result; the book is still written from the others.
TEST(BookSources, SourcesLeftOutAreNamedCountedAndTheBookIsStillWritten) {
    const struct {
        const char* name;
        int type;
        const char* fields;
        bool removeFile;  // removed between addSource and make
        const char* reason;
    } cases[] = {
        {"type 8 has no reader", 8, "", false, "no reader for source type 8"},
        {"type 42 has no reader", 42, "", false, "no reader for source type 42"},
        {"unknown delimiter", 9, "delim=x;fields=headword|meaning|", false, "unknown delimiter \"x\" in field spec"},
        {"unknown field type", 9, "fields=headword|gloss|", false, "unknown field type \"gloss\" in field spec"},
        {"unknown encoding", 9, "enc=latin-1;fields=headword|meaning|", false,
         "unknown encoding \"latin-1\" in field spec"},
        {"no field spec", 9, "", false, "empty field spec"},
        {"file gone before the build", 5, "", true, "can't open source file"},
        {"markup file gone before the build", 0, "", true, "can't open source file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        lftest::writeFile(dir.file("good.txt"), std::string("apple /// fruit\r\n"));
        lftest::writeFile(dir.file("bad.txt"), std::string("pear,fruit\n"));
        lftest::BookRecipe r;
        r.outDir = dir.path();
        r.sources.push_back({dir.file("good.txt"), "", 5});
        r.sources.push_back({dir.file("bad.txt"), "", c.type, c.fields});
        if (c.removeFile) {
            // addSource sees the file; make does not.
            r.sources.back().path = dir.file("gone.txt");
            lftest::writeFile(dir.file("gone.txt"), std::string("pear /// fruit\r\n"));
            r.beforeMake = [&] { ::unlink(dir.file("gone.txt").c_str()); };
        }
        lftest::BookRun run = lftest::buildBook(r);
        EXPECT_TRUE(run.result.written) << run.log();
        EXPECT_FALSE(run.result.aborted);
        EXPECT_EQ(run.result.failedSources, 1) << run.log();
        EXPECT_FALSE(run.result.succeeded());
        const std::string line = r.sources.back().path + " : " + c.reason + ", source left out\r\n";
        EXPECT_NE(run.log().find(line), std::string::npos) << run.log();
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
        EXPECT_TRUE(probe.search(0, lftest::EbSearchKind::Word, {"pear"}).empty());
    }
}

// A book of which every source failed (refused by addSource, left out by
// the program, or refused by its reader) is not written: the earlier files
// of its folder and the catalog stay as they were. A book given no source
// at all is still written.
TEST(BookSources, ABookOfWhichEverySourceFailedLeavesTheEarlierFiles) {
    enum Failure { kNoReader = 1, kRefusedSpec = 2, kGone = 4, kRefusedByAdd = 8, kLeftOut = 16 };
    const struct {
        const char* name;
        int failures;
    } cases[] = {
        {"no reader", kNoReader},
        {"a refused field spec", kRefusedSpec},
        {"gone before the build", kGone},
        {"refused by addSource", kRefusedByAdd},
        {"left out by the program", kLeftOut},
        {"all of them", kNoReader | kRefusedSpec | kGone | kRefusedByAdd | kLeftOut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        lftest::writeFile(dir.file("good.txt"), std::string("apple /// fruit\r\n"));
        lftest::writeFile(dir.file("bad.txt"), std::string("pear,fruit\n"));
        lftest::writeFile(dir.file("gone.txt"), std::string("pear /// fruit\r\n"));
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.sources.push_back({dir.file("good.txt"), "", 5});
        ASSERT_TRUE(lftest::buildBook(r).result.succeeded());
        const std::map<std::string, lftest::Bytes> before = lftest::readTree(r.outDir);

        r.sources.clear();
        if (c.failures & kNoReader) r.sources.push_back({dir.file("bad.txt"), "", 8});
        if (c.failures & kRefusedSpec) r.sources.push_back({dir.file("bad.txt"), "", 9, "fields=headword|gloss|"});
        if (c.failures & kGone) {
            r.sources.push_back({dir.file("gone.txt"), "", 5});
            r.beforeMake = [&] { ::unlink(dir.file("gone.txt").c_str()); };
        }
        if (c.failures & kRefusedByAdd) r.sources.push_back({dir.file("missing.txt"), "", 5});
        CEPWing* driver = nullptr;
        r.configure = [&](CEPWing& w) { driver = &w; };
        if (c.failures & kLeftOut) {
            const std::function<void()> unlinkFirst = r.beforeMake;
            r.beforeMake = [&driver, unlinkFirst] {
                driver->leaveOutSource();
                if (unlinkFirst) unlinkFirst();
            };
        }
        lftest::BookRun run = lftest::buildBook(r);
        EXPECT_FALSE(run.result.written) << run.log();
        EXPECT_FALSE(run.result.aborted);
        EXPECT_NE(run.log().find("no source of the book could be read: the book is not written"), std::string::npos)
            << run.log();
        EXPECT_NE(run.log().find("No book completed: the catalog CATALOGS is left as it was"), std::string::npos)
            << run.log();
        EXPECT_TRUE(lftest::readTree(r.outDir) == before) << run.log();
        lftest::EbProbe probe(r.outDir);
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"apple"}).size(), 1u) << probe.error();
    }
    TestDir dir;
    lftest::BookRecipe r;
    r.outDir = dir.path();
    lftest::BookRun run = lftest::buildBook(r);
    EXPECT_TRUE(run.result.succeeded()) << run.log();
    lftest::EbProbe probe(dir.path());
    EXPECT_TRUE(probe.ok()) << probe.error();
}

TEST(BookMake, MakeWithoutOpenOnlyReports) {
    CEBBook book;
    lftest::capturedMessages().clear();
    book.setMessageCallback(lftest::captureMessage);
    EXPECT_FALSE(book.make().written);
    EXPECT_EQ(lftest::capturedMessages(), (std::vector<std::string>{"no book is open(make)\r\n"}));
    EXPECT_EQ(book.getProgress(), 100);
}

TEST(BookMessages, PostMessageReachesTheCallbackOnlyWhenSet) {
    CEBBook book;
    lftest::capturedMessages().clear();
    CEBBook::postMessage(&book, "lost");
    CEBBook::postMessage(nullptr, "lost");
    book.setMessageCallback(lftest::captureMessage);
    CEBBook::postMessage(&book, "kept");
    EXPECT_EQ(lftest::capturedMessages(), (std::vector<std::string>{"kept"}));
}

// ---- complex-search temp file ----

// A definition file of one search with one field, for the whole program.
const char* definitionFile() {
    static TestDir dir;
    static const std::string path = dir.file("complex.def");
    static const bool written = lftest::writeFile(path, std::string("<COMPLEX><GROUP name=a></GROUP></COMPLEX>\n"));
    (void)written;
    return path.c_str();
}

TEST(BookComplexTemp, CreatedExclusivelyAndRemovedOnEveryPath) {
    const int kComplex = 0x21;  // prefix headword + complex
    std::string path;
    {
        OpenBook b(kComplex, definitionFile());
        ASSERT_EQ(b.result, 0);
        path = b.book()->complexTempPath();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.rfind("/tmp/cplx", 0), 0u) << path;
        struct stat st;
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 0077, 0u) << "readable by others";
        b.w.makeBook();
        EXPECT_FALSE(::fileExists(path.c_str())) << "left after make";
        EXPECT_STREQ(b.book()->complexTempPath(), "");
    }
    {
        // A book that is never made: removed with the writer.
        OpenBook b(kComplex, definitionFile());
        path = b.book()->complexTempPath();
        ASSERT_FALSE(path.empty());
    }
    EXPECT_FALSE(::fileExists(path.c_str())) << "left after term";
    {
        // An abort ends the build before the temp file's step: still removed.
        OpenBook b(kComplex, definitionFile());
        path = b.book()->complexTempPath();
        b.w.abort();
        b.w.makeBook();
        EXPECT_FALSE(::fileExists(path.c_str())) << "left after abort";
    }
    {
        // Without a definition file there is no complex search, no temp file.
        OpenBook b(kComplex, nullptr);
        EXPECT_STREQ(b.book()->complexTempPath(), "");
        EXPECT_EQ(b.w.options().idx[IDX_COMPLEX], 0);
    }
}

TEST(BookComplexTemp, NeverWritesThroughAPlantedLink) {
    TestDir victim;
    const std::string target = victim.file("victim.txt");
    lftest::writeFile(target, std::string("keep"));
    const std::string planted = "/tmp/cplx" + std::to_string(getpid()) + ".txt";
    ::unlink(planted.c_str());
    ASSERT_EQ(symlink(target.c_str(), planted.c_str()), 0);
    {
        OpenBook b(0x21, definitionFile());
        ASSERT_EQ(b.result, 0);
        EXPECT_NE(std::string(b.book()->complexTempPath()), planted);
        b.w.makeBook();
    }
    auto bytes = lftest::readFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep");
    struct stat st;
    EXPECT_EQ(lstat(planted.c_str(), &st), 0);
    ::unlink(planted.c_str());
}

// ---- progress ----

TEST(BookProgress, PercentNeverDividesByZeroOrOverflows) {
    struct Case {
        int64_t done, total;
        int percent;
    } cases[] = {
        {0, 0, 100},  // empty source
        {5, 0, 100},
        {0, 10, 0},
        {5, 10, 50},
        {3000000000LL, 6000000000LL, 50},  // beyond 2 GB
        {5999999999LL, 6000000000LL, 99},
        {7000000000LL, 6000000000LL, 100},
    };
    for (const auto& c : cases) EXPECT_EQ(CEBBook::percentOf(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

// ---- plain text reader ----

TEST(BookPlainText, LinesBecomeBookLines) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    struct Case {
        const char* what;
        std::string bytes;
        std::string text;
    } cases[] = {
        {"empty file", "", codesOf({0x1F02, 0x1F03})},
        {"last line without a line break", "\x82\xa0", codesOf({0x1F02, 0x2422, 0x1F0A, 0x1F03})},
        {"line break at the end adds no line", "\x82\xa0\r\n", codesOf({0x1F02, 0x2422, 0x1F0A, 0x1F03})},
        {"CR LF, CR and LF", "\x82\xa0\r\n\x82\xa2\r\x82\xa4\n",
         codesOf({0x1F02, 0x2422, 0x1F0A, 0x2424, 0x1F0A, 0x2426, 0x1F0A, 0x1F03})},
        {"empty lines stay", "\n\n", codesOf({0x1F02, 0x1F0A, 0x1F0A, 0x1F03})},
        {"UTF-8 mark is dropped", "\xEF\xBB\xBF\xE3\x81\x82", codesOf({0x1F02, 0x2422, 0x1F0A, 0x1F03})},
        {"UTF-16LE", std::string("\xFF\xFE\x42\x30\n\x00", 6), codesOf({0x1F02, 0x2422, 0x1F0A, 0x1F03})},
    };
    for (const auto& c : cases) EXPECT_EQ(plainText(b.book(), c.bytes, b.dir), c.text) << c.what;
}

TEST(BookPlainText, LongWideTextKeepsEveryCharacter) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    // UTF-16LE: 5000 units of あ with a surrogate pair (U+20B9F) placed across
    // the reader's 4096-unit chunks, then 3000 of é: characters that become
    // references take four times the room of their UTF-16 form, more than
    // a buffer of twice the file size holds.
    std::string u16 = "\xFF\xFE";
    std::string want = codesOf({0x1F02});
    for (int i = 1; i < 5000; ++i) {
        if (i == 4095) {
            u16 += std::string("\x42\xD8\x9F\xDF", 4);
            want += codesOf({0xB121});
            continue;
        }
        if (i == 4096) continue;
        u16 += std::string("\x42\x30", 2);
        want += codesOf({0x2422});
    }
    for (int i = 0; i < 3000; ++i) u16 += std::string("\xE9\x00", 2);
    want += codesOf({0x1F04});
    for (int i = 0; i < 3000; ++i) want += codesOf({0xA121});
    want += codesOf({0x1F05, 0x1F0A, 0x1F03});
    std::string got = plainText(b.book(), u16, b.dir);
    // Block boundaries leave padding; compare the codes without the zeros a
    // block tail may hold.
    std::string packed;
    for (size_t i = 0; i + 1 < got.size(); i += 2)
        if (got[i] || got[i + 1]) packed.append(got, i, 2);
    EXPECT_EQ(packed.size(), want.size());
    EXPECT_TRUE(packed == want);
}

TEST(BookPlainText, Utf8AcrossChunkBoundaries) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    std::string u8 = "a";  // puts the 3-byte characters across every 2048-byte chunk
    std::string want = codesOf({0x1F02, 0x1F04, 0x2361, 0x1F05});
    for (int i = 0; i < 3000; ++i) {
        u8 += "\xE3\x81\x82";
        want += codesOf({0x2422});
    }
    want += codesOf({0x1F0A, 0x1F03});
    std::string got = plainText(b.book(), u8, b.dir);
    std::string packed;
    for (size_t i = 0; i + 1 < got.size(); i += 2)
        if (got[i] || got[i + 1]) packed.append(got, i, 2);
    EXPECT_TRUE(packed == want) << packed.size() << " vs " << want.size();
}

TEST(BookPlainText, UnreadableFileWritesNothingAndAbortStops) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    SOURCE_INFO src;
    std::memset(&src, 0, sizeof src);
    std::strcpy(src.path, b.dir.file("none.txt").c_str());
    CBlockStream body(2, 0);
    CPlainParser parser;
    parser.parse(b.book(), b.book()->getOptions(), &src, &body, 0);
    EXPECT_EQ(streamBytes(body), "");
    std::strcpy(src.path, b.dir.path().c_str());  // a directory
    parser.parse(b.book(), b.book()->getOptions(), &src, &body, 0);
    EXPECT_EQ(streamBytes(body), "");

    lftest::writeFile(b.dir.file("one.txt"), std::string("x\n"));
    std::strcpy(src.path, b.dir.file("one.txt").c_str());
    b.book()->abort();
    try {
        parser.parse(b.book(), b.book()->getOptions(), &src, &body, 0);
        FAIL() << "no abort";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "");
    }
}

TEST(BookPlainText, SourceTitleBecomesATopMenuItem) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    lftest::writeFile(b.dir.file("t.txt"), std::string("x\n"));
    ASSERT_EQ(b.w.addSource(b.dir.file("t.txt").c_str(), "Chapter", 4, nullptr), 0);
    ASSERT_EQ(b.w.addSource(b.dir.file("t.txt").c_str(), "\x81\x40\x81\x40", 4, nullptr), 0);
    ASSERT_EQ(b.w.addSource(b.dir.file("t.txt").c_str(), nullptr, 4, nullptr), 0);
    // The items are counted when the body is done, before make clears the book.
    struct Spy {
        static CEBBook*& book() {
            static CEBBook* t = nullptr;
            return t;
        }
        static int& items() {
            static int c = -1;
            return c;
        }
        static void onMessage(const char* text) {
            if (std::strcmp(text, " done\r\n") == 0) items() = book()->menuItemCount();
        }
    };
    Spy::book() = b.book();
    b.w.setMessageCallback(Spy::onMessage);
    b.w.makeBook();
    // Only the first title makes an item: blanks and no title make none.
    EXPECT_EQ(Spy::items(), 1);
}

TEST(BookPlainText, ArbitraryBytesGiveWellFormedText) {
    OpenBook b;
    ASSERT_EQ(b.result, 0);
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<char>(seed >> 16);
    };
    for (const char* head : {"", "\xFF\xFE", "\xEF\xBB\xBF"}) {
        std::string bytes = head;
        for (int i = 0; i < 9999; ++i)  // odd: a UTF-16 file with half a unit at its end
            bytes += next();
        std::string text = plainText(b.book(), bytes, b.dir);
        ASSERT_GE(text.size(), 4u) << head;
        EXPECT_EQ(text.substr(0, 2), "\x1F\x02");
        EXPECT_EQ(text.substr(text.size() - 2), "\x1F\x03");
    }
}

namespace {

// UTF-16LE with its mark, from code points.
std::string utf16le(const std::vector<unsigned>& units) {
    std::string out = "\xFF\xFE";
    for (unsigned u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

// A book of the PDIC one-line source dir/a.txt with the keyword list
// dir/kw.txt and keyword search.
lftest::BookRun buildKeywordBook(const TestDir& dir) {
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_KEYWORD);
    r.keywordFile = dir.file("kw.txt");
    r.sources.push_back({dir.file("a.txt"), "", 5});
    return lftest::buildBook(r);
}

// A keyword list finds its words and their second forms in every encoding.
TEST(BookKeywords, ListsInEveryEncodingFindTheirWords) {
    // 米 <tab> こめ, then "rice".
    const std::string sjis = "\x95\xC4\t\x82\xB1\x82\xDF\r\nrice\r\n";
    const std::string utf8 = "\xE7\xB1\xB3\t\xE3\x81\x93\xE3\x82\x81\r\nrice\r\n";
    const struct {
        const char* name;
        std::string list;
    } cases[] = {
        {"Shift_JIS", sjis},
        {"UTF-8 without a mark", utf8},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-16", utf16le({0x7C73, '\t', 0x3053, 0x3081, '\r', '\n', 'r', 'i', 'c', 'e', '\r', '\n'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDir dir;
        lftest::writeFile(dir.file("kw.txt"), c.list);
        // 米を炊く: "cook rice".
        lftest::writeFile(dir.file("a.txt"), std::string("meshi /// \x95\xC4\x82\xF0\x90\x86\x82\xAD, rice\r\n"));
        lftest::BookRun run = buildKeywordBook(dir);
        ASSERT_TRUE(run.result.succeeded()) << run.log();
        lftest::EbProbe probe(dir.path());
        ASSERT_TRUE(probe.ok()) << probe.error();
        for (const std::string& word : {std::string("\x95\xC4"), std::string("\x82\xB1\x82\xDF"), std::string("rice")})
            EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Keyword, {word}).size(), 1u) << word;
    }
}

// A Shift_JIS list written with the codes Windows Shift_JIS adds is read the
// way a Shift_JIS source is, so that its words match the text they occur in.
TEST(BookKeywords, ShiftJisListWithWindowsCodesMatchesTheText) {
    TestDir dir;
    // Row 13 approximately equal and the IBM because sign.
    lftest::writeFile(dir.file("kw.txt"), std::string("\x87\x90\r\n\xFA\x5B\r\n"));
    lftest::writeFile(dir.file("a.txt"), std::string("near /// x \x87\x90 y\r\nthus /// \xFA\x5B z\r\n"));
    lftest::BookRun run = buildKeywordBook(dir);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    // The JIS X 0208 characters both stand for, as a reader's query gives them.
    for (const std::string& word : {std::string("\x81\xE0"), std::string("\x81\xE6")})
        EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Keyword, {word}).size(), 1u) << word;
}

}  // namespace

namespace {

// A list word of single-byte letters is found as a word only, never inside a
// longer one; a Japanese list word is found anywhere.
TEST(BookKeywords, ListWordsOfLettersMatchWholeWords) {
    TestDir dir;
    // cat, cat food, and 米 (rice).
    lftest::writeFile(dir.file("kw.txt"), std::string("cat\r\ncat food\r\n\x95\xC4\r\n"));
    const struct {
        const char* head;
        const char* body;
        bool cat;   // found by "cat"
        bool rice;  // found by 米
    } cases[] = {
        {"a1", "the cat sat", true, false},
        {"a2", "a category of things", false, false},
        {"a3", "purification and education", false, false},
        {"a4", "two cats", false, false},
        {"a5", "(cat)", true, false},
        {"a6", "cat", true, false},
        {"a7", "tomcat", false, false},
        {"a8", "cat9", false, false},
        {"a8b", "cat foods", true, false},  // "cat food" stands in no word here, "cat" does
        {"a9",
         "\x94\x4C"
         "cat",
         true, false},                                    // 猫cat: a Japanese character is no letter here
        {"b1", "\x8C\xBA\x95\xC4\x82\xC6", false, true},  // 玄米と: inside a longer word
        {"b2",
         "\x95\xC4"
         "cat",
         true, true},
    };
    std::string source;
    for (const auto& c : cases) source += std::string(c.head) + " /// " + c.body + "\r\n";
    lftest::writeFile(dir.file("a.txt"), source);
    lftest::BookRun run = buildKeywordBook(dir);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    lftest::EbProbe probe(dir.path());
    ASSERT_TRUE(probe.ok()) << probe.error();
    for (const std::string& word : {std::string("cat"), std::string("\x95\xC4")}) {
        std::vector<std::string> got, want;
        for (const auto& hit : probe.searchText(0, lftest::EbSearchKind::Keyword, {word})) got.push_back(hit.heading);
        for (const auto& c : cases)
            if (word == "cat" ? c.cat : c.rice) want.push_back(c.head);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, want) << word;
    }
}

}  // namespace

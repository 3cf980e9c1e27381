// packwell check against the EB Library on damaged EBZip files. A book is
// built here and its text file compressed twice: by packwell and by the EB
// Library's ebzip (as a black box). Each copy is damaged at every byte of
// its 22-byte header (several values per byte, every bit of byte 5, every
// mode and every level nibble) and at every byte of its slice index. For
// each damaged file, packwell check must either refuse it (exit 1, the
// file's line followed by " Failure !") or pass it (exit 0, " Success !"),
// and what it passes the EB Library's ebunzip must read back whole: the same
// bytes as the book's own text file. (ebunzip is asked only about what
// packwell passes: on some damaged sizes it never ends.)

#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

using lftest::Bytes;
using lftest::readFile;
using lftest::TestDir;
using lftest::writeFile;

namespace {

const size_t kHeaderSize = 22;

// Under the sanitizers (where every packwell run is slow) the slice index
// and three of the six values of each header byte are left to the normal
// build; every header byte and every bit and nibble of byte 5 stay.
#if defined(__SANITIZE_ADDRESS__)
const bool kTrimmed = true;
#else
const bool kTrimmed = false;
#endif

// One damaged copy: the byte at `at` set to `value`.
struct Damage {
    size_t at;
    unsigned char value;
};

// Several values for every header byte (zero, all ones, its lowest, middle
// and highest bit flipped, one more), every bit of byte 5, every mode nibble
// and every level nibble of byte 5, and every byte of the slice index with
// its lowest bit flipped. Each value differs from the intact one.
std::vector<Damage> damagesOf(const Bytes& f, size_t indexEnd) {
    std::vector<Damage> out;
    auto add = [&](size_t at, std::set<unsigned>& seen, unsigned value) {
        value &= 0xFF;
        if (value != f[at] && seen.insert(value).second) out.push_back({at, static_cast<unsigned char>(value)});
    };
    for (size_t at = 0; at < kHeaderSize; ++at) {
        std::set<unsigned> seen;
        const unsigned o = f[at];
        for (unsigned v : {0u, 0xFFu, o ^ 0x01}) add(at, seen, v);
        if (!kTrimmed)
            for (unsigned v : {o ^ 0x10, o ^ 0x80, o + 1}) add(at, seen, v);
        if (at != 5) continue;
        for (unsigned bit = 0; bit < 8; ++bit) add(at, seen, o ^ (1u << bit));
        for (unsigned nibble = 0; nibble < 16; ++nibble) {
            add(at, seen, (nibble << 4) | (o & 15));  // mode
            add(at, seen, (o & 0xF0) | nibble);       // level
        }
    }
    for (size_t at = kHeaderSize; at < (kTrimmed ? 0 : indexEnd); ++at) {
        std::set<unsigned> seen;
        add(at, seen, f[at] ^ 0x01u);
    }
    return out;
}

struct Counts {
    int cases = 0, refused = 0, passed = 0, readWhole = 0, disagreements = 0;
};

// Long enough for any whole read of this small book; ebunzip ends a damaged
// read that it cannot finish only when it is stopped.
const int kEbunzipSeconds = 20;

// Damages the EBZip text file of the compressed book `book` (CATALOGS and
// TEST/DATA/HONMON.ebz) case by case in a working copy in `work`, and
// checks each case with packwell and with ebunzip.
Counts checkDamagedCopies(const std::string& book, const std::string& work, const Bytes& plain,
                          const std::string& label) {
    Counts n;
    const Bytes good = readFile(book + "/TEST/DATA/HONMON.ebz");
    EXPECT_GE(good.size(), kHeaderSize + 4) << label;
    if (good.size() < kHeaderSize + 4) return n;
    // The index ends where the first slice begins (the first entry, whose
    // width is 2 or 3 bytes for a book this small).
    const unsigned width = plain.size() < 0x10000 ? 2 : 3;
    size_t indexEnd = 0;
    for (unsigned k = 0; k < width; ++k) indexEnd = (indexEnd << 8) | good[kHeaderSize + k];
    EXPECT_LT(indexEnd, good.size()) << label;

    const std::string copy = work + "/book";
    EXPECT_EQ(0, lftest::runCommand("mkdir -p " + lftest::shellQuote(copy + "/TEST/DATA") + " && cp " +
                                    lftest::shellQuote(book + "/CATALOGS") + " " + lftest::shellQuote(copy)));
    const std::string file = copy + "/TEST/DATA/HONMON.ebz";
    const std::string back = work + "/back";
    const std::string packwell = "'" + lftest::binDir() + "/packwell' check " + lftest::shellQuote(file) + " 2>/dev/null";
    const std::string refusedLog = "CRC Check\t" + file + "\n->  Failure !\ndone!\n";
    const std::string passedLog = "CRC Check\t" + file + "\n->  Success !\ndone!\n";

    // Whether ebunzip reads the copy back to the book's own bytes.
    auto readWhole = [&]() {
        lftest::runCommand("rm -rf " + lftest::shellQuote(back));
        std::string said;
        return lftest::ebunzipBook(copy, back, &said, kEbunzipSeconds) &&
               readFile(back + "/TEST/DATA/HONMON") == plain;
    };

    // The intact file passes on both sides.
    EXPECT_TRUE(writeFile(file, good));
    std::string log;
    EXPECT_EQ(0, lftest::runCommand(packwell, &log)) << label;
    EXPECT_EQ(passedLog, log) << label;
    EXPECT_TRUE(readWhole()) << label << ": the EB Library does not read the intact file";

    for (const Damage& d : damagesOf(good, indexEnd)) {
        Bytes bad = good;
        bad[d.at] = d.value;
        if (!writeFile(file, bad)) {
            ADD_FAILURE() << "cannot write " << file;
            return n;
        }
        char what[64];
        snprintf(what, sizeof what, "%s: byte %zu = 0x%02X (was 0x%02X)", label.c_str(), d.at, d.value, good[d.at]);
        ++n.cases;
        const int status = lftest::runCommand(packwell, &log);
        const bool refused = status == 1 && log == refusedLog;
        const bool passed = status == 0 && log == passedLog;
        EXPECT_TRUE(refused || passed) << what << ": exit " << status << "\n" << log;
        n.refused += refused;
        if (refused) continue;
        ++n.passed;
        if (readWhole()) {
            ++n.readWhole;
        } else {
            ++n.disagreements;
            ADD_FAILURE() << what << ": packwell passes it, the EB Library does not read it back whole";
        }
    }
    return n;
}

void report(const std::string& label, const Counts& n) {
    printf("[ counts ] %s: %d cases, %d refused by packwell, %d passed, of which %d read back whole by the "
           "EB Library; %d disagreements\n",
           label.c_str(), n.cases, n.refused, n.passed, n.readWhole, n.disagreements);
    EXPECT_EQ(0, n.disagreements) << label;
    // The damage is real on both sides: some cases are refused, some read.
    EXPECT_GT(n.refused, 0) << label;
    EXPECT_GT(n.readWhole, 0) << label;
}

}  // namespace

TEST(PackwellDamagedHeaders, EveryDamagedHeaderIsRefusedOrReadWhole) {
    TestDir t;
    // A book of some 40 KiB of text: several slices at the levels used.
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += "word" + std::to_string(i) + " means the " + std::to_string(i * 7919 % 1000) + "th thing\n";
    lftest::BookRun run = lftest::buildPlainTextBook(t.file("book"), t.file("words.txt"), text);
    ASSERT_TRUE(run.result.succeeded()) << run.log();
    const Bytes plain = readFile(t.file("book/TEST/DATA/HONMON"));
    ASSERT_GT(plain.size(), size_t(8 * 2048));

    std::string log;
    for (const char* d : {"ours", "peer"}) ASSERT_EQ(0, mkdir(t.file(d).c_str(), 0755));
    ASSERT_EQ(0, lftest::runCommand("cd " + lftest::shellQuote(t.path()) + " && '" + lftest::binDir() +
                                        "/packwell' shrink --level 1 --tree --out ours book 2>&1",
                                    &log))
        << log;
    ASSERT_EQ(0, lftest::runCommand("ebzip --keep --quiet --level 2 --output-directory " +
                                        lftest::shellQuote(t.file("peer")) + " " + lftest::shellQuote(t.file("book")) +
                                        " 2>&1",
                                    &log))
        << log;

    const struct {
        const char* label;
        const char* book;
    } sources[] = {{"made by packwell", "ours"}, {"made by ebzip", "peer"}};
    for (const auto& s : sources) {
        SCOPED_TRACE(s.label);
        const std::string work = t.file(std::string("work-") + s.book);
        ASSERT_EQ(0, mkdir(work.c_str(), 0755));
        report(s.label, checkDamagedCopies(t.file(s.book), work, plain, s.label));
    }
}

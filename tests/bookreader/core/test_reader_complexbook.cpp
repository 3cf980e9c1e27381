// The multi searches of a book the builder wrote, as the reader's index walk
// reads them: the search titles and, per search, the field heads with their
// labels followed by their sub-index and candidate records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "builder/CEPWing.h"
#include "builder/ConvertOpt.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/TestDir.h"

namespace {

// "ab" as full-width Shift_JIS letters.
std::string wide(const std::string& ascii) {
    std::string out;
    for (char ch : ascii) {
        unsigned c = static_cast<unsigned char>(ch);
        unsigned code = c >= 'a' ? 0x8281 + (c - 'a') : 0x8260 + (c - 'A');
        out += static_cast<char>(code >> 8);
        out += static_cast<char>(code & 0xFF);
    }
    return out;
}

TEST(ReaderComplexBook, TitlesFieldsAndSubIndexesOfTheBuiltBook) {
    lftest::TestDir dir;
    lftest::writeFile(
        dir.file("w.html"),
        std::string("<DL><DT>Kokoro</DT><KEY type=complex name=author>Soseki</KEY>"
                    "<KEY type=complex name=genre>novel</KEY><KEY type=keyword>heart</KEY><DD>x</DD></DL>\n"));
    lftest::writeFile(dir.file("w.def"), std::string("<COMPLEX name=Works><GROUP name=Author><ATTR name=author></GROUP>"
                                                     "<GROUP name=Genre><ATTR name=genre><KEYWORD>novel</KEYWORD>"
                                                     "</GROUP></COMPLEX>\n<COMPLEX><GROUP name=genre/></COMPLEX>\n"));
    lftest::BookRecipe r;
    r.outDir = dir.path();
    r.complexDef = dir.file("w.def");
    r.indexDef = (1 << IDX_WORD_HYOKI) | (1 << IDX_KEYWORD) | (1 << IDX_COMPLEX);
    r.sources.push_back({dir.file("w.html"), "", 0});
    lftest::BookRun run = lftest::buildBook(r);
    ASSERT_EQ(run.newBookResult, 0) << run.log();

    CEBReader reader;
    ASSERT_EQ(reader.open(dir.file("TEST/DATA/HONMON").c_str(), 1, 1), 1);
    ASSERT_EQ(reader.multiSearchCount(), 2);
    // The complex keyword index and its headings are reached through the
    // multi searches only: the index table lists the titles.
    EXPECT_NE(reader.findIndex(0x16), nullptr);
    EXPECT_EQ(reader.findIndex(0xA1), nullptr);
    EXPECT_EQ(std::string(reader.searchTitle(0)), wide("Works"));
    EXPECT_EQ(std::string(reader.searchTitle(1)), "");

    struct Want {
        uint32_t id;
        std::string name;  // field heads only
    };
    const std::vector<Want> first = {
        {0xFF, "--" + wide("Author")}, {0xA1, ""}, {0xFF, "--" + wide("Genre")}, {0xA1, ""}, {0x01, ""}};
    ASSERT_EQ(reader.selectMultiSearch(0), static_cast<int>(first.size()));
    const READER_INDEX_INFO* defs = reader.multiSearchDefinitions();
    for (size_t i = 0; i < first.size(); ++i) {
        if (first[i].name.empty()) {
            EXPECT_EQ(defs[i].id, first[i].id) << i;
            EXPECT_GT(defs[i].start, 1u) << i;
            EXPECT_GE(defs[i].count, 1u) << i;
        } else {
            EXPECT_EQ(std::string(defs[i].name), first[i].name) << i;
        }
    }
    // The reader's multi search finds the entry through a field's sub-index,
    // by a typed word and by a candidate word as the candidate list gives it.
    EXPECT_EQ(reader.multiSearch(&defs[1], "Soseki", 0), 1);
    reader.resetHits();
    EXPECT_EQ(reader.multiSearch(&defs[3], wide("NOVEL").c_str(), 0), 1);
    reader.resetHits();
    EXPECT_EQ(reader.multiSearch(&defs[3], "Mori", 0), 0);

    ASSERT_EQ(reader.selectMultiSearch(1), 2);
    EXPECT_EQ(std::string(reader.multiSearchDefinitions()[0].name), "--" + wide("genre"));
}

}  // namespace

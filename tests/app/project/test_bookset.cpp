// The project model: the shared instance, its defaults, clear, the option
// defaults and the text options it owns, and new books and sources.

#include <gtest/gtest.h>

#include <cstring>

#include "app/project/BookSet.h"
#include "app/project/projectoptions.h"
#include "tests/app/project/ProjectTestUtil.h"

using lftest::freshBookSet;

TEST(BookSet, OneSharedInstance) {
    EXPECT_EQ(BookSet::sharedBookSet(), BookSet::sharedBookSet());
}

TEST(BookSet, ClearStartsANewProjectButKeepsTheWizardValues) {
    BookSet* set = freshBookSet();
    set->getBookArray().push_back(BookInfo());
    set->setBasePath("/base");
    set->setOutputPath("/out");
    set->setEbType(0);
    set->setIndexDef(0xFF);
    set->setCorrentBook(0);
    set->setCorrentSource(3);
    set->setCsvPath("/data.csv");
    set->setCsvFields("UTF-8,TAB,H,T");
    set->getConvertOpt()->titleLen = 7;
    set->setTextOption(&ConvertOpt::stopWord, "x");

    set->clear();
    EXPECT_TRUE(set->getBookArray().empty());
    EXPECT_EQ("", set->basePath());
    EXPECT_EQ("", set->outputPath());
    EXPECT_EQ(1, set->ebType());
    EXPECT_EQ(67, set->indexDef());
    EXPECT_EQ(-1, set->correntBook());
    EXPECT_EQ(3, set->correntSource());
    EXPECT_EQ("/data.csv", set->csvPath());
    EXPECT_EQ("UTF-8,TAB,H,T", set->csvFields());
    EXPECT_EQ(128, set->getConvertOpt()->titleLen);
    EXPECT_STREQ("a the", set->getConvertOpt()->stopWord);
}

TEST(BookSet, OptionDefaults) {
    const ConvertOpt& o = *freshBookSet()->getConvertOpt();
    // Flags that are set; every other flag is 0.
    const char* const kSetFlags[] = {"delBlank",   "delSym",           "titleWord", "hyokiSep",   "makeFig",
                                     "ruby",       "HTagIndex",        "HTagMenu",  "DTTagIndex", "autoUniGaiji",
                                     "eijiPronon", "eijiPartOfSpeech", "eijiBreak"};
    const struct {
        const char* name;
        int32_t value;
    } kNumbers[] = {{"addKana", 1},      {"titleLen", 128}, {"leftMargin", 1},
                    {"tableWidth", 480}, {"kwordLen", 1},   {"maxStringT", 256000000}};
    for (const ProjectOption& option : kProjectOptions) {
        SCOPED_TRACE(option.name);
        if (option.kind == OPTION_FLAG) {
            bool set = false;
            for (const char* name : kSetFlags) set = set || std::strcmp(name, option.name) == 0;
            EXPECT_EQ(set ? 1 : 0, o.*(option.intField));
        } else if (option.kind == OPTION_NUMBER) {
            int32_t expected = 0;
            for (const auto& n : kNumbers)
                if (std::strcmp(n.name, option.name) == 0) expected = n.value;
            EXPECT_EQ(expected, projectOptionNumber(o, option));
        }
    }
    EXPECT_STREQ("a the", o.stopWord);
    EXPECT_STREQ("", o.delChars);
    EXPECT_STREQ("\xE3\x80\x90", o.kanaSep1);
    EXPECT_STREQ("\xE3\x80\x91", o.kanaSep2);
    EXPECT_STREQ("222A", o.arrowCode);
}

TEST(BookSet, TheOptionTableCoversTheStoredFieldsInFileOrder) {
    // The file order is the record's, with autoUniGaiji moved to the end.
    ASSERT_EQ(52u, kProjectOptionCount);
    EXPECT_STREQ("stopWord", kProjectOptions[0].name);
    EXPECT_STREQ("maxStringT", kProjectOptions[50].name);
    EXPECT_STREQ("autoUniGaiji", kProjectOptions[51].name);
    int flags = 0, numbers = 0, texts = 0;
    for (const ProjectOption& option : kProjectOptions) {
        flags += option.kind == OPTION_FLAG;
        numbers += option.kind == OPTION_NUMBER;
        texts += option.kind == OPTION_TEXT;
    }
    EXPECT_EQ(29, flags);
    EXPECT_EQ(18, numbers);
    EXPECT_EQ(5, texts);
}

TEST(BookSet, InitConvOptReplacesTheTextOptionsAndLeavesTheRecordHeadAlone) {
    BookSet* set = freshBookSet();
    ConvertOpt* o = set->getConvertOpt();
    set->setTextOption(&ConvertOpt::delChars, "xyz");
    o->kwordLen = 9;
    set->initConvOpt();
    set->initConvOpt();
    // The old strings are freed (the leak check of the sanitizer build sees
    // any that is not) and the defaults are back.
    EXPECT_STREQ("", o->delChars);
    EXPECT_EQ(1, o->kwordLen);
    // The fields before stopWord are the build's own and stay zero.
    const ConvertOpt zero{};
    EXPECT_EQ(0, std::memcmp(o, &zero, offsetof(ConvertOpt, stopWord)));
}

TEST(BookSet, NewBookAndNewSource) {
    BookInfo book;
    EXPECT_TRUE(book.getSource().empty());
    EXPECT_EQ(0x60, book.bookTypeID());
    EXPECT_EQ(0xA121u, book.hanStart());
    EXPECT_EQ(0xB121u, book.zenStart());
    EXPECT_FALSE(book.separateMMData());
    EXPECT_EQ("GAI16H00", book.g8x16());
    EXPECT_EQ("GAI16F00", book.g16x16());
    for (const std::string& name :
         {book.g12x24(), book.g24x24(), book.g16x30(), book.g32x30(), book.g24x48(), book.g48x48(), book.bookTitle(),
          book.dirName(), book.complexDef(), book.copyright(), book.gaijiMap(), book.gaijiFont(), book.indexFile()})
        EXPECT_EQ("", name);
    // Named and numbered font slots are the same fields; other slots hold nothing.
    book.setG24x48("GAI48H00");
    EXPECT_EQ("GAI48H00", book.fontName(FONT_SLOT_24X48));
    book.setFontName(FONT_SLOTS, "X");
    EXPECT_EQ("", book.fontName(FONT_SLOTS));
    EXPECT_EQ("", book.fontName(-1));

    SourceInfo source;
    EXPECT_EQ(0, source.sourceTypeID());
    EXPECT_EQ("", source.inFile());
    EXPECT_EQ("", source.title());
    EXPECT_EQ("", source.fields());
}

// The text field wizard: the CSV field spec read and written, the first line
// of the file in each encoding, and the type choices per column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dialogs/TextWizardViewController.h"
#include "app/project/BookSet.h"
#include "tests/app/project/ProjectTestUtil.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::TestDir;
typedef std::vector<std::string> Texts;

class TextWizard : public ::testing::Test {
protected:
    void SetUp() override { set = lftest::freshBookSet(); }
    // A wizard opened on this file and spec.
    std::unique_ptr<TextWizardViewController> open(const std::string& bytes, const std::string& spec = "") {
        if (!bytes.empty() || spec.empty()) {
            lftest::writeFile(dir.file("f.csv"), bytes);
            set->setCsvPath(dir.file("f.csv"));
        }
        set->setCsvFields(spec);
        std::unique_ptr<TextWizardViewController> w(new TextWizardViewController);
        w->loadViewIfNeeded();
        return w;
    }
    BookSet* set = nullptr;
    TestDir dir;
};

TEST_F(TextWizard, ASpecSurvivesRoundTripsUnchanged) {
    const char* specs[] = {
        "enc=shift_jis;delim=\t;fields=headword||meaning|",
        "enc=utf-16;delim=|;fields=id|headword|kana|keyword|html|",
        "enc=utf-8;delim=,;fields=",
    };
    for (const char* spec : specs) {
        SCOPED_TRACE(spec);
        set->setCsvPath("");
        set->setCsvFields(spec);
        for (int round = 0; round < 3; ++round) {
            TextWizardViewController w;
            w.loadViewIfNeeded();
            w.OnOK();
            EXPECT_EQ(set->csvFields(), spec);
        }
    }
    TextWizardViewController w;
    set->setCsvFields("enc=shift_jis;delim=\t;fields=headword||meaning|");
    w.loadViewIfNeeded();
    EXPECT_EQ(w.m_fieldstype, (Texts{"headword", "-", "meaning"}));
    EXPECT_EQ(w.encoding.indexOfSelectedItem(), 2);
    EXPECT_EQ(w.delimiter.indexOfSelectedItem(), 1);
}

TEST_F(TextWizard, ASpecWithOnlyFieldsSelectsTheFirstItems) {
    set->setCsvFields("fields=headword|");
    TextWizardViewController w;
    w.loadViewIfNeeded();
    EXPECT_EQ(w.encoding.indexOfSelectedItem(), 0);
    EXPECT_EQ(w.delimiter.indexOfSelectedItem(), 0);
    set->setCsvFields("enc=latin1;delim=;;fields=kana|");  // unknown tokens: item 0
    TextWizardViewController v;
    v.loadViewIfNeeded();
    EXPECT_EQ(v.encoding.indexOfSelectedItem(), 0);
    EXPECT_EQ(v.m_fieldstype, (Texts{"kana"}));
}

TEST_F(TextWizard, ReadsTheFirstLineInItsEncoding) {
    const std::string sjisLine = "\x8C\xA9\x8F\x6F\x82\xB5\t\x88\xD3\x96\xA1\n";  // 見出し TAB 意味
    const struct {
        const char* what;
        std::string bytes;
        std::string spec;
        Texts names;
        int encoding;
    } cases[] = {
        {"UTF-16 with its mark", lftest::utf16("word\tmeaning\r\nx\ty\r\n"), "", {"word", "meaning\r\n"}, 1},
        {"Shift_JIS without a mark", sjisLine + "a\tb\n", "", {"見出し", "意味\n"}, 2},
        {"UTF-8 chosen by the spec", "caf\xC3\xA9,menu\n", "enc=utf-8;delim=,;fields=", {"café", "menu\n"}, 0},
        {"bytes that are no Shift_JIS", "bad\x81\tb\n", "", {}, 2},
        {"empty file", "", "", {}, 2},
        {"UTF-16 line without an end", lftest::utf16("a\tb"), "", {}, 1},
        {"UTF-16 line ending in CR", lftest::utf16("a\tb\rc"), "", {}, 1},
        {"a NUL byte inside the line", std::string("a\0b\tc\n", 6), "", {std::string("a\0b", 3), "c\n"}, 2},
        {"a NUL byte in UTF-8", std::string("x\0,y\n", 5), "enc=utf-8;delim=,;fields=", {std::string("x\0", 2), "y\n"}, 0},
        {"line cut at 1023 bytes",
         std::string(1000, 'a') + "\t" + std::string(100, 'b') + "\n",
         "",
         {std::string(1000, 'a'), std::string(22, 'b')},
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto w = open(c.bytes, c.spec);
        EXPECT_EQ(w->m_fieldsname, c.names);
        EXPECT_EQ(w->encoding.indexOfSelectedItem(), c.encoding);
        EXPECT_EQ(w->fieldList.numberOfRows(), static_cast<int>(c.names.size()));
        if (c.spec.empty()) {
            EXPECT_EQ(w->m_fieldstype, Texts(c.names.size(), "-"));
        }
    }
    set->setCsvPath(dir.file("missing.csv"));
    TextWizardViewController w;
    w.loadViewIfNeeded();
    EXPECT_EQ(w.fieldList.numberOfRows(), 0);
}

TEST_F(TextWizard, TypeChoicesGoToTheSelectedColumn) {
    auto w = open("a\tb\tc\n", "enc=shift_jis;delim=\t;fields=headword|");
    ASSERT_EQ(w->fieldList.numberOfRows(), 3);
    EXPECT_EQ(w->m_fieldstype, (Texts{"headword"}));

    w->type.selectItemAtIndex(2);  // no row selected: nothing changes
    EXPECT_EQ(w->m_fieldstype, (Texts{"headword"}));

    w->fieldList.selectRow(0);
    EXPECT_EQ(w->type.indexOfSelectedItem(), 1);
    w->fieldList.selectRow(2);  // a column without a type entry shows no type
    EXPECT_EQ(w->type.indexOfSelectedItem(), -1);
    w->type.selectItemAtIndex(1);  // the type the row before showed: still stored
    EXPECT_EQ(w->m_fieldstype, (Texts{"headword", "-", "headword"}));
    w->type.selectItemAtIndex(4);
    EXPECT_EQ(w->m_fieldstype, (Texts{"headword", "-", "kana"}));
    EXPECT_EQ(w->fieldList.cellText("type", 2), "kana");
    EXPECT_EQ(w->fieldList.cellText("name", 2), "c\n");
    w->OnOK();
    EXPECT_EQ(set->csvFields(), "enc=shift_jis;delim=\t;fields=headword||kana|");

    // Reload keeps the types; Cancel keeps the spec.
    w->delimiter.selectItemAtIndex(0);
    w->OnReload();
    EXPECT_EQ(w->fieldList.numberOfRows(), 1);
    EXPECT_EQ(w->m_fieldstype, (Texts{"headword", "-", "kana"}));
    w->OnCancel();
    EXPECT_EQ(set->csvFields(), "enc=shift_jis;delim=\t;fields=headword||kana|");
}

}  // namespace

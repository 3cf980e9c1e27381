// The catalog opens user dictionaries through the registered reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dictformats/DictionaryReaders.h"
#include "dictformats/userdict/CSQLIO.h"
#include "foundation/book/CEBCatalog.h"
#include "tests/common/TestDir.h"

using lftest::TestDir;

TEST(UserDictCatalog, OpensUserDictionariesAsOneSubbook) {
    registerDictionaryReaders();
    TestDir dir;
    struct Case {
        const char* name;
        const char* title;  // null: created without book information
        const char* catalogTitle;
        const char* directory;
    } cases[] = {
        {"plain", "Small Dictionary", "Small Dictionary", "Small Di"},
        {"untitled", nullptr, "(no title)", "(no titl"},
        {"japanese", "辞書の題名", "辞書の題名", "辞書"},
        // 27 three-byte characters: the title is cut at a character boundary
        // within the 80 bytes the catalog keeps.
        {"long", "あいうえおかきくけこさしすせそたちつてとなにぬねのはひ",
         "あいうえおかきくけこさしすせそたちつてとなにぬねのは", "あい"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".lfd");
        USERDICT_INFO info;
        std::memset(&info, 0, sizeof info);
        if (c.title) std::strcpy(info.booktitle, c.title);
        CSQLIO writer;
        ASSERT_EQ(0, writer.create(path.c_str(), c.title ? &info : nullptr));

        CEBCatalog catalog;
        ASSERT_EQ(1, catalog.openSqlite(path.c_str(), "r"));
        EXPECT_EQ(CEBCatalog::kSQLite, catalog.kind());
        ASSERT_EQ(1, catalog.count());
        EXPECT_STREQ(c.catalogTitle, catalog.title(0));
        EXPECT_STREQ(c.directory, catalog.directory(0));
    }
}

TEST(UserDictCatalog, RefusesWhatIsNotAUserDictionary) {
    registerDictionaryReaders();
    TestDir dir;
    ASSERT_TRUE(lftest::writeFile(dir.file("text.lfd"), std::string("not a database")));
    for (const std::string& path : {dir.file("missing.lfd"), dir.file("text.lfd")}) {
        CEBCatalog catalog;
        EXPECT_EQ(0, catalog.openSqlite(path.c_str(), "r")) << path;
        EXPECT_EQ(0, catalog.count());
    }
}

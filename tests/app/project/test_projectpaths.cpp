// Path forms of a project ("$(BASE)", "$(APPPATH)", "\\" read as "/") and the
// choice of reader by the file's extension.

#include <gtest/gtest.h>

#include "app/project/BookSet.h"
#include "app/project/openproject.h"
#include "app/project/projectpaths.h"
#include "tests/app/project/ProjectTestUtil.h"
#include "tests/common/TestDir.h"

TEST(ProjectPaths, ToRelPath) {
    const struct {
        const char* what;
        const char* base;
        const char* path;
        const char* stored;
    } kCases[] = {
        {"file in the base folder", "/a/b", "/a/b/x.txt", "$(BASE)/x.txt"},
        {"the base folder itself", "/a/b", "/a/b", "$(BASE)"},
        {"a sibling whose name starts like the base", "/a/b", "/a/bc/x.txt", "/a/bc/x.txt"},
        {"the base only in the middle", "/a/b", "/z/a/b/x.txt", "/z/a/b/x.txt"},
        {"base with a final slash", "/a/b/", "/a/b/x.txt", "$(BASE)x.txt"},
        {"backslashes read as slashes", "/a/b", "/a/b\\sub\\x.txt", "$(BASE)/sub/x.txt"},
        {"a base written with backslashes", "C:\\dic", "C:\\dic\\x.txt", "$(BASE)/x.txt"},
        {"empty base keeps backslashes", "", "C:\\dic\\x.txt", "C:\\dic\\x.txt"},
        {"already stored", "/a/b", "$(BASE)/x.txt", "$(BASE)/x.txt"},
        {"application resource path kept", "/a/b", "$(APPPATH)\\hex\\8x16.hex", "$(APPPATH)/hex/8x16.hex"},
        {"a case difference is another folder", "/a/b", "/A/B/x.txt", "/A/B/x.txt"},
        {"dot-dot is stored as written", "/a/b", "/a/b/../c.txt", "$(BASE)/../c.txt"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::string once = toRelPath(c.path, c.base);
        EXPECT_EQ(c.stored, once);
        // Storing a stored path changes nothing.
        EXPECT_EQ(once, toRelPath(once, c.base));
    }
    BookSet* set = lftest::freshBookSet();
    set->setBasePath("/a/b");
    EXPECT_EQ("$(BASE)/x.txt", set->toRelPath("/a/b/x.txt"));
}

TEST(ProjectPaths, ToAbsPath) {
    const struct {
        const char* what;
        const char* base;
        const char* path;
        const char* real;
    } kCases[] = {
        {"empty base expands nothing", "", "$(BASE)\\x.txt", "$(BASE)\\x.txt"},
        {"empty base leaves the application path too", "", "$(APPPATH)/hex/8x16.hex", "$(APPPATH)/hex/8x16.hex"},
        {"base form with backslashes", "/p/q", "$(BASE)\\sub\\x.txt", "/p/q/sub/x.txt"},
        {"base inserted as it is", "C:\\p", "$(BASE)/x.txt", "C:\\p/x.txt"},
        {"application resource path", "/p", "$(APPPATH)/hex/8x16.hex", "/app/Resources/hex/8x16.hex"},
        {"every occurrence", "/p", "$(BASE)/$(BASE)", "/p//p"},
        {"plain path", "/p", "/abs/x.txt", "/abs/x.txt"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.real, toAbsPath(c.path, c.base, "/app/Resources"));
    }
    // What toRelPath stores, toAbsPath gives back.
    EXPECT_EQ("/a/b/sub/x.txt", toAbsPath(toRelPath("/a/b/sub/x.txt", "/a/b"), "/a/b", "/app"));
}

TEST(ProjectPaths, ReaderByExtension) {
    const struct {
        const char* path;
        bool legacy;
    } kCases[] = {
        {"/p/old.lfs", true},      {"/p/old.LFS", true},  {"/p/old.Lfs", true},      {"/p/new.lfx", false},
        {"/p/new.LFX", false},     {"/p/new.xml", false}, {"/p/lfs", false},         {"/p/old.lfs/x", false},
        {"/p/old.lfs.bak", false}, {"/p.lfs/old", false}, {"C:\\p.lfs\\old", false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.legacy, isLegacyProjectPath(c.path));
    }
}

TEST(ProjectPaths, OpeningSetsWhereSaveWrites) {
    lftest::TestDir dir;
    BookSet* set = lftest::freshBookSet();
    lftest::LogCatcher log;
    std::string saved = dir.file("p.lfx");
    set->getBookArray().push_back(BookInfo());
    ASSERT_TRUE(set->saveXMLFile(saved));
    ASSERT_TRUE(lftest::writeFile(dir.file("cut.lfx"), std::string("<?xml version=\"1.0\"?>\n<BookSet>\n<booklist>")));
    ASSERT_TRUE(lftest::writeFile(dir.file("OLD.LFS"), std::string("Book=T;DIR;x;_;_;_;_;_;_;_;_;_;_\n")));

    std::string definitionPath = "before";
    EXPECT_TRUE(openProjectFile(set, saved, &definitionPath, nullptr));
    EXPECT_EQ(saved, definitionPath);
    EXPECT_EQ(1u, set->getBookArray().size());

    // A key=value file is read (whatever the case of its extension) and never
    // written back.
    EXPECT_TRUE(openProjectFile(set, dir.file("OLD.LFS"), &definitionPath, nullptr));
    EXPECT_EQ("", definitionPath);
    ASSERT_EQ(1u, set->getBookArray().size());
    EXPECT_EQ("DIR", set->getBookArray()[0].dirName());

    // A file that did not read whole does not become the project's file.
    definitionPath = saved;
    std::string error;
    EXPECT_FALSE(openProjectFile(set, dir.file("cut.lfx"), &definitionPath, &error));
    EXPECT_EQ("", definitionPath);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(1u, log.lines.size());
}

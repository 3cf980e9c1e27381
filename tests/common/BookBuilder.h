// Builds books for tests through the conversion driver CEPWing, the way the
// builder application drives a run, and keeps every message of the run.
//
//   lftest::TestDir dir;
//   lftest::BookRecipe r;
//   r.outDir = dir.path();
//   r.sources.push_back({dir.file("a.txt"), "", 4});
//   lftest::BookRun run = lftest::buildBook(r);
//   // run.messages: "Body...", " done\r\n", ...; book in dir/TEST
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "builder/BookResult.h"

class CEPWing;

namespace lftest {

struct BookSource {
    BookSource(std::string p = "", std::string t = "", int ty = 4, std::string f = "")
        : path(std::move(p)), title(std::move(t)), type(ty), fields(std::move(f)) {}
    std::string path;
    std::string title;
    int type;            // 4: plain text
    std::string fields;  // field spec of a delimited source (type 9)
};

struct BookRecipe {
    std::string outDir;  // a "/" is appended when missing
    int ebType = 1;      // 1 EPWING, 0 EB
    std::string title = "Test Book";
    std::string dirName = "TEST";
    int bookTypeID = 0x60;
    std::string gaijiFont;  // empty: none
    std::string gaijiMap;
    std::string keywordFile;
    std::string complexDef;  // complex-search definition file, empty: none
    int fontMask = 0;
    std::vector<std::string> fontNames;  // up to 8, slot order
    int indexDef = 0;
    bool separateMMData = false;
    unsigned hanStart = 0, zenStart = 0;
    std::vector<std::string> hexFonts;  // loaded after newBook
    std::vector<BookSource> sources;
    std::string copyright;  // empty: none
    bool abortBeforeMake = false;
    // Called after the sources are added, just before makeBook.
    std::function<void()> beforeMake;
    // Called after init, before setOutput (options by name).
    std::function<void(CEPWing&)> configure;
};

struct BookRun {
    int newBookResult = 0;
    BookResult result;  // what makeBook returned
    int progress = 0;
    std::vector<std::string> messages;
    // All messages joined.
    std::string log() const;
};

// One run: init, configure, callback, setOutput, newBook, hex fonts,
// sources, copyright, makeBook, closeCatalog, term.
BookRun buildBook(const BookRecipe& recipe);

// A book of one plain-text source: text is written to sourcePath and built
// into outDir as EPWING (ebType 1) or EB (0).
BookRun buildPlainTextBook(const std::string& outDir, const std::string& sourcePath, const std::string& text,
                           int ebType = 1);
// The same with a source of tagged markup (HTML).
BookRun buildMarkupBook(const std::string& outDir, const std::string& sourcePath, const std::string& markup,
                        int ebType = 1);

// The message callback used by buildBook, for tests that drive CEPWing
// themselves: messages land in capturedMessages().
void captureMessage(const char* text);
std::vector<std::string>& capturedMessages();

}  // namespace lftest

#include "tests/common/BookBuilder.h"

#include <cstring>

#include "builder/CEPWing.h"
#include "tests/common/TestDir.h"

namespace lftest {

std::vector<std::string>& capturedMessages() {
    static std::vector<std::string> messages;
    return messages;
}

void captureMessage(const char* text) {
    capturedMessages().push_back(text ? text : "");
}

std::string BookRun::log() const {
    std::string all;
    for (const auto& m : messages) all += m;
    return all;
}

BookRun buildBook(const BookRecipe& r) {
    capturedMessages().clear();
    BookRun run;
    CEPWing* w = new CEPWing;
    w->init();
    if (r.configure) r.configure(*w);
    w->setMessageCallback(captureMessage);
    std::string out = r.outDir;
    if (out.empty() || out.back() != '/') out += '/';
    w->setOutput(out.c_str(), r.ebType);

    char names[8][9];
    std::memset(names, 0, sizeof names);
    for (size_t i = 0; i < r.fontNames.size() && i < 8; ++i) std::strncpy(names[i], r.fontNames[i].c_str(), 8);
    auto opt = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    run.newBookResult =
        w->newBook(r.title.c_str(), r.dirName.c_str(), r.bookTypeID, opt(r.gaijiFont), opt(r.gaijiMap),
                   opt(r.complexDef), opt(r.keywordFile), r.fontMask, &names[0][0], r.indexDef, r.separateMMData,
                   static_cast<uint16_t>(r.hanStart), static_cast<uint16_t>(r.zenStart));
    for (const auto& h : r.hexFonts) w->loadHexFont(h.c_str());
    for (const auto& s : r.sources) w->addSource(s.path.c_str(), opt(s.title), s.type, opt(s.fields));
    if (!r.copyright.empty()) w->setCopyright(r.copyright.c_str());
    if (r.abortBeforeMake) w->abort();
    if (r.beforeMake) r.beforeMake();
    run.result = w->makeBook();
    run.progress = w->getProgress();
    w->closeCatalog();
    w->term();
    delete w;
    run.messages = capturedMessages();
    return run;
}

namespace {

BookRun buildOneSourceBook(const std::string& outDir, const std::string& sourcePath, const std::string& text,
                           int ebType, int sourceType) {
    writeFile(sourcePath, text);
    BookRecipe r;
    r.outDir = outDir;
    r.ebType = ebType;
    r.sources.push_back({sourcePath, "", sourceType});
    return buildBook(r);
}

}  // namespace

BookRun buildPlainTextBook(const std::string& outDir, const std::string& sourcePath, const std::string& text,
                           int ebType) {
    return buildOneSourceBook(outDir, sourcePath, text, ebType, 4);
}

BookRun buildMarkupBook(const std::string& outDir, const std::string& sourcePath, const std::string& markup,
                        int ebType) {
    return buildOneSourceBook(outDir, sourcePath, markup, ebType, 0);
}

}  // namespace lftest

#include "app/window/RunPlan.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "app/project/BookSet.h"
#include "app/project/booklimits.h"
#include "app/project/projectoptions.h"
#include "app/project/projectpaths.h"
#include "foundation/book/CEBCatalog.h"
#include "foundation/book/GaijiFonts.h"
#include "foundation/codes/jclib.h"

namespace {

// The options handed over by setIntOption, in the order of the option record.
const char* const kDriverIntOptions[] = {
    "delBlank",   "delSym",           "refAuto",    "titleWord",  "autoWord",   "autoEWord",  "dispKeyInSelList",
    "FRAuto",     "titleOrder",       "addKana",    "autoKana",   "omitHeader", "titleLen",   "typeCplxKwd",
    "topMenu",    "singleLine",       "hyokiSep",   "makeFig",    "inlineImg",  "paraHdr",    "ruby",
    "paraBr",     "subTitle",         "dfnStyle",   "srchUnit",   "linkChar",   "HTagIndex",  "HTagMenu",
    "DTTagIndex", "leftMargin",       "indent",     "tableWidth", "kwordLen",   "delLeadNo",  "autoUniGaiji",
    "eijiPronon", "eijiPartOfSpeech", "eijiBreak",  "eijiKana",   "eijiYomi",   "withHeader", "optMono",
    "pdicTitle",  "pdicPronon",       "pdicHonbun", "pdicYorei",
};

// Options chosen in a combo box, with the number of its items.
const struct {
    const char* name;
    int items;
} kComboOptions[] = {
    {"srchUnit", 2}, {"eijiYomi", 3}, {"pdicTitle", 3}, {"pdicPronon", 3}, {"pdicHonbun", 3}, {"pdicYorei", 3},
};

char* ConvertOpt::*const kTextFields[5] = {&ConvertOpt::stopWord, &ConvertOpt::delChars, &ConvertOpt::kanaSep1,
                                           &ConvertOpt::kanaSep2, &ConvertOpt::arrowCode};

// Characters of a Shift_JIS text (a lead byte and its trail are one).
size_t sjisCharacters(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++n)
        i += jclib::isSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
    return n;
}

}  // namespace

std::vector<DriverOption> driverIntOptions(const ConvertOpt& opt) {
    std::vector<DriverOption> out;
    for (const char* name : kDriverIntOptions) {
        int value = projectOptionNumber(opt, *findProjectOption(name));
        for (const auto& combo : kComboOptions)
            if (std::strcmp(combo.name, name) == 0 && (value < 0 || value >= combo.items)) value = 0;
        out.push_back(DriverOption{name, value});
    }
    return out;
}

RunPlan::RunPlan(const BookSet& set, const std::string& appPath) {
    outputPath = set.outputPath();
    ebType = set.ebType();
    indexDef = set.indexDef();
    options = *set.getConvertOpt();
    for (int i = 0; i < 5; ++i) {
        const char* text = options.*kTextFields[i];
        m_texts[i] = text ? text : "";
        options.*kTextFields[i] = &m_texts[i][0];
    }
    const std::string base = set.basePath();
    auto expand = [&base, &appPath](const std::string& path) { return toAbsPath(path, base, appPath); };

    std::map<std::string, std::string> dirNames;  // upper-case directory name -> first book's name
    for (const BookInfo& info : set.getBookArray()) {
        if (info.bookTitle().empty() || info.dirName().empty()) continue;
        PlannedBook book;
        book.name = info.bookTitle();
        BookFieldProblem problem;
        if (findBookFieldProblem(info, expand, &problem)) {
            book.problem = problem.message;
            books.push_back(book);
            continue;
        }
        shiftJISText(info.bookTitle(), &book.title);
        // The catalog keeps a title in full width: 15 characters for EB, 40
        // for EPWING. A longer one would be cut without a word.
        const size_t titleChars = ebType == 1 ? 40 : 15;
        if (sjisCharacters(book.title) > titleChars) {
            book.problem = std::string("the title has ") + std::to_string(sjisCharacters(book.title)) +
                           " characters; " + (ebType == 1 ? "an EPWING" : "an EB") + " catalog keeps " +
                           std::to_string(titleChars);
            books.push_back(book);
            continue;
        }
        book.dirName = upperCaseDirName(info.dirName());
        auto seen = dirNames.find(book.dirName);
        if (seen != dirNames.end() && refusal.empty())
            refusal =
                "books \"" + seen->second + "\" and \"" + book.name + "\" have the same directory name " + book.dirName;
        dirNames.emplace(book.dirName, book.name);
        book.bookTypeID = info.bookTypeID();
        book.gaijiFont = info.gaijiFont().empty() ? "" : expand(info.gaijiFont());
        book.gaijiMap = info.gaijiMap().empty() ? "" : expand(info.gaijiMap());
        book.complexDef = info.complexDef().empty() ? "" : expand(info.complexDef());
        book.indexFile = info.indexFile().empty() ? "" : expand(info.indexFile());
        book.copyright = info.copyright().empty() ? "" : expand(info.copyright());
        for (int slot = 0; slot < FONT_SLOTS; ++slot) {
            std::string name;
            if (!shiftJISText(info.fontName(slot), &name) || name.empty()) continue;
            std::memcpy(book.fontNames + slot * 9, name.data(), name.size());
            book.fontMask |= kFontSlots[slot].maskBit;
        }
        book.separateMMData = info.separateMMData();
        book.hanStart = static_cast<uint16_t>(info.hanStart());
        book.zenStart = static_cast<uint16_t>(info.zenStart());
        for (const SourceInfo& s : info.getSource()) {
            if (s.inFile().empty()) continue;
            PlannedSource source;
            source.path = expand(s.inFile());
            source.type = s.sourceTypeID();
            source.fields = s.fields();
            if (source.path.size() > kMaxPathBytes)
                source.problem = "source path longer than 255 bytes";
            else if (!shiftJISText(s.title(), &source.title))
                source.problem = "source title has characters without a Shift_JIS form";
            else if (source.title.size() > kMaxPathBytes)
                source.problem = "source title longer than 255 bytes in Shift_JIS";
            book.sources.push_back(source);
        }
        books.push_back(book);
    }
    // A run that would write a catalog of no book, or of fewer books than
    // it builds, is refused before anything is touched: an empty catalog
    // makes an existing output unreadable.
    const size_t buildable = static_cast<size_t>(
        std::count_if(books.begin(), books.end(), [](const PlannedBook& b) { return b.problem.empty(); }));
    const size_t limit = static_cast<size_t>(ebType == 1 ? CEBCatalog::kMaxEpwingSubbooks : CEBCatalog::kMaxEbSubbooks);
    if (refusal.empty() && buildable == 0)
        refusal = books.empty() ? "the project has no complete book (each needs a title and a directory name)"
                                : "no book of the project can be built";
    if (refusal.empty() && books.size() > limit)
        refusal = "the project has " + std::to_string(books.size()) + " books; " +
                  (ebType == 1 ? "an EPWING" : "an EB") + " catalog holds at most " + std::to_string(limit);
}

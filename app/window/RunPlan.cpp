#include "app/window/RunPlan.h"

#include <cstring>
#include <map>

#include "app/project/BookSet.h"
#include "app/project/booklimits.h"
#include "app/project/projectoptions.h"
#include "app/project/projectpaths.h"
#include "foundation/book/GaijiFonts.h"

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
}

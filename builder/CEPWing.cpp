// CEPWing: the conversion driver.
#include "builder/CEPWing.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/CGaijiFontWriter.h"
#include "builder/gaiji/CHexFontFile.h"
#include "foundation/book/CEBCatalog.h"
#include "foundation/codes/jclib.h"

namespace {

char* dupText(const char* text) {
    if (text == nullptr) text = "";
    size_t n = std::strlen(text);
    char* p = static_cast<char*>(std::malloc(n + 1));
    if (p != nullptr) std::memcpy(p, text, n + 1);
    return p;
}

struct IntField {
    const char* name;
    int ConvertOpt::*field;
};

// The int options (also reached through setIntOption).
const IntField kIntFields[] = {
    {"titleOrder", &ConvertOpt::titleOrder}, {"addKana", &ConvertOpt::addKana},
    {"titleLen", &ConvertOpt::titleLen},     {"typeCplxKwd", &ConvertOpt::typeCplxKwd},
    {"dfnStyle", &ConvertOpt::dfnStyle},     {"srchUnit", &ConvertOpt::srchUnit},
    {"linkChar", &ConvertOpt::linkChar},     {"leftMargin", &ConvertOpt::leftMargin},
    {"indent", &ConvertOpt::indent},         {"tableWidth", &ConvertOpt::tableWidth},
    {"kwordLen", &ConvertOpt::kwordLen},     {"eijiYomi", &ConvertOpt::eijiYomi},
    {"withHeader", &ConvertOpt::withHeader},
};

// The flag options.
const IntField kBoolFields[] = {
    {"delBlank", &ConvertOpt::delBlank},
    {"delSym", &ConvertOpt::delSym},
    {"refAuto", &ConvertOpt::refAuto},
    {"titleWord", &ConvertOpt::titleWord},
    {"autoWord", &ConvertOpt::autoWord},
    {"autoEWord", &ConvertOpt::autoEWord},
    {"dispKeyInSelList", &ConvertOpt::dispKeyInSelList},
    {"FRAuto", &ConvertOpt::FRAuto},
    {"autoKana", &ConvertOpt::autoKana},
    {"omitHeader", &ConvertOpt::omitHeader},
    {"topMenu", &ConvertOpt::topMenu},
    {"singleLine", &ConvertOpt::singleLine},
    {"hyokiSep", &ConvertOpt::hyokiSep},
    {"makeFig", &ConvertOpt::makeFig},
    {"inlineImg", &ConvertOpt::inlineImg},
    {"paraHdr", &ConvertOpt::paraHdr},
    {"ruby", &ConvertOpt::ruby},
    {"paraBr", &ConvertOpt::paraBr},
    {"subTitle", &ConvertOpt::subTitle},
    {"HTagIndex", &ConvertOpt::HTagIndex},
    {"HTagMenu", &ConvertOpt::HTagMenu},
    {"DTTagIndex", &ConvertOpt::DTTagIndex},
    {"delLeadNo", &ConvertOpt::delLeadNo},
    {"eijiPronon", &ConvertOpt::eijiPronon},
    {"eijiPartOfSpeech", &ConvertOpt::eijiPartOfSpeech},
    {"eijiBreak", &ConvertOpt::eijiBreak},
    {"eijiKana", &ConvertOpt::eijiKana},
    {"optMono", &ConvertOpt::optMono},
    {"autoUniGaiji", &ConvertOpt::autoUniGaiji},
};

struct ShortField {
    const char* name;
    int16_t ConvertOpt::*field;
};
const ShortField kShortFields[] = {
    {"pdicTitle", &ConvertOpt::pdicTitle},
    {"pdicPronon", &ConvertOpt::pdicPronon},
    {"pdicHonbun", &ConvertOpt::pdicHonbun},
    {"pdicYorei", &ConvertOpt::pdicYorei},
};

struct StringField {
    const char* name;
    char* ConvertOpt::*field;
};
const StringField kStringFields[] = {
    {"stopWord", &ConvertOpt::stopWord}, {"delChars", &ConvertOpt::delChars}, {"arrowCode", &ConvertOpt::arrowCode},
    {"kanaSep1", &ConvertOpt::kanaSep1}, {"kanaSep2", &ConvertOpt::kanaSep2},
};

template <class T, size_t N>
const T* findField(const T (&table)[N], const char* name) {
    if (name == nullptr) return nullptr;
    for (const T& f : table)
        if (strcasecmp(f.name, name) == 0) return &f;
    return nullptr;
}

// A directory name: 1 to 8 letters, digits or "_"; letters are upper-cased
// into out. The name is one path component, so no book writes outside the
// output directory.
bool validDirName(const char* name, char* out) {
    size_t n = std::strlen(name);
    if (n == 0 || n > 8) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
        out[i] = c;
    }
    out[n] = 0;
    return true;
}

bool fits(const char* text, size_t field) {
    return text == nullptr || std::strlen(text) < field;
}

}  // namespace

CEPWing::CEPWing() : m_catalog(nullptr), m_book(nullptr), m_subbookIndex(-1), m_callback(nullptr) {
    std::memset(&m_opt, 0, sizeof m_opt);
    std::memset(&m_spec, 0, sizeof m_spec);
}

CEPWing::~CEPWing() {
    // term() deletes the catalog and the book; the option texts are ours.
    freeStrings();
}

void CEPWing::freeStrings() {
    for (const StringField& f : kStringFields) {
        std::free(m_opt.*(f.field));
        m_opt.*(f.field) = nullptr;
    }
}

void CEPWing::init() {
    freeStrings();
    std::memset(&m_opt, 0, sizeof m_opt);
    std::memset(&m_spec, 0, sizeof m_spec);
    initOptions();
    delete m_catalog;
    delete m_book;
    m_catalog = new CEBCatalog;
    m_book = new CEBBook;
    m_subbookIndex = -1;
    m_hexFonts.clear();
}

void CEPWing::initOptions() {
    m_opt.ebType = 1;
    m_opt.stopWord = dupText("a the");
    m_opt.delBlank = 1;
    m_opt.delSym = 1;
    m_opt.delChars = dupText("");
    m_opt.titleWord = 1;
    m_opt.addKana = 1;
    m_opt.titleLen = 128;
    m_opt.kanaSep1 = dupText("\x81\x79");
    m_opt.kanaSep2 = dupText("\x81\x7A");
    m_opt.hyokiSep = 1;
    m_opt.makeFig = 1;
    m_opt.ruby = 1;
    m_opt.arrowCode = dupText("222A");
    m_opt.HTagIndex = 1;
    m_opt.HTagMenu = 1;
    m_opt.DTTagIndex = 1;
    m_opt.leftMargin = 1;
    m_opt.tableWidth = 480;
    m_opt.kwordLen = 1;
    m_opt.autoUniGaiji = 1;
    m_opt.eijiPronon = 1;
    m_opt.eijiPartOfSpeech = 1;
    m_opt.eijiBreak = 1;
}

void CEPWing::term() {
    delete m_book;
    m_book = nullptr;
    delete m_catalog;
    m_catalog = nullptr;
    m_hexFonts.clear();
}

void CEPWing::report(const char* text) const {
    if (m_callback != nullptr) m_callback(text);
}

void CEPWing::setOutput(const char* outPath, int ebType) {
    if (outPath == nullptr || std::strlen(outPath) >= sizeof m_opt.outPath) {
        // No book may be written somewhere else instead: newBook refuses
        // to start without an output directory.
        report("output path too long (255 bytes at most)\r\n");
        m_opt.outPath[0] = 0;
    } else {
        size_t n = std::strlen(outPath);
        std::memcpy(m_opt.outPath, outPath, n + 1);
        // Book paths are the output path joined with the directory name.
        if (n > 0 && outPath[n - 1] != '/') {
            if (n + 1 < sizeof m_opt.outPath) {
                m_opt.outPath[n] = '/';
                m_opt.outPath[n + 1] = 0;
            } else {
                report("output path too long (255 bytes at most)\r\n");
                m_opt.outPath[0] = 0;
            }
        }
    }
    m_opt.ebType = ebType;
    // The books an earlier build of either family left in the folder.
    m_earlierBooks.clear();
    if (m_opt.outPath[0] != 0) {
        for (int epwing : {1, 0}) {
            CEBCatalog earlier;
            const int n = earlier.readCatalog(m_opt.outPath, "r", epwing);
            for (int i = 0; i < n; ++i) {
                std::string dir = earlier.directory(i) ? earlier.directory(i) : "";
                while (!dir.empty() && dir.back() == ' ') dir.pop_back();
                for (char& c : dir)
                    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                if (!dir.empty()) m_earlierBooks.insert(dir);
            }
        }
    }
    if (m_catalog != nullptr) m_catalog->readCatalog(m_opt.outPath, "w", ebType);
}

bool CEPWing::closeCatalog() {
    if (m_catalog == nullptr) return false;
    if (m_catalog->count() == 0) {
        const char* name = m_opt.ebType ? "CATALOGS" : "CATALOG";
        struct stat st;
        const bool there = m_opt.outPath[0] != 0 && lstat((std::string(m_opt.outPath) + name).c_str(), &st) == 0;
        report((std::string("No book completed: the catalog ") + name +
                (there ? " is left as it was" : " is not written") + "\r\n")
                   .c_str());
        m_earlierBooks.clear();
        m_catalog->reset();
        m_subbookIndex = -1;
        return false;
    }
    const bool written = m_catalog->writeCatalog() == 0;
    if (!written)
        report(m_opt.ebType ? "can't create output file(CATALOGS)\r\n" : "can't create output file(CATALOG)\r\n");
    if (written && m_opt.outPath[0] != 0) {
        // Readers take a compressed catalog first, and either family's
        // catalog: only the one just written may stay.
        const std::string out = m_opt.outPath;
        const char* const stale[] = {m_opt.ebType ? "CATALOGS.ebz" : "CATALOG.ebz",
                                     m_opt.ebType ? "CATALOG" : "CATALOGS",
                                     m_opt.ebType ? "CATALOG.ebz" : "CATALOGS.ebz"};
        for (const char* name : stale) {
            const std::string path = out + name;
            struct stat st;
            if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
            if (unlink(path.c_str()) == 0)
                report(("Removed " + path + ": not a file of this build\r\n").c_str());
            else
                report(("can't remove the earlier file(" + path + ")\r\n").c_str());
        }
        // Books of the earlier catalog that this one does not list keep
        // their folders: they may hold the user's own files.
        for (int i = 0; i < m_catalog->count(); ++i) {
            std::string dir = m_catalog->directory(i) ? m_catalog->directory(i) : "";
            while (!dir.empty() && dir.back() == ' ') dir.pop_back();
            m_earlierBooks.erase(dir);
        }
        for (const std::string& dir : m_earlierBooks)
            report(("Book folder " + out + dir + " is not in this catalog: left as it is\r\n").c_str());
    }
    m_earlierBooks.clear();
    m_catalog->reset();
    m_subbookIndex = -1;
    return written;
}

// ---- options by name ----

void CEPWing::setIntOption(const char* name, int value) {
    if (const IntField* f = findField(kIntFields, name)) {
        m_opt.*(f->field) = value;
    } else if (const IntField* b = findField(kBoolFields, name)) {
        m_opt.*(b->field) = value;
    } else if (const ShortField* s = findField(kShortFields, name)) {
        m_opt.*(s->field) = static_cast<int16_t>(value & 0xFFFF);
    } else if (name != nullptr && strcasecmp(name, "maxStringT") == 0) {
        m_opt.maxStringT = static_cast<uint32_t>(value);
    }
}

int CEPWing::getIntOption(const char* name) const {
    if (const IntField* f = findField(kIntFields, name)) return m_opt.*(f->field);
    if (const ShortField* s = findField(kShortFields, name)) return m_opt.*(s->field);
    if (name != nullptr && strcasecmp(name, "maxStringT") == 0) return static_cast<int>(m_opt.maxStringT);
    return 0;
}

void CEPWing::setBoolOption(const char* name, bool value) {
    if (const IntField* b = findField(kBoolFields, name)) m_opt.*(b->field) = value ? 1 : 0;
}

int CEPWing::getBoolOption(const char* name) const {
    if (const IntField* b = findField(kBoolFields, name)) return m_opt.*(b->field) ? 1 : 0;
    return 0;
}

void CEPWing::setStringOption(const char* name, const char* text) {
    const StringField* f = findField(kStringFields, name);
    if (f == nullptr) return;
    char* copy = dupText(text);
    if (copy == nullptr) return;
    std::free(m_opt.*(f->field));
    m_opt.*(f->field) = copy;
}

const char* CEPWing::getStringOption(const char* name) const {
    const StringField* f = findField(kStringFields, name);
    if (f == nullptr || m_opt.*(f->field) == nullptr) return "";
    return m_opt.*(f->field);
}

void CEPWing::setMessageCallback(void (*callback)(const char* text)) {
    m_callback = callback;
    if (m_book != nullptr) m_book->setMessageCallback(callback);
}

// ---- books ----

int CEPWing::fillBookSpec(const char* title, const char* dirName, int bookTypeID, int fontMask, const char* fontNames,
                          bool separateMMData) {
    char dir[9];
    if (dirName == nullptr) return -1;
    if (m_opt.outPath[0] == 0) {
        report("no output directory (setOutput)\r\n");
        return -1;
    }
    if (!validDirName(dirName, dir)) {
        report("invalid directory name: use 1 to 8 letters, digits or _\r\n");
        return -1;
    }
    if (!fits(title, sizeof m_spec.title)) {
        report("book title too long (80 bytes at most)\r\n");
        return -1;
    }
    if (fontNames != nullptr) {
        for (int i = 0; i < FONT_SLOTS; ++i) {
            if (!(fontMask & kFontSlots[i].maskBit)) continue;
            const char* name = fontNames + i * 9;
            if (std::memchr(name, 0, 9) == nullptr) {
                report("gaiji font name too long (8 bytes at most)\r\n");
                return -1;
            }
            // A font name is a file name in the book's GAIJI directory.
            if (std::strchr(name, '/') != nullptr || std::strchr(name, '\\') != nullptr ||
                std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
                report("invalid gaiji font name: a file name without a path\r\n");
                return -1;
            }
        }
    }
    std::memset(&m_spec, 0, sizeof m_spec);
    if (title != nullptr) std::memcpy(m_spec.title, title, std::strlen(title) + 1);
    std::memcpy(m_spec.dirName, dir, sizeof dir);
    m_spec.bookTypeID = bookTypeID;
    if (fontNames != nullptr)
        for (int i = 0; i < FONT_SLOTS; ++i)
            if (fontMask & kFontSlots[i].maskBit) std::memcpy(m_spec.fontNames[i], fontNames + i * 9, 9);
    m_spec.separateMMData = separateMMData;
    return 0;
}

int CEPWing::registerSubbook() {
    m_subbookIndex = -1;
    if (m_catalog == nullptr) return -1;
    int fontMask = 0;
    for (int i = 0; i < FONT_SLOTS; ++i)
        if (m_spec.fontNames[i][0] != 0) fontMask |= kFontSlots[i].maskBit;
    // The catalog keeps the title in full width, two bytes a character:
    // 80 bytes for EPWING, 30 for EB. A longer title is cut at a character.
    char title[sizeof m_spec.title];
    const size_t maxChars = m_opt.ebType == 1 ? 40 : 15;
    size_t n = 0;
    for (size_t chars = 0; m_spec.title[n] != 0 && chars < maxChars; ++chars) {
        const bool pair = jclib::isSjisLead(static_cast<unsigned char>(m_spec.title[n])) && m_spec.title[n + 1] != 0;
        n += pair ? 2 : 1;
    }
    std::memcpy(title, m_spec.title, n);
    title[n] = 0;
    int rc;
    if (m_spec.separateMMData)
        rc = m_catalog->addSubbook(title, m_spec.dirName, m_spec.bookTypeID & 0xFF, fontMask, &m_spec.fontNames[0][0],
                                   4, "HONMON2", "HONMONG", "HONMONS");
    else
        rc = m_catalog->addSubbook(title, m_spec.dirName, m_spec.bookTypeID & 0xFF, fontMask, &m_spec.fontNames[0][0],
                                   1);
    if (rc != 0) {
        report("can't register the book in the catalog\r\n");
        return -1;
    }
    m_subbookIndex = m_catalog->count() - 1;
    return 0;
}

int CEPWing::newBook(const char* title, const char* dirName, int bookTypeID, const char* gaijiFont,
                     const char* gaijiMap, const char* complexDef, const char* keywordFile, int fontMask,
                     const char* fontNames, int indexDef, bool separateMMData, uint16_t hanStart, uint16_t zenStart) {
    if (dirName == nullptr) return -1;
    if (!fits(gaijiFont, 256) || !fits(gaijiMap, 256) || !fits(complexDef, 256) || !fits(keywordFile, 256)) {
        report("path too long (255 bytes at most)\r\n");
        return -1;
    }
    if (fillBookSpec(title, dirName, bookTypeID, fontMask, fontNames, separateMMData) != 0) return -1;
    std::strcpy(m_opt.gaijiFile, gaijiFont ? gaijiFont : "");
    std::strcpy(m_opt.gaijiMapFile, gaijiMap ? gaijiMap : "");
    std::strcpy(m_opt.keywordFile, keywordFile ? keywordFile : "");
    std::strcpy(m_spec.complexDef, complexDef ? complexDef : "");
    // 0 selects the prefix headword search alone, whatever the last book had.
    if (indexDef == 0) indexDef = 1 << IDX_WORD_HYOKI;
    for (int i = 0; i < IDX_COUNT; ++i) m_opt.idx[i] = (indexDef >> i) & 1;
    if (hanStart != 0 && zenStart != 0) {
        m_spec.hanStart = hanStart;
        m_spec.zenStart = zenStart;
    }
    // The book is listed in the catalog once it is built whole (makeBook).
    m_subbookIndex = -1;
    if (m_book == nullptr) return -1;
    return m_book->open(&m_opt, &m_spec);
}

int CEPWing::addCatalogBook(const char* title, const char* dirName, int bookTypeID, int fontMask, const char* fontNames,
                            bool separateMMData) {
    if (dirName == nullptr) return -1;
    if (fillBookSpec(title, dirName, bookTypeID, fontMask, fontNames, separateMMData) != 0) return -1;
    registerSubbook();
    return 0;
}

int CEPWing::loadHexFont(const char* path) {
    if (m_book == nullptr || m_book->getGaiji() == nullptr || path == nullptr) return -1;
    std::shared_ptr<const CHexFontFile>& font = m_hexFonts[path];
    if (!font) font = CHexFontFile::open(path);
    if (font->hexIndex() < 0 && font->status() == CHexFontFile::kFailed) {
        // Only a book that needs its glyphs fails for it (when its fonts are
        // written); the others build as they would with the font.
        struct stat st;
        const bool there = stat(path, &st) == 0;
        m_book->getGaiji()->noteMissingHexFont(path,
                                               there ? "not a hex font of 8x16, 16x16, 12x24 or 24x24" : "not found");
        return -1;
    }
    // A first line without width or height is no failure: nothing is kept.
    if (font->hexIndex() < 0 && font->status() == CHexFontFile::kNoSize) return 0;
    return m_book->getGaiji()->shareHexFont(font);
}

int CEPWing::addSource(const char* path, const char* title, int type, const char* fields) {
    if (m_book == nullptr) return -1;
    return m_book->addSource(path, title, type, fields);
}

void CEPWing::leaveOutSource() {
    if (m_book != nullptr) m_book->leaveOutSource();
}

int CEPWing::setCopyright(const char* path) {
    if (m_book != nullptr && m_book->setCopyright(path) != 0) report("copyright path too long (255 bytes at most)\r\n");
    return 0;
}

BookResult CEPWing::makeBook() {
    if (m_book == nullptr) return BookResult();
    const BookResult result = m_book->make();
    // Only a book built whole is listed: a catalog entry for a book cut
    // short would lead readers to a text that is not there.
    if (!result.written || result.aborted) return result;
    registerSubbook();
    // The catalog names the gaiji font files the book really has.
    if (m_catalog == nullptr || m_subbookIndex < 0) return result;
    SUBBOOK_INFO* sb = m_catalog->subbook(m_subbookIndex);
    if (sb == nullptr) return result;
    int written = m_book->writtenFontMask();
    for (int i = 0; i < FONT_SLOTS; ++i) {
        if (!(written & kFontSlots[i].maskBit)) continue;
        sb->fontFlags |= kFontSlots[i].maskBit;
        if (sb->fontNames[i][0] == 0) {
            std::strncpy(sb->fontNames[i], m_book->writtenFontName(i), 8);
            sb->fontNames[i][8] = 0;
        }
    }
    return result;
}

void CEPWing::saveGlossviewGaijiMap(const char* path) {
    if (m_book == nullptr || m_book->getGaiji() == nullptr) return;
    CGaijiFontWriter::saveGlossviewGaijiMap(*m_book->getGaiji(), path);
}

void CEPWing::abort() {
    if (m_book != nullptr) m_book->abort();
}

int CEPWing::getProgress() const {
    return m_book != nullptr ? m_book->getProgress() : 0;
}

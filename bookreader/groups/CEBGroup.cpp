#include "bookreader/groups/CEBGroup.h"

#include "foundation/pathutil.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dictformats/DictionaryReaders.h"
#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"

namespace {

const char kGroupFileName[] = "HANDVIEW.grp";

// Copies src into a buffer of size bytes; false (and dst empty) when it does not fit.
bool copyBounded(char* dst, size_t size, const char* src) {
    size_t n = strlen(src);
    if (n >= size) {
        dst[0] = 0;
        return false;
    }
    memcpy(dst, src, n + 1);
    return true;
}

bool endsWithNoCase(const char* text, const char* suffix) {
    size_t n = strlen(text), m = strlen(suffix);
    return n >= m && strcasecmp(text + n - m, suffix) == 0;
}

bool startsWithNoCase(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

// Copies at most n bytes of a title, never splitting a character: UTF-8
// text by its sequences, any other text as Shift_JIS (a lead byte without
// its trail byte is left out).
void copyTitleCut(char* dst, const char* src, size_t n) {
    const size_t length = strlen(src);
    const bool utf8 = isUtf8Text(src, static_cast<int>(length)) != 0;
    size_t i = 0;
    while (src[i] && i < n) {
        size_t step = 1;
        if (utf8) {
            step = static_cast<size_t>(utf8CharLength(src + i, static_cast<int>(length - i)));
        } else if (jclib::isSjisLead(static_cast<unsigned char>(src[i]))) {
            step = 2;
            if (!src[i + 1]) break;
        }
        if (i + step > n) break;
        i += step;
    }
    memcpy(dst, src, i);
    dst[i] = 0;
}

// A subbook index of the group file: decimal digits only.
bool parseIndex(const char* text, int* index) {
    if (!text[0] || strlen(text) > 9) return false;
    for (const char* p = text; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    *index = atoi(text);
    return true;
}

// The slot's directory name without trailing blanks.
void trimmedDirectory(const SUBBOOK_INFO& slot, char out[9]) {
    memcpy(out, slot.directory, 8);
    out[8] = 0;
    for (int i = 7; i >= 1 && out[i] == ' '; --i) out[i] = 0;
}

// Makes text fit one field of the group file: a "|", CR or LF character
// (not the trail byte of a two-byte character) and a lead byte without its
// trail byte become blanks. Returns the number of characters replaced.
int sanitizeField(std::string* text) {
    int replaced = 0;
    // UTF-8 holds a separator byte only as itself; Shift_JIS may hold one as
    // the second byte of a character.
    const bool utf8 = isUtf8Text(text->data(), static_cast<int>(text->size())) != 0;
    for (size_t i = 0; i < text->size(); ++i) {
        char& c = (*text)[i];
        if (!utf8 && jclib::isSjisLead(static_cast<unsigned char>(c))) {
            if (i + 1 < text->size()) {
                ++i;
                continue;
            }
        } else if (c != '|' && c != '\r' && c != '\n') {
            continue;
        }
        c = ' ';
        ++replaced;
    }
    return replaced;
}

// Whether a path cannot be written into the group file as it is.
bool holdsSeparator(const char* path) {
    std::string copy = path;
    return sanitizeField(&copy) != 0;
}

// The version a reader opens a file with: the entry's version, but the
// Huffman forms named by a compression code (17, 18) when the catalog
// really carries codes (EPWING slots of version 2 and above).
int versionFor(const GROUP_ENTRY& e, unsigned char code, bool codeApplies) {
    if (e.kind == BOOK_KIND_EPWING && e.subbook.version >= 2 && codeApplies) {
        if (code == 17) return 4;
        if (code == 18) return 6;
    }
    return e.version;
}

std::string found(const char* path) {
    return path ? std::string(path) : std::string();
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

void GROUP_ENTRY::releaseReaders() {
    graphicsReader.reset();
    soundReader.reset();
    for (auto& f : fontReaders) f.reset();
    if (textReader) textReader->close();
    fontSlot = 0;
}

CEBGroup::CEBGroup(const char* directory) {
    // The catalog reaches the StarDict, MDict and user-dictionary readers
    // through the probes they register.
    registerDictionaryReaders();
    char cwd[kPathSize];
    if (!directory) directory = getcwd(cwd, sizeof cwd) ? cwd : "";
    m_directory[0] = 0;
    size_t n = strlen(directory);
    if (n + 2 <= sizeof m_directory) {
        memcpy(m_directory, directory, n + 1);
        if (n > 0 && m_directory[n - 1] != '/') strcat(m_directory, "/");
    }
    m_file[0] = 0;
    if (strlen(m_directory) + sizeof kGroupFileName <= sizeof m_file) {
        strcpy(m_file, m_directory);
        strcat(m_file, kGroupFileName);
    }
    m_options = {-1, -1, -1};
    m_baseDir[0] = 0;
    m_history.assign(kGroupHistoryCapacity + 1, HISTORY_ITEM{});
}

CEBGroup::~CEBGroup() {
    clear();
}

int CEBGroup::clear() {
    m_entries.clear();
    m_entries.shrink_to_fit();
    m_historyTop = m_historyPosition = 0;
    m_modified = 0;
    m_everFilled = false;
    m_unavailableLines.clear();
    m_droppedLines.clear();
    for (auto& c : m_catalogs) c.second->reset();
    m_catalogs.clear();
    return 1;
}

int CEBGroup::setFile(const char* path) {
    clear();
    if (path) copyBounded(m_file, sizeof m_file, path);
    return 1;
}

const char* CEBGroup::setBaseDir(const char* directory) {
    if (directory) copyBounded(m_baseDir, sizeof m_baseDir, directory);
    return m_baseDir;
}

int CEBGroup::load(int reopen) {
    if (!m_file[0]) return 0;
    if (!reopen) {
        char path[kPathSize];
        strcpy(path, m_file);
        return readFile(path);
    }
    for (GROUP_ENTRY& e : m_entries) {
        if (!e.opened) continue;
        bool reopened = true;
        for (CEBReader* r : {e.textReader.get(), e.graphicsReader.get(), e.soundReader.get()})
            if (r && r->reopen() != 1) reopened = false;
        for (auto& f : e.fontReaders)
            if (f && f->reopen() != 1) reopened = false;
        // A book that cannot be opened now (a disc taken out, a file moved
        // away) is an unopened entry again: entry() then says so instead of
        // handing out closed readers, and opens it afresh once it is back.
        if (!reopened) {
            e.releaseReaders();
            e.opened = 0;
        }
    }
    m_modified = 0;
    return 1;
}

// --- the group file ------------------------------------------------------------

int CEBGroup::readFile(const char* path) {
    std::string name = path ? path : "";
    clear();
    if (!copyBounded(m_file, sizeof m_file, name.c_str())) return 0;
    FilePtr f = openFile(m_file, "r");
    if (!f) return 0;
    m_everFilled = true;
    std::string line;
    int number = 0;
    for (int c = 0; c != EOF;) {
        line.clear();
        while ((c = getc(f.get())) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) break;
        ++number;
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const bool read = line.compare(0, 2, "%%") == 0 ? parseOptionLine(line.c_str() + 2) : parseEntryLine(line);
        if (!read) m_droppedLines.push_back(GROUP_FILE_LINE{number, line});
    }
    m_modified = 0;
    return 1;
}

bool CEBGroup::parseOptionLine(const char* line) {
    line += strspn(line, "=\t\r\n");
    size_t keyLength = strcspn(line, "=\t\r\n");
    if (keyLength == 0 || !line[keyLength]) return false;
    std::string key(line, keyLength);
    const char* value = line + keyLength + 1;
    value += strspn(value, "\t\r\n");
    size_t valueLength = strcspn(value, "\t\r\n");
    if (valueLength == 0) return false;
    const std::string digits(value, valueLength);
    char* end = nullptr;
    const long number = strtol(digits.c_str(), &end, 10);
    if (end == digits.c_str() || *end) return false;
    const int16_t v = static_cast<int16_t>(number);
    if (key == "bWordInflect")
        m_options.bWordInflect = v;
    else if (key == "searchType")
        m_options.searchType = v;
    else if (key == "bFindAllDict")
        m_options.bFindAllDict = v;
    else
        return false;
    return true;
}

bool CEBGroup::parseEntryLine(const std::string& original) {
    std::string copy = original;
    char* line = &copy[0];
    const char* delims = "|\r\n";
    char* tokens[6] = {};
    for (int i = 0; i < 5; ++i) {
        tokens[i] = jclib::mbstok(i == 0 ? line : nullptr, delims);
        if (!tokens[i]) break;
    }
    if (tokens[4]) {
        // A title in UTF-8 ends at the first separator byte: its last byte
        // may be a Shift_JIS lead byte, which would take the separator after
        // it for its second byte.
        char* rest = tokens[4] + strlen(tokens[4]) + 1;
        char* end = &copy[0] + copy.size();
        if (rest < end) {
            rest += strspn(rest, delims);
            if (*rest && isUtf8Text(rest, static_cast<int>(strlen(rest)))) {
                rest[strcspn(rest, delims)] = 0;
                tokens[5] = rest;
            } else {
                tokens[5] = jclib::mbstok(nullptr, delims);
            }
        }
    }
    int index = 0;
    if (!tokens[0] || !tokens[1] || !parseIndex(tokens[1], &index)) return false;
    std::string path = tokens[0];
    if (path[0] == '.' && m_baseDir[0]) path = std::string(m_baseDir) + path.substr(1);
    if (path.size() >= kPathSize) return false;
    // "_" alone stands for no title; any other text is the title. The test
    // comes after the cut, so that a field that only becomes "_" there (a
    // lone lead byte after it) is no title either, as it is once saved.
    // The title is kept as a save writes it (sanitizeField), so that a
    // Shift_JIS title that also reads as UTF-8 comes back the same.
    char cut[kGroupTitleSize] = {};
    if (tokens[5]) copyTitleCut(cut, tokens[5], sizeof cut - 1);
    std::string title = cut;
    sanitizeField(&title);
    if (title == "_") title.clear();
    if (addBook(path.c_str(), index, title.empty() ? nullptr : title.c_str()) < 0)
        m_unavailableLines.push_back(KeptLine{static_cast<size_t>(count()), original});
    return true;
}

bool CEBGroup::formatFile(std::string* text) const {
    size_t baseLength = strlen(m_baseDir);
    char line[kPathSize * 2 + 64];
    // A line kept for a book that is away goes back where it stood among
    // the entries.
    auto kept = m_unavailableLines.begin();
    auto keptBefore = [&](size_t entry) {
        for (; kept != m_unavailableLines.end() && kept->before <= entry; ++kept) *text += kept->text + "\n";
    };
    for (const GROUP_ENTRY& e : m_entries) {
        keptBefore(static_cast<size_t>(&e - m_entries.data()));
        if (holdsSeparator(e.path)) return false;
        std::string path = e.path;
        if (baseLength && path.compare(0, baseLength, m_baseDir) == 0) path = "." + path.substr(baseLength);
        std::string title = e.userTitle;
        sanitizeField(&title);
        char dir[9];
        memcpy(dir, e.subbook.directory, 8);
        dir[8] = 0;
        snprintf(line, sizeof line, "%s|%d|%s|%s|%s|%s|\n", path.c_str(), e.subbookIndex,
                 e.textReader && e.textReader->isLatin1() ? "G" : "_", "_", dir[0] ? dir : "_", title.c_str());
        *text += line;
    }
    keptBefore(SIZE_MAX);
    snprintf(line, sizeof line, "%%%%bWordInflect=%d\n%%%%searchType=%d\n%%%%bFindAllDict=%d\n", m_options.bWordInflect,
             m_options.searchType, m_options.bFindAllDict);
    *text += line;
    return true;
}

int CEBGroup::save(const char* path) {
    if (m_entries.empty() && !m_everFilled) return 0;
    // A group saved under another name is written even when unmodified, so
    // that the new file exists afterwards.
    bool renamed = path && strcmp(path, m_file) != 0;
    if (path && !copyBounded(m_file, sizeof m_file, path)) return 0;
    if (!m_modified && !renamed) return 1;
    std::string text;
    if (!m_file[0] || !formatFile(&text)) return 0;
    if (writeFileAtomically(m_file, text.data(), text.size()) != 0) return 0;
    m_modified = 0;
    return 1;
}

// --- adding --------------------------------------------------------------------

int CEBGroup::openCatalogFor(CEBCatalog* catalog, const char* path) {
    char name[kPathSize], dir[kPathSize];
    if (pathFileName(path, name) < 0 || pathDirName(path, dir) < 0) return 0;
    if (endsWithNoCase(name, ".DIC")) return catalog->openPdic(path, "r");
    if (endsWithNoCase(name, ".LFD")) return catalog->openSqlite(path, "r");
    if (endsWithNoCase(name, ".IFO")) return catalog->openStarDict(path, "r");
    if (endsWithNoCase(name, ".mdx")) return catalog->openMdict(path, "r");
    if (endsWithNoCase(name, ".IDX")) return catalog->readSsedInfo(path, "r");
    return catalog->readCatalog(dir[0] ? dir : ".", "r", startsWithNoCase(name, "CATALOGS"));
}

int CEBGroup::addBook(const char* path, int subbookIndex, const char* userTitle) {
    if (!path || strlen(path) >= kPathSize) return -1;
    auto it = m_catalogs.find(path);
    if (it == m_catalogs.end()) {
        it = m_catalogs.emplace(path, std::unique_ptr<CEBCatalog>(new CEBCatalog)).first;
        openCatalogFor(it->second.get(), path);
    }
    if (!addEntry(it->second.get(), path, subbookIndex, userTitle)) return -1;
    return count() - 1;
}

int CEBGroup::addCatalog(const char* path) {
    if (!path || strlen(path) >= kPathSize) return 0;
    CEBCatalog catalog;
    if (!openCatalogFor(&catalog, path)) {
        catalog.reset();
        return 0;
    }
    for (int i = 0; i < catalog.count(); ++i) addEntry(&catalog, path, i, nullptr);
    m_modified = 1;
    catalog.reset();
    return 1;
}

void CEBGroup::scanDirectory(const char* directory, int depth) {
    std::unique_ptr<DIR, DirCloser> d(opendir(directory));
    if (!d) return;
    std::string base = directory;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    static const char* const kBookFiles[] = {"CATALOG", "CATALOGS", "CATALOG.ebz", "CATALOGS.ebz"};
    static const char* const kSuffixes[] = {".IDX", ".DIC", ".lfd", ".IFO", ".mdx"};
    static const char* const kSkipped[] = {"TEXT", "SOUND", "SOUNDS", "DCIM"};
    while (struct dirent* de = readdir(d.get())) {
        const char* name = de->d_name;
        if (name[0] == '.') continue;
        std::string full = base + "/" + name;
        struct stat st;
        if (stat(full.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            bool skipped = std::any_of(std::begin(kSkipped), std::end(kSkipped),
                                       [&](const char* s) { return strcasecmp(name, s) == 0; });
            if (depth >= 1 && !skipped) scanDirectory(full.c_str(), depth - 1);
            continue;
        }
        bool book = std::any_of(std::begin(kBookFiles), std::end(kBookFiles),
                                [&](const char* s) { return strcasecmp(name, s) == 0; }) ||
                    std::any_of(std::begin(kSuffixes), std::end(kSuffixes),
                                [&](const char* s) { return endsWithNoCase(name, s); });
        if (book) addCatalog(full.c_str());
    }
}

int CEBGroup::addEntry(CEBCatalog* catalog, const char* path, int subbookIndex, const char* userTitle) {
    if (!catalog || !path || strlen(path) >= kPathSize || holdsSeparator(path)) return 0;
    const SUBBOOK_INFO* slot = catalog->subbook(subbookIndex);
    if (!slot || slot->recordByte0 == 0xF0) return 0;
    int kind = catalog->kind();
    char subbookDir[9];
    trimmedDirectory(*slot, subbookDir);
    if (kind >= BOOK_KIND_PDIC || catalog->ssedFlag()) {
        if (!fileExists(path)) return 0;
    } else {
        char dir[kPathSize];
        if (pathDirName(path, dir) < 0 || !findFile(dir[0] ? dir : ".", subbookDir, 1)) return 0;
    }

    GROUP_ENTRY e{};
    strcpy(e.path, path);
    e.subbookIndex = subbookIndex;
    e.subbook = *slot;
    if (userTitle) copyTitleCut(e.userTitle, userTitle, sizeof e.userTitle - 1);
    e.kind = kind;
    e.version = slot->version;
    e.ssed = static_cast<uint16_t>(catalog->ssedFlag() != 0);
    memcpy(e.subbookDir, subbookDir, sizeof subbookDir);
    e.languageFlag = catalog->languageFlag();
    lookUpGaijiMap(&e);
    e.textReader.reset(new CEBReader);
    if (kind == BOOK_KIND_EB && !openEntry(&e, e.languageFlag)) return 0;
    if (m_entries.size() + 1 >= m_entries.capacity()) m_entries.reserve(std::max<size_t>(32, m_entries.capacity() * 2));
    m_entries.push_back(std::move(e));
    m_modified = 1;
    m_everFilled = true;
    return 1;
}

// --- entries -------------------------------------------------------------------

int CEBGroup::entryPtr(int i, GROUP_ENTRY** out) {
    if (i < 0 || i >= count()) return 0;
    *out = &m_entries[i];
    return 1;
}

int CEBGroup::entry(int i, GROUP_ENTRY** out) {
    GROUP_ENTRY* e;
    if (!entryPtr(i, &e)) return 0;
    if (!e->opened && !openEntry(e, e->languageFlag)) return 0;
    *out = e;
    return 1;
}

const char* CEBGroup::subbookDirectory(const GROUP_ENTRY* entry) {
    static char result[kPathSize];
    char dir[kPathSize];
    if (pathDirName(entry->path, dir) < 0) dir[0] = 0;
    if (!dir[0]) strcpy(dir, ".");
    const char* hit = entry->subbookDir[0] ? findFile(dir, entry->subbookDir, 1) : nullptr;
    copyBounded(result, sizeof result, hit ? hit : dir);
    return result;
}

int CEBGroup::openEntry(GROUP_ENTRY* e, int languageFlag) {
    if (!e || e->opened) return 0;
    if (!e->textReader) e->textReader.reset(new CEBReader);
    int ok = 0;
    switch (e->kind) {
        case BOOK_KIND_EB:
            ok = openEb(e, languageFlag);
            break;
        case BOOK_KIND_EPWING:
            ok = openEpwing(e);
            break;
        default:
            ok = openDictionary(e);
            break;
    }
    if (!ok) {
        // Nothing of a failed attempt stays open: the next attempt starts afresh.
        e->releaseReaders();
        return 0;
    }
    e->opened = 1;
    return 1;
}

int CEBGroup::openDictionary(GROUP_ENTRY* e) {
    CEBReader* r = e->textReader.get();
    switch (e->kind) {
        case BOOK_KIND_PDIC:
            return r->openPdic(e->path) == 1;
        case BOOK_KIND_USER_DICT:
            return r->openUserDictionary(e->path) == 1;
        case BOOK_KIND_STARDICT:
            return r->openStarDict(e->path) == 1;
        case BOOK_KIND_MDICT:
            return r->openMDict(e->path) == 1;
        default:
            return 0;
    }
}

int CEBGroup::openEb(GROUP_ENTRY* e, int languageFlag) {
    std::string sbdir = subbookDirectory(e);
    if (endsWithNoCase(sbdir.c_str(), "ZHONG_RI")) e->zhongRi = 1;
    static const char* const kText[] = {"START.ebz", "START", nullptr};
    std::string text = found(findAnyFile(sbdir.c_str(), kText, 1));
    if (text.empty()) return 0;
    if (e->textReader->open(text.c_str(), e->subbook.indexPage, e->version) != 1) return 0;
    if (e->textReader->narrowFont().count == 0 && languageFlag) e->textReader->setLatin1(1);
    e->fontSlot = 0;
    static const char* const kSound[] = {"SOUND.ebz", "SOUND", nullptr};
    std::string sound = found(findAnyFile(sbdir.c_str(), kSound, 1));
    if (!sound.empty()) {
        e->soundReader.reset(new CEBReader);
        if (e->soundReader->open(sound.c_str(), 1, 0) != 1) return 0;
    }
    return 1;
}

void CEBGroup::openFonts(GROUP_ENTRY* e) {
    std::string fontDir;
    if (e->ssed) {
        char dir[kPathSize];
        pathDirName(e->path, dir);
        fontDir = std::string(dir) + "/";
    } else {
        std::string sbdir = subbookDirectory(e);
        std::string gaiji = found(findFile(sbdir.c_str(), "GAIJI", 1));
        fontDir = gaiji.empty() ? sbdir + "/GAIJI/" : gaiji + "/";
    }
    for (int slot = 0; slot < FONT_SLOTS; ++slot) {
        char name[9];
        memcpy(name, e->subbook.fontNames[slot], 8);
        name[8] = 0;
        for (int i = 7; i >= 0 && name[i] == ' '; --i) name[i] = 0;
        if (!name[0]) continue;
        std::string file = found(findFile(fontDir.c_str(), name, 1));
        if (file.empty()) file = found(findFile(fontDir.c_str(), (std::string(name) + ".ebz").c_str(), 1));
        if (file.empty()) continue;
        std::unique_ptr<CEBReader> font(new CEBReader);
        if (!font->openSingleFile(file.c_str())) continue;
        // The text reader files the font as narrow or wide by its shape.
        const FONT_HEADER& header = font->narrowFont();
        e->textReader->setFontInfo(header.width, header.height, header.count, header.startCode, header.endCode);
        if (slot % 2 == 0) e->fontSlot = static_cast<uint16_t>(slot);
        e->fontReaders[slot] = std::move(font);
    }
}

int CEBGroup::openEpwing(GROUP_ENTRY* e) {
    if (e->subbook.recordByte0 == 0xF0) return 0;
    const SUBBOOK_INFO& s = e->subbook;
    std::string sbdir = subbookDirectory(e);
    std::string text;
    std::string data;
    if (endsWithNoCase(e->path, ".IDX")) {
        text = e->path;
    } else {
        data = found(findFile(sbdir.c_str(), "DATA", 1));
        if (data.empty()) return 0;
        static const char* const kText[] = {"HONMON.ebz", "HONMON", "HONMON2.ebz", "HONMON2", nullptr};
        text = found(findAnyFile(data.c_str(), kText, 1));
        if (text.empty()) return 0;
    }
    if (e->textReader->open(text.c_str(), s.indexPage, versionFor(*e, s.textCompression, true)) != 1) return 0;
    e->fontSlot = 0;
    openFonts(e);
    if (e->ssed) return 1;

    if (data.empty()) data = found(findFile(sbdir.c_str(), "DATA", 1));
    if (data.empty()) return 1;
    struct MediaFile {
        const char* names[3];
        const char* prefix;
        unsigned char code;
        std::unique_ptr<CEBReader>* reader;
    } media[] = {
        {{"HONMONG.ebz", "HONMONG", nullptr}, "HONMONG", s.graphicsCompression, &e->graphicsReader},
        {{"HONMONS.ebz", "HONMONS", nullptr}, "HONMONS", s.soundCompression, &e->soundReader},
    };
    for (MediaFile& m : media) {
        std::string file = found(findAnyFile(data.c_str(), m.names, 1));
        if (file.empty()) continue;
        bool named = startsWithNoCase(s.graphicsFileName, m.prefix) || startsWithNoCase(s.soundFileName, m.prefix);
        m.reader->reset(new CEBReader);
        if ((*m.reader)->open(file.c_str(), 1, versionFor(*e, m.code, named)) != 1) return 0;
    }
    return 1;
}

int CEBGroup::title(int i, char* out, int size) {
    if (!out || size <= 0) return 0;
    memset(out, 0, static_cast<size_t>(size));
    GROUP_ENTRY* e;
    if (!entryPtr(i, &e)) return 0;
    const char* source = e->subbook.title;
    if (e->kind == BOOK_KIND_EB && e->textReader && e->textReader->isLatin1()) source = e->subbook.rawTitle;

    char ascii[82];
    if (e->kind == BOOK_KIND_EB || e->kind == BOOK_KIND_EPWING) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(source);
        int read = 0, written = 0;
        bool abandoned = false;
        while (read < 80 && p[read] && written < 80) {
            if (jclib::isSjisLead(p[read]) && p[read + 1]) {
                unsigned c = jclib::zenkakuToHankaku((p[read] << 8) | p[read + 1]);
                if (c < 32 || c >= 127) {
                    abandoned = true;
                    break;
                }
                ascii[written++] = static_cast<char>(c);
                read += 2;
            } else {
                ascii[written++] = static_cast<char>(p[read++]);
            }
        }
        ascii[written] = 0;
        if (!abandoned) source = ascii;
    }

    // The " [User]" mark of a user dictionary has to fit too.
    const char* mark = "";
    if (e->kind == BOOK_KIND_USER_DICT && !(strlen(e->path) > 8 && endsWithNoCase(e->path, ".dsl.lfd")))
        mark = " [User]";
    size_t room = static_cast<size_t>(size - 1);
    size_t markLength = strlen(mark) <= room ? strlen(mark) : 0;
    size_t n = std::min(strlen(source), room - markLength);
    memcpy(out, source, n);
    memcpy(out + n, mark, markLength);
    out[n + markLength] = 0;
    return static_cast<int>(n + markLength);
}

int CEBGroup::bindLookup(std::unique_ptr<CGaijiMap> map) {
    m_gaijiMap = std::move(map);
    for (GROUP_ENTRY& e : m_entries) lookUpGaijiMap(&e);
    return 1;
}

void CEBGroup::lookUpGaijiMap(GROUP_ENTRY* e) const {
    e->gaijiMap = nullptr;
    if (m_gaijiMap) e->gaijiMap = m_gaijiMap->findMap(e->gaijiMapName[0] ? e->gaijiMapName : e->subbookDir);
}

int CEBGroup::setUserTitle(int i, const char* userTitle) {
    GROUP_ENTRY* e;
    if (!entryPtr(i, &e)) return 0;
    e->userTitle[0] = 0;
    if (userTitle) copyTitleCut(e->userTitle, userTitle, sizeof e->userTitle - 1);
    m_modified = 1;
    return 1;
}

// --- editing -------------------------------------------------------------------

template <class F>
void CEBGroup::renumberHistory(F newIndex) {
    int kept = 0, top = 0, position = 0;
    for (int k = 0; k < m_historyTop; ++k) {
        int index = newIndex(m_history[k].entryIndex);
        if (index < 0) continue;
        m_history[kept] = m_history[k];
        m_history[kept].entryIndex = index;
        ++kept;
        if (k < m_historyPosition) ++position;
        ++top;
    }
    for (int k = kept; k < static_cast<int>(m_history.size()); ++k) m_history[k] = HISTORY_ITEM{};
    m_historyTop = top;
    m_historyPosition = position;
}

int CEBGroup::remove(int i) {
    if (i < 0 || i >= count()) return 0;
    m_entries.erase(m_entries.begin() + i);
    if (m_entries.empty()) m_entries.shrink_to_fit();
    for (KeptLine& k : m_unavailableLines)
        if (k.before > static_cast<size_t>(i)) --k.before;
    renumberHistory([i](int k) { return k == i ? -1 : k > i ? k - 1 : k; });
    m_modified = 1;
    return 1;
}

int CEBGroup::move(int i, int j) {
    if (i < 0 || i >= count() || j < 0 || j >= count()) return 0;
    if (i < j)
        std::rotate(m_entries.begin() + i, m_entries.begin() + i + 1, m_entries.begin() + j + 1);
    else if (i > j)
        std::rotate(m_entries.begin() + j, m_entries.begin() + i, m_entries.begin() + i + 1);
    renumberHistory([i, j](int k) {
        if (k == i) return j;
        if (i < j && k > i && k <= j) return k - 1;
        if (i > j && k >= j && k < i) return k + 1;
        return k;
    });
    m_modified = 1;
    return 1;
}

int CEBGroup::moveByOne(int i, int direction) {
    if (i < 0 || i >= count()) return 0;
    if ((i == 0 && direction < 0) || (i == count() - 1 && direction > 0)) return 0;
    if (direction != 0) {
        int j = direction < 0 ? i - 1 : i + 1;
        std::swap(m_entries[i], m_entries[j]);
        renumberHistory([i, j](int k) { return k == i ? j : k == j ? i : k; });
    }
    m_modified = 1;
    return 1;
}

void CEBGroup::setSearchOptions(const GROUP_SEARCH_OPTIONS& options) {
    if (options.bWordInflect != m_options.bWordInflect || options.searchType != m_options.searchType ||
        options.bFindAllDict != m_options.bFindAllDict)
        m_modified = 1;
    m_options = options;
}

// --- history -------------------------------------------------------------------

int CEBGroup::pushHistory(int entryIndex, const BLOCK_POS& first, const BLOCK_POS& second) {
    if (m_historyPosition > 0) {
        const HISTORY_ITEM& last = m_history[m_historyPosition - 1];
        if (last.entryIndex == entryIndex && last.first.block == first.block && last.first.offset == first.offset &&
            last.second.offset == second.offset)
            return 1;
    }
    if (m_historyPosition >= kGroupHistoryCapacity) {
        std::move(m_history.begin() + 1, m_history.begin() + kGroupHistoryCapacity, m_history.begin());
        --m_historyPosition;
    }
    m_history[m_historyPosition] = HISTORY_ITEM{entryIndex, first, second};
    ++m_historyPosition;
    m_historyTop = m_historyPosition;
    for (size_t k = static_cast<size_t>(m_historyPosition); k < m_history.size(); ++k) m_history[k] = HISTORY_ITEM{};
    return 1;
}

int CEBGroup::stepHistory(int direction, int* entryIndex, BLOCK_POS* first, BLOCK_POS* second) {
    if (direction < 0) {
        if (m_historyPosition < 1) return 0;
        --m_historyPosition;
    } else if (direction > 0) {
        if (m_historyPosition >= m_historyTop) return 0;
        ++m_historyPosition;
    } else {
        return first->block > 0 ? 1 : 0;
    }
    const HISTORY_ITEM& h = m_history[m_historyPosition];
    *entryIndex = h.entryIndex;
    *first = h.first;
    *second = h.second;
    return first->block > 0 ? 1 : 0;
}

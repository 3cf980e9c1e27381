#include "foundation/book/CEBCatalog.h"

#include <strings.h>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "foundation/FileHandle.h"
#include "foundation/book/DictionaryOpeners.h"
#include "foundation/book/GaijiFonts.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/pdic/CPDicReader.h"
#include "foundation/storage/CZOutputFile.h"
#include "foundation/storage/CZio.h"

namespace {

const int kEpwingRecordSize = 164;
const int kEbRecordSize = 40;
const int kHeaderSize = 16;
// Two record sets of 12 EPWING subbooks end at 16 + 164 * 24 = 3952 bytes.
const int kMaxCatalogBlocks = 2;

using byteorder::be16;
using byteorder::putBe16;

// Copies up to n bytes of a fixed field and terminates the result at out[n].
void copyField(char* out, const unsigned char* in, size_t n) {
    memcpy(out, in, n);
    out[n] = '\0';
}

// Copies text into a buffer of outSize bytes; false (and out left empty) when
// it does not fit.
bool copyBounded(char* out, size_t outSize, const char* text) {
    size_t n = strlen(text);
    if (n >= outSize) {
        if (outSize) out[0] = '\0';
        return false;
    }
    memcpy(out, text, n + 1);
    return true;
}

// The first max bytes of a UTF-8 text, cut at a character boundary.
void copyUtf8Prefix(char* out, const char* text, size_t max) {
    size_t n = utf8PrefixLength(text, strlen(text), max);
    memcpy(out, text, n);
    out[n] = '\0';
}

// Mode string of the catalog: the caller's mode (at most two characters) with
// a "b" appended when it has none.
void storeMode(char* out, const char* mode) {
    size_t n = 0;
    if (mode) {
        while (n < 2 && mode[n]) {
            out[n] = mode[n];
            ++n;
        }
    }
    if (n == 0) out[n++] = 'r';
    if (!memchr(out, 'b', n)) out[n++] = 'b';
    out[n] = '\0';
}

// Reads up to maxBlocks blocks from block 1 of a stored file; the bytes
// delivered, 0 when the file cannot be opened or read.
int readStoredBlocks(const char* path, unsigned char* buffer, int maxBlocks) {
    CZio zio;
    if (zio.open(path, 0) != 0) return 0;
    if (zio.seekBlock(1) != 0) return 0;
    int total = 0;
    for (int b = 0; b < maxBlocks; ++b) {
        int n = zio.readBlock(buffer + total);
        if (n <= 0) break;
        if (n > kBlockSize) n = kBlockSize;
        total += n;
        if (n < kBlockSize) break;
    }
    return total;
}

// Offset of a font-name slot in an EPWING record: four wide names at 100,
// four narrow names at 132, in height order.
int fontNameOffset(int slot) {
    return (kFontSlots[slot].wide ? 100 : 132) + 8 * (slot / 2);
}

}  // namespace

namespace {

// A name field without its trailing blanks.
std::string trimmedName(const char* field, size_t max) {
    std::string s(field, strnlen(field, max));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool sameNameNoCase(const std::string& a, const std::string& b) {
    return !a.empty() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace

int CEBCatalog::fileCompression(const char* path, BOOK_FILE_CODE* out) {
    if (!path || !out || strlen(path) >= kPathSize) return -1;
    const std::string name = pathFileName(std::string(path));
    const std::string dataDir = pathDirName(std::string(path));
    if (name.empty() || !sameNameNoCase(trimmedName(pathFileName(dataDir).c_str(), kPathSize), "DATA")) return -1;
    const std::string subbookDir = pathDirName(dataDir);
    const std::string folder = trimmedName(pathFileName(subbookDir).c_str(), kPathSize);
    if (folder.empty()) return -1;
    std::string root = pathDirName(subbookDir);
    if (root.empty()) root = (!subbookDir.empty() && subbookDir[0] == '/') ? "/" : ".";

    std::unique_ptr<CEBCatalog> catalog(new (std::nothrow) CEBCatalog);
    if (!catalog || catalog->readCatalog(root.c_str(), "r", 1) < 1) return -1;
    // The catalog's file names describe the file's own name or the name
    // without its extension.
    const std::string base = name.substr(0, name.find('.'));
    auto namesFile = [&](const char* field) {
        std::string s = trimmedName(field, 8);
        return sameNameNoCase(s, name) || sameNameNoCase(s, base);
    };
    for (int i = 0; i < catalog->count(); ++i) {
        const SUBBOOK_INFO* sb = catalog->subbook(i);
        if (!sb || !sameNameNoCase(trimmedName(sb->directory, 8), folder)) continue;
        out->version = sb->version;
        out->code = 0;
        out->named = 0;
        if (sb->version >= 2) {
            out->named = 1;
            if (namesFile(sb->graphicsFileName)) {
                out->code = sb->graphicsCompression;
            } else if (namesFile(sb->soundFileName)) {
                out->code = sb->soundCompression;
            } else {
                out->code = sb->textCompression;
                out->named = namesFile(sb->textFileName[0] ? sb->textFileName : "HONMON") ? 1 : 0;
            }
        }
        return 0;
    }
    return -1;
}

CEBCatalog::CEBCatalog() {
    setlocale(LC_ALL, "Japanese");
    memset(m_bookDir, 0, sizeof m_bookDir);
    strcpy(m_mode, "r");
    m_kind = kEB;
    m_languageFlag = 0;
    m_ssedFlag = 0;
    memset(m_catalogPath, 0, sizeof m_catalogPath);
    m_count = 0;
    memset(m_subbooks, 0, sizeof m_subbooks);
    m_highestVersion = 1;
}

void CEBCatalog::reset() {
    m_count = 0;
    strcpy(m_mode, "r");
}

int CEBCatalog::readCatalog(const char* dir, const char* mode, int epwing) {
    m_count = 0;
    m_languageFlag = 0;
    m_catalogPath[0] = '\0';
    storeMode(m_mode, mode);
    const bool writing = m_mode[0] == 'w';
    if (!dir || !copyBounded(m_bookDir, sizeof m_bookDir, dir)) return writing ? -1 : 0;
    m_kind = epwing ? kEPWING : kEB;
    m_ssedFlag = 0;

    if (writing) {
        const char* name = epwing ? "CATALOGS" : "CATALOG";
        size_t n = strlen(dir);
        const char* sep = (n > 0 && dir[n - 1] == '/') ? "" : "/";
        int len = snprintf(m_catalogPath, sizeof m_catalogPath, "%s%s%s", dir, sep, name);
        if (len < 0 || static_cast<size_t>(len) >= sizeof m_catalogPath) {
            m_catalogPath[0] = '\0';
            return -1;
        }
        m_highestVersion = 1;
        return 0;
    }

    const char* first = epwing ? "CATALOGS.ebz" : "CATALOG";
    const char* second = epwing ? "CATALOGS" : "CATALOG.ebz";
    const char* found = findFile(dir, first, 1);
    if (!found) found = findFile(dir, second, 1);
    if (!found || !copyBounded(m_catalogPath, sizeof m_catalogPath, found)) return 0;
    if (!epwing) readLanguage(m_catalogPath);

    unsigned char buffer[kMaxCatalogBlocks * kBlockSize];
    memset(buffer, 0, sizeof buffer);
    // A catalog's second record set may continue in block 2 (more than six
    // EPWING subbooks of version 2 and above), so two blocks are read when
    // there are.
    int avail = readStoredBlocks(m_catalogPath, buffer, epwing ? kMaxCatalogBlocks : 1);
    if (avail < kHeaderSize) return 0;

    const int recordSize = epwing ? kEpwingRecordSize : kEbRecordSize;
    const int maxCount = epwing ? kMaxEpwingSubbooks : kMaxEbSubbooks;
    int count = static_cast<int>(be16(buffer));
    if (count > maxCount) count = maxCount;
    // Only records that are really in the file.
    int present = (avail - kHeaderSize) / recordSize;
    if (count > present) count = present;

    for (int i = 0; i < count; ++i) {
        SUBBOOK_INFO& s = m_subbooks[i];
        memset(&s, 0, sizeof s);
        const unsigned char* rec = buffer + kHeaderSize + recordSize * i;
        s.recordByte0 = rec[0];
        if (epwing) {
            s.version = rec[1];
            jisStringToSjis(reinterpret_cast<unsigned char*>(s.title), rec + 2, 80);
            copyField(s.directory, rec + 82, 8);
            int page = static_cast<signed char>(rec[95]);
            s.indexPage = page < 1 ? 1 : page;
            for (int slot = 0; slot < FONT_SLOTS; ++slot) copyField(s.fontNames[slot], rec + fontNameOffset(slot), 8);
        } else {
            s.version = 0;
            jisStringToSjis(reinterpret_cast<unsigned char*>(s.title), rec + 2, 30);
            copyField(s.rawTitle, rec + 2, 30);
            copyField(s.directory, rec + 32, 8);
            s.indexPage = 1;
        }
    }

    if (epwing) {
        for (int i = 0; i < count; ++i) {
            SUBBOOK_INFO& s = m_subbooks[i];
            if (s.version <= 1) continue;
            int offset = kHeaderSize + kEpwingRecordSize * (count + i);
            if (offset + kEpwingRecordSize > avail) continue;
            const unsigned char* rec = buffer + offset;
            s.textCompression = rec[55];
            s.graphicsCompression = rec[54];
            s.soundCompression = rec[53];
            copyField(s.graphicsFileName, rec + 44, 8);
            copyField(s.soundFileName, rec + 56, 8);
            copyField(s.textFileName, rec + 4, 8);
        }
    }
    m_count = count;
    return m_count;
}

void CEBCatalog::readLanguage(const char* catalogPath) {
    if (!catalogPath) return;
    char dir[kPathSize];
    if (pathDirName(catalogPath, dir, sizeof dir) < 0) return;
    // A catalog without a directory part lies in the current directory.
    if (dir[0] == '\0' && catalogPath[0] != '/' && catalogPath[0] != '\\') strcpy(dir, ".");
    const char* found = findFile(dir, "LANGUAGE", 1);
    if (!found) found = findFile(dir, "LANGUAGE.ebz", 1);
    if (!found) return;
    char path[kPathSize];
    if (!copyBounded(path, sizeof path, found)) return;
    unsigned char block[kBlockSize];
    memset(block, 0, sizeof block);
    if (readStoredBlocks(path, block, 1) >= 2 && block[1] == 1) m_languageFlag = 1;
}

int CEBCatalog::setPaths(const char* path, const char* mode) {
    m_count = 0;
    m_languageFlag = 0;
    m_ssedFlag = 0;
    storeMode(m_mode, mode);
    if (!path || !copyBounded(m_bookDir, sizeof m_bookDir, path) ||
        !copyBounded(m_catalogPath, sizeof m_catalogPath, path))
        return -1;
    return 0;
}

int CEBCatalog::readSsedInfo(const char* path, const char* mode) {
    if (setPaths(path, mode) != 0) return 0;
    m_ssedFlag = 1;
    m_kind = kEPWING;

    SUBBOOK_INFO& s = m_subbooks[0];
    memset(&s, 0, sizeof s);
    s.recordByte0 = 0;
    s.version = 1;
    s.indexPage = 1;
    char dirName[kPathSize];
    char stem[kPathSize];
    if (pathDirName(path, dirName) >= 0 && pathStem(dirName, stem) >= 0) {
        memcpy(s.directory, stem, strnlen(stem, 8));
        s.directory[8] = '\0';
    }

    FilePtr f = openRegularFile(path);  // a FIFO is refused at once
    if (!f) return 0;
    unsigned char header[128];
    if (fread(header, 1, sizeof header, f.get()) != sizeof header) return 0;
    if (memcmp(header, "SSEDINFO", 8) != 0) return 0;

    // Title: length at byte 12, text from byte 13. Only 64 bytes lie before
    // the record count at byte 77.
    const size_t kSsedTitleMax = 77 - 13;
    size_t titleLength = header[12] > kSsedTitleMax ? kSsedTitleMax : header[12];
    memcpy(s.title, header + 13, titleLength);
    s.title[titleLength] = '\0';

    // Component records; types 0xF1-0xF8 name the gaiji font files.
    int records = header[77];
    for (int r = 0; r < records; ++r) {
        unsigned char rec[48];
        if (fread(rec, 1, sizeof rec, f.get()) != sizeof rec) break;
        int slot = fontSlotOfArea(rec[3]);
        if (slot < 0) continue;
        size_t n = rec[16] > 8 ? 8 : rec[16];
        char* name = s.fontNames[slot];
        memcpy(name, rec + 17, n);
        name[n] = '\0';
    }
    m_count = 1;
    return 1;
}

int CEBCatalog::openDictionary(int kind, const char* path, const char* mode) {
    if (setPaths(path, mode) != 0) return 0;
    m_kind = kind;
    char stem[kPathSize];
    if (pathStem(path, stem) < 0) stem[0] = '\0';

    DictionaryProbe probe = dictionaryProbe(kind);
    // The PDIC reader lives in this library, so it needs no registration.
    if (!probe && kind == kPDIC) probe = &CPDicReader::probe;
    if (!probe) return 0;
    char title[81];
    title[0] = '\0';
    if (probe(path, title, sizeof title) != 0) return 0;
    title[sizeof title - 1] = '\0';

    SUBBOOK_INFO& s = m_subbooks[0];
    memset(&s, 0, sizeof s);
    s.recordByte0 = 0;
    s.version = 1;
    s.indexPage = 1;
    switch (kind) {
        case kPDIC:
            copyUtf8Prefix(s.title, stem, 80);
            break;
        case kSQLite:
            copyUtf8Prefix(s.title, title, 80);
            copyUtf8Prefix(s.directory, title, 8);
            break;
        case kStarDict:
            copyUtf8Prefix(s.title, title, 80);
            copyUtf8Prefix(s.directory, stem, 8);
            break;
        case kMDict:
            copyUtf8Prefix(s.title, stem, 80);
            copyUtf8Prefix(s.directory, stem, 8);
            break;
        default:
            return 0;
    }
    m_count = 1;
    return 1;
}

int CEBCatalog::openPdic(const char* path, const char* mode) {
    return openDictionary(kPDIC, path, mode);
}
int CEBCatalog::openSqlite(const char* path, const char* mode) {
    return openDictionary(kSQLite, path, mode);
}
int CEBCatalog::openStarDict(const char* path, const char* mode) {
    return openDictionary(kStarDict, path, mode);
}
int CEBCatalog::openMdict(const char* path, const char* mode) {
    return openDictionary(kMDict, path, mode);
}

int CEBCatalog::addSubbook(const char* title, const char* directory, int recordByte0, int fontFlags,
                           const char* fontNames, int version, const char* textFileName, const char* graphicsFileName,
                           const char* soundFileName) {
    const bool epwing = m_kind != kEB;
    if (m_count < 0 || m_count >= (epwing ? kMaxEpwingSubbooks : kMaxEbSubbooks)) return -1;
    if (!title) title = "";
    if (!directory) directory = "";
    if (strlen(directory) > 8) return -1;
    const char* names[3] = {graphicsFileName, soundFileName, textFileName};
    for (const char* n : names)
        if (n && strlen(n) > 8) return -1;

    SUBBOOK_INFO s;
    memset(&s, 0, sizeof s);
    // The stored title: 80 bytes of two-byte codes for EPWING, 30 for EB.
    size_t titleField = epwing ? 80 : 30;
    if (sjisToFullWidth(s.title, titleField + 1, title, strlen(title)) < 0) return -1;

    size_t dirLength = strlen(directory);
    memcpy(s.directory, directory, dirLength);
    if (epwing) {
        memset(s.directory + dirLength, ' ', 8 - dirLength);
        if (fontNames) {
            for (int k = 0; k < 8; ++k) {
                memcpy(s.fontNames[k], fontNames + 9 * k, 8);
                s.fontNames[k][8] = '\0';
            }
        }
    } else {
        for (int k = 7; k >= 0 && (s.directory[k] == ' ' || s.directory[k] == '\0'); --k) s.directory[k] = '\0';
    }
    s.recordByte0 = static_cast<unsigned char>(recordByte0);
    s.fontFlags = fontFlags;
    if (graphicsFileName) strcpy(s.graphicsFileName, graphicsFileName);
    if (soundFileName) strcpy(s.soundFileName, soundFileName);
    if (textFileName) strcpy(s.textFileName, textFileName);
    s.version = static_cast<unsigned char>(version);
    s.indexPage = 1;
    if (version > m_highestVersion) m_highestVersion = version;
    m_subbooks[m_count++] = s;
    return 0;
}

int CEBCatalog::writeCatalog() {
    if (m_mode[0] != 'w' || m_catalogPath[0] == '\0') return -1;
    const bool epwing = m_kind != kEB;
    const int count = m_count < 0 ? 0 : m_count;
    const bool secondSet = epwing && m_highestVersion >= 4;

    int bytes = kHeaderSize + (epwing ? kEpwingRecordSize * count * (secondSet ? 2 : 1) : kEbRecordSize * count);
    int blocks = (bytes + kBlockSize - 1) / kBlockSize;
    if (blocks < 1) blocks = 1;
    unsigned char buffer[kMaxCatalogBlocks * kBlockSize];
    if (blocks > kMaxCatalogBlocks) return -1;
    memset(buffer, 0, sizeof buffer);

    putBe16(buffer, static_cast<unsigned>(count));
    if (epwing) buffer[3] = static_cast<unsigned char>(m_highestVersion);

    for (int i = 0; i < count; ++i) {
        const SUBBOOK_INFO& s = m_subbooks[i];
        if (epwing) {
            unsigned char* rec = buffer + kHeaderSize + kEpwingRecordSize * i;
            rec[0] = s.recordByte0;
            rec[1] = s.version;
            unsigned char jis[81];
            sjisStringToJis(jis, sizeof jis, reinterpret_cast<const unsigned char*>(s.title), 80);
            memcpy(rec + 2, jis, strnlen(reinterpret_cast<const char*>(jis), 80));
            memcpy(rec + 82, s.directory, strnlen(s.directory, 8));
            rec[95] = 1;
            for (int slot = 0; slot < FONT_SLOTS; ++slot) {
                const char* name = s.fontNames[slot];
                if ((s.fontFlags & kFontSlots[slot].defaultFlag) && name[0] == '\0')
                    name = kFontSlots[slot].defaultName;
                memcpy(rec + fontNameOffset(slot), name, strnlen(name, 8));
            }
        } else {
            unsigned char* rec = buffer + kHeaderSize + kEbRecordSize * i;
            rec[0] = static_cast<unsigned char>((i + 1) & 0xFF);
            rec[1] = static_cast<unsigned char>((i + 1) >> 8);
            unsigned char jis[31];
            sjisStringToJis(jis, sizeof jis, reinterpret_cast<const unsigned char*>(s.title), 30);
            memcpy(rec + 2, jis, strnlen(reinterpret_cast<const char*>(jis), 30));
            memcpy(rec + 32, s.directory, strnlen(s.directory, 8));
        }
    }
    if (secondSet) {
        for (int i = 0; i < count; ++i) {
            const SUBBOOK_INFO& s = m_subbooks[i];
            unsigned char* rec = buffer + kHeaderSize + kEpwingRecordSize * (count + i);
            rec[40] = 0;
            rec[41] = 1;
            rec[42] = 2;
            rec[43] = 0;
            memcpy(rec + 4, s.textFileName, strnlen(s.textFileName, 8));
            memcpy(rec + 44, s.graphicsFileName, strnlen(s.graphicsFileName, 8));
            memcpy(rec + 56, s.soundFileName, strnlen(s.soundFileName, 8));
        }
    }

    // Under a temporary name, renamed over the catalog: a link there is
    // replaced, and a failure leaves the old catalog whole.
    size_t size = static_cast<size_t>(blocks) * kBlockSize;
    return CZOutputFile::writeWhole(m_catalogPath, buffer, size) ? 0 : -1;
}

const SUBBOOK_INFO* CEBCatalog::subbook(int i) const {
    if (m_count < 1 || i < 0 || i >= m_count) return nullptr;
    return &m_subbooks[i];
}

SUBBOOK_INFO* CEBCatalog::subbook(int i) {
    if (m_count < 1 || i < 0 || i >= m_count) return nullptr;
    return &m_subbooks[i];
}

const char* CEBCatalog::title(int i) const {
    const SUBBOOK_INFO* s = subbook(i);
    return s ? s->title : nullptr;
}

const char* CEBCatalog::directory(int i) const {
    const SUBBOOK_INFO* s = subbook(i);
    return s ? s->directory : nullptr;
}

int CEBCatalog::firstByte(int i) const {
    const SUBBOOK_INFO* s = subbook(i);
    return s ? s->recordByte0 : 0;
}

int CEBCatalog::sjisToFullWidth(char* out, size_t outSize, const char* in, size_t len) {
    if (!out || outSize == 0) return -1;
    out[0] = '\0';
    if (!in) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    size_t pos = 0;
    for (size_t i = 0; i < len && p[i]; ++i) {
        unsigned code;
        if (jclib::isSjisLead(p[i]) && i + 1 < len && p[i + 1]) {
            code = (unsigned(p[i]) << 8) | p[i + 1];
            ++i;
        } else {
            unsigned b = p[i];
            bool printable = (b >= 0x20 && b <= 0x7E) || (b >= 0xA1 && b <= 0xDF);
            code = printable ? jclib::hankakuToZenkaku(b) : b;
            if (code > 0xFFFF) code = b;
        }
        if (pos + 2 + 1 > outSize) {
            out[pos] = '\0';
            return -1;
        }
        out[pos++] = static_cast<char>(code >> 8);
        out[pos++] = static_cast<char>(code & 0xFF);
    }
    out[pos] = '\0';
    return static_cast<int>(pos);
}

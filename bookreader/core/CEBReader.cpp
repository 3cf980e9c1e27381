#include "bookreader/core/CEBReader.h"

#include <strings.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/backends/CPdicBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/hits/CItemList.h"
#include "bookreader/info/CBookInfoText.h"
#include "bookreader/media/CMediaReader.h"
#include "bookreader/text/CTextDecoder.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBookFile.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/storage/CZio.h"

namespace {

// Records a "WaveFile.map" may hold; the map of a real book has a few thousand.
constexpr size_t kMaxWaveMapEntries = 1 << 20;

unsigned char asciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// text begins with prefix, without regard to ASCII case.
bool startsWithNoCase(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

void makeIndexName(char* out, size_t outSize, uint32_t id, CBookFile* bookFile) {
    snprintf(out, outSize, "[%02X]%s", id & 0xFF, bookFile->indexTypeName(static_cast<int>(id & 0xFF)));
}

bool fileSize(const char* path, int64_t* size) {
    struct stat st;
    if (stat(path, &st) != 0) return false;
    *size = st.st_size;
    return true;
}

const uint8_t kDefaultStyle[3] = {0x41, 0x55, 0x40};

// The last code of a font of count characters from start: rows of 94 codes
// (0x21..0x7E) counted from the start's own row, so that the ISO 8859-1
// fonts (rows 0x01..0x1E) end as the JIS X 0208 ones (rows 0xA1..0xFE) do.
// 0 for an empty font or one that would start before its row's first column.
uint16_t fontEndCode(uint16_t start, uint16_t count) {
    const int i = (start & 0xFF) - 0x21 + count - 1;
    if (count == 0 || i < 0) return 0;
    const int end = (((start >> 8) + i / 94) << 8) + i % 94 + 0x21;
    return static_cast<uint16_t>(end > 0xFFFF ? 0xFFFF : end);
}

bool isWordFamilyId(uint32_t id) {
    return id == 0x30 || id == 0x70 || id == 0x90;
}

bool isKeywordFamilyId(uint32_t id) {
    switch (id) {
        case 0x40:
        case 0x61:
        case 0x50:
        case 0x60:
        case 0x71:
        case 0x72:
        case 0x91:
        case 0x92:
        case 0x80:
        case 0x81:
            return true;
        default:
            return false;
    }
}

}  // namespace

CEBReader::CEBReader() : m_bookFile(new CBookFile) {
    clearState();
    memset(m_styleOverride, 0xFF, sizeof m_styleOverride);
    memset(m_multiSearchEntries, 0, sizeof m_multiSearchEntries);
    m_waveMapDir[0] = 0;
    m_path[0] = 0;
    initHeadingHooks(&m_headingHooks);
    initTagHooks(&m_textHooks);
}

CEBReader::~CEBReader() {
    close();
}

void CEBReader::clearState() {
    m_indexCount = 0;
    memset(m_indexes, 0, sizeof m_indexes);
    memset(m_multiDefinitions, 0, sizeof m_multiDefinitions);
    m_multiDefinitionCount = 0;
    m_multiSearchCount = 0;
    m_currentMultiSearch = 0;
    memset(m_searchTitles, 0, sizeof m_searchTitles);
    memset(&m_narrowFont, 0, sizeof m_narrowFont);
    memset(&m_wideFont, 0, sizeof m_wideFont);
    m_lastBlock = 0;
    m_currentBlock = 0;
    memset(m_blockBuffer, 0, sizeof m_blockBuffer);
    m_blockData = m_blockBuffer;
    m_readPtr = m_blockEnd = m_blockBuffer;
    m_readFailed = false;
    m_lastStart = m_lastEnd = 0;
    m_indexPages.clear();
}

bool CEBReader::splitPath(char* dir, char* fileName, char* extension) const {
    if (pathDirName(m_path, dir, kPathSize - 1) < 0 || pathFileName(m_path, fileName) < 0 ||
        pathExtension(m_path, extension) < 0)
        return false;
    // A file in the root keeps its "/"; a bare name stays relative.
    if (dir[0] || m_path[0] == '/' || m_path[0] == '\\') strcat(dir, "/");
    return true;
}

CEBReader::NameKind CEBReader::kindByName(const char* fileName, const char* extension) {
    bool honmon = startsWithNoCase(fileName, "HONMON") && !startsWithNoCase(fileName, "HONMONG") &&
                  !startsWithNoCase(fileName, "HONMONS");
    if (honmon || startsWithNoCase(extension, "IDX")) return NameKind::Epwing;
    if (startsWithNoCase(fileName, "START")) return NameKind::Eb;
    return NameKind::Raw;
}

int CEBReader::openBookFile(NameKind nameKind, const char* dir, const char* fileName) {
    if (nameKind == NameKind::Epwing)
        return m_bookFile->open(dir, fileName, "r", 1, 0, nullptr, m_indexBlock, m_epwingVersion) == 0 ? 1 : 0;
    return m_bookFile->open(dir, fileName, "r", 0, 0, nullptr, 1, 0) == 0 ? 1 : 0;
}

int CEBReader::openZio(const char* path, int version) {
    std::unique_ptr<CZio> zio(new CZio);
    if (zio->open(path, static_cast<unsigned>(version)) != 0) return 0;
    m_zio = std::move(zio);
    return 1;
}

uint32_t CEBReader::storedBlockCount() const {
    // The blocks of the data as stored, whatever its form: a compressed
    // file holds more blocks than its size on disk counts.
    const int64_t blocks = m_zio ? m_zio->fileSize() / kBlockSize : 0;
    return blocks > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(blocks < 0 ? 0 : blocks);
}

int CEBReader::open(const char* path, int indexBlock, int epwingVersion) {
    if (!path || strlen(path) >= kPathSize) return 0;
    close();
    memmove(m_path, path, strlen(path) + 1);
    m_indexBlock = indexBlock;
    m_epwingVersion = epwingVersion;
    clearState();
    m_hasWaveMap = false;
    // The character code is the book's: its narrow font (or a caller that
    // knows better) sets it again below.
    m_latin1 = 0;

    char dir[kPathSize], fileName[kPathSize], extension[kPathSize];
    if (!splitPath(dir, fileName, extension)) return 0;

    NameKind nameKind = kindByName(fileName, extension);
    if (nameKind == NameKind::Raw) {
        int64_t size = 0;
        if (!fileSize(m_path, &size)) return 0;
        if (!openZio(m_path, epwingVersion)) return 0;
        READER_INDEX_INFO info;
        memset(&info, 0, sizeof info);
        info.id = kRawFileIndexId;
        info.start = 1;
        info.count = storedBlockCount();
        snprintf(info.name, sizeof info.name, "%.60s", fileName);
        appendIndex(info);
        m_kind = BOOK_KIND_RAW;
        raiseLastBlock(info.start, info.count);
    } else {
        if (!openBookFile(nameKind, dir, fileName)) return 0;
        m_kind = nameKind == NameKind::Epwing ? BOOK_KIND_EPWING : BOOK_KIND_EB;
        if (nameKind == NameKind::Epwing && startsWithNoCase(extension, "IDX")) {
            loadWaveFileMap(m_path);
            m_hasWaveMap = true;
        }
        m_opened = true;  // the walk reads blocks
        walkIndexTable();
        m_multiDefinitionCount = 0;
        if (m_kind == BOOK_KIND_EB) {
            const READER_INDEX_INFO* narrow = findIndex(0xF2);
            if (narrow && readFontHeader(narrow->start, &m_narrowFont)) {
                if (m_narrowFont.startCode >= 0x0101 && m_narrowFont.startCode <= 0x1EFE) m_latin1 = 1;
                if (m_narrowFont.startCode >= 0xA121 && m_narrowFont.startCode <= 0xFE7E) m_latin1 = 0;
            }
            const READER_INDEX_INFO* wide = findIndex(0xF1);
            if (wide) readFontHeader(wide->start, &m_wideFont);
        }
        applyStyleOverrides();
    }
    m_currentBlock = 0;
    m_readPtr = m_blockEnd = m_blockData = m_blockBuffer;
    m_readFailed = false;
    m_opened = true;
    return 1;
}

void CEBReader::appendIndex(const READER_INDEX_INFO& info) {
    if (m_indexCount < kReaderMaxIndexes) m_indexes[m_indexCount++] = info;
}

void CEBReader::raiseLastBlock(uint32_t start, uint32_t count) {
    if (count == 0) return;
    uint64_t last = static_cast<uint64_t>(start) + count - 1;
    if (last > 0xFFFFFFFFu) last = 0xFFFFFFFFu;
    if (last > m_lastBlock) m_lastBlock = static_cast<uint32_t>(last);
}

void CEBReader::walkIndexTable() {
    const unsigned global = m_bookFile->header()[4];
    for (INDEX_TABLE_ITEM* item = m_bookFile->firstEntry(); item && m_indexCount < kReaderMaxIndexes;
         item = m_bookFile->nextEntry()) {
        READER_INDEX_INFO info;
        memset(&info, 0, sizeof info);
        info.id = item->id;
        info.start = item->start;
        info.count = item->blocks;
        makeIndexName(info.name, sizeof info.name, info.id, m_bookFile.get());
        info.availability = item->info[0];
        raiseLastBlock(info.start, info.count);
        if (isIndexInfoValid(global, item->info[0])) {
            memcpy(info.style, item->info + 1, 3);
            if (info.id == 0x91 || info.id == 0x92 || info.id == 0x40 || info.id == 0x61 || info.id == 0x50 ||
                info.id == 0x60)
                info.style[0] &= 0xF3;
        } else if (!isWordFamilyId(info.id)) {
            memcpy(info.style, kDefaultStyle, 3);
        }
        int position = m_indexCount;
        appendIndex(info);
        if (info.id == 0x16) readSearchTitles(info.start);
        if (info.id == 0xFF && m_multiSearchCount < kReaderMaxMultiSearch) {
            m_multiSearchEntries[m_multiSearchCount++] = static_cast<uint16_t>(position);
            readMultiSearch(info.start);
        }
    }
}

void CEBReader::applyStyleOverrides() {
    const unsigned global = m_bookFile->header()[4];
    bool keywordSet = m_styleOverride[0] < 0xFF && m_styleOverride[1] < 0xFF && m_styleOverride[2] < 0xFF;
    bool wordSet = m_styleOverride[3] < 0xFF && m_styleOverride[4] < 0xFF && m_styleOverride[5] < 0xFF;
    for (int i = 0; i < m_indexCount; ++i) {
        READER_INDEX_INFO& info = m_indexes[i];
        if (!isIndexInfoValid(global, info.availability)) continue;
        if (wordSet && isWordFamilyId(info.id)) memcpy(info.style, m_styleOverride + 3, 3);
        if (keywordSet && isKeywordFamilyId(info.id)) memcpy(info.style, m_styleOverride, 3);
    }
}

void CEBReader::setStyleOverride(const uint8_t keywordStyle[3], const uint8_t wordStyle[3]) {
    memcpy(m_styleOverride, keywordStyle, 3);
    memcpy(m_styleOverride + 3, wordStyle, 3);
    if (m_opened && (m_kind == BOOK_KIND_EB || m_kind == BOOK_KIND_EPWING)) applyStyleOverrides();
}

bool CEBReader::readFontHeader(uint32_t block, FONT_HEADER* header) {
    memset(header, 0, sizeof *header);
    if (!seekBlock(block)) return false;
    uint8_t head[14];
    readBytes(head, sizeof head);
    if (m_readFailed) return false;
    header->width = head[8];
    header->height = head[9];
    header->startCode = byteorder::be16(head + 10);
    header->count = byteorder::be16(head + 12);
    header->startBlock = block;
    header->endCode = fontEndCode(header->startCode, header->count);
    return true;
}

int CEBReader::readMultiSearch(uint32_t block) {
    m_multiDefinitionCount = 0;
    if (!seekBlock(block)) return 0;
    unsigned fields = readWord16();
    uint8_t skip[16];
    readBytes(skip, 14);
    for (unsigned f = 0; f < fields && m_multiDefinitionCount < kReaderMaxIndexes && !m_readFailed; ++f) {
        unsigned subCount = readByte();
        readByte();
        uint8_t label[30];
        readBytes(label, sizeof label);
        READER_INDEX_INFO head;
        memset(&head, 0, sizeof head);
        unsigned char sjis[sizeof label + 1];
        jisStringToSjis(sjis, label, sizeof label);
        snprintf(head.name, sizeof head.name, "--%s", reinterpret_cast<const char*>(sjis));
        m_multiDefinitions[m_multiDefinitionCount++] = head;
        for (unsigned s = 0; s < subCount && !m_readFailed; ++s) {
            uint8_t rec[16];
            readBytes(rec, sizeof rec);
            if (m_multiDefinitionCount >= kReaderMaxIndexes) continue;
            READER_INDEX_INFO info;
            memset(&info, 0, sizeof info);
            info.id = rec[0];
            info.start = byteorder::be32(rec + 2);
            info.count = byteorder::be32(rec + 6);
            makeIndexName(info.name, sizeof info.name, info.id, m_bookFile.get());
            info.style[0] = 0xFF;
            info.style[1] = 0xFF;
            info.style[2] = 0xC0;
            raiseLastBlock(info.start, info.count);
            m_multiDefinitions[m_multiDefinitionCount++] = info;
        }
    }
    return m_multiDefinitionCount;
}

int CEBReader::selectMultiSearch(int n) {
    if (n < 0 || n >= m_multiSearchCount) return 0;
    int entry = m_multiSearchEntries[n];
    if (entry >= m_indexCount) return 0;
    m_currentMultiSearch = n;
    return readMultiSearch(m_indexes[entry].start);
}

void CEBReader::readSearchTitles(uint32_t block) {
    memset(m_searchTitles, 0, sizeof m_searchTitles);
    if (!seekBlock(block)) return;
    readWord16();
    readWord16();
    if (!setOffset(350)) return;
    for (int i = 0; i < kReaderSearchTitles && !m_readFailed; ++i) {
        uint8_t rec[70];
        readBytes(rec, sizeof rec);
        if (rec[1] != 2) continue;
        if (rec[18] != 0)
            jisStringToSjis(reinterpret_cast<unsigned char*>(m_searchTitles[i]), rec + 18, 32);
        else if (rec[2] != 0)
            jisStringToSjis(reinterpret_cast<unsigned char*>(m_searchTitles[i]), rec + 2, 16);
    }
}

const char* CEBReader::searchTitle(int n) const {
    if (n < 0 || n >= kReaderSearchTitles) return "";
    return m_searchTitles[n];
}

const READER_INDEX_INFO* CEBReader::findIndex(uint32_t id) const {
    if (!isBlockKind(m_kind)) return nullptr;
    for (int i = 0; i < m_indexCount; ++i)
        if (m_indexes[i].id == id) return &m_indexes[i];
    return nullptr;
}

const READER_INDEX_INFO* CEBReader::findIndexAt(uint32_t block, uint32_t offset) const {
    if (!isBlockKind(m_kind)) return m_indexCount > 0 ? &m_indexes[0] : nullptr;
    uint64_t b = static_cast<uint64_t>(block) + offset / kBlockSize;
    auto holds = [b](const READER_INDEX_INFO& info) {
        return info.count > 0 && b >= info.start && b < static_cast<uint64_t>(info.start) + info.count;
    };
    for (int i = 0; i < m_indexCount; ++i)
        if (m_indexes[i].start > 1 && holds(m_indexes[i])) return &m_indexes[i];
    for (int i = 0; i < m_multiDefinitionCount; ++i)
        if (holds(m_multiDefinitions[i])) return &m_multiDefinitions[i];
    return nullptr;
}

int CEBReader::loadWaveFileMap(const char* path) {
    m_waveMap.clear();
    char dir[kPathSize];
    if (pathDirName(path, dir) < 0) return 0;
    char mapPath[kPathSize + 32];
    FilePtr f;
    for (const char* sub : {"/Sounds/WaveFile.map", "/Sound/WaveFile.map"}) {
        snprintf(mapPath, sizeof mapPath, "%s%s", dir, sub);
        f = openFile(mapPath, "r");
        if (f) break;
    }
    if (!f) return 0;
    snprintf(m_waveMapDir, sizeof m_waveMapDir, "%s", dir);
    char line[256];
    while (fgets(line, sizeof line, f.get()) && m_waveMap.size() < kMaxWaveMapEntries) {
        // Two tokens separated by tabs and line ends.
        char* tokens[2] = {nullptr, nullptr};
        int found = 0;
        char* p = line;
        while (found < 2) {
            while (*p == '\t' || *p == '\n' || *p == '\r') ++p;
            if (!*p) break;
            tokens[found++] = p;
            while (*p && *p != '\t' && *p != '\n' && *p != '\r') ++p;
            if (*p) *p++ = 0;
        }
        if (found < 2) continue;
        WAVE_MAP_ENTRY e;
        memset(&e, 0, sizeof e);
        unsigned long number = strtoul(tokens[1], nullptr, 10);
        if (strlen(tokens[0]) == 8) {
            if (number == 0) continue;
            e.number = static_cast<uint32_t>(number);
            memcpy(e.name, tokens[0], 8);
        } else {
            unsigned block = 0, offset = 0;
            if (sscanf(tokens[0], "%X:%X", &block, &offset) != 2 || offset == 0 || number == 0) continue;
            e.block = block;
            e.offset = offset;
            snprintf(e.name, sizeof e.name, "%08X", static_cast<unsigned>(number & 0xFFFFFFFFu));
        }
        m_waveMap.push_back(e);
    }
    return 1;
}

int CEBReader::openSingleFile(const char* path) {
    if (!path || strlen(path) >= kPathSize) return 0;
    close();
    memmove(m_path, path, strlen(path) + 1);
    clearState();
    m_kind = BOOK_KIND_DATA_FILE;
    int64_t size = 0;
    if (!fileSize(m_path, &size)) return 0;
    if (!openZio(m_path, 0)) return 0;
    READER_INDEX_INFO info;
    memset(&info, 0, sizeof info);
    info.start = 1;
    info.count = storedBlockCount();
    appendIndex(info);
    raiseLastBlock(info.start, info.count);
    m_opened = true;
    readFontHeader(1, &m_narrowFont);
    m_currentBlock = 0;
    m_readPtr = m_blockEnd = m_blockData = m_blockBuffer;
    m_readFailed = false;
    return 1;
}

template <typename Backend>
int CEBReader::openBackend(std::unique_ptr<Backend>* slot, int kind, const char* path) {
    if (!path || strlen(path) >= kPathSize) return 0;
    if (m_opened || m_pdic || m_userDict || m_starDict || m_mdict) return 0;
    std::unique_ptr<Backend> backend(new Backend(*this));
    if (!backend->open(path)) return 0;
    *slot = std::move(backend);
    memmove(m_path, path, strlen(path) + 1);
    clearState();
    READER_INDEX_INFO info;
    memset(&info, 0, sizeof info);
    appendIndex(info);
    m_kind = kind;
    m_opened = true;
    return 1;
}

int CEBReader::openPdic(const char* path) {
    if (!openBackend(&m_pdic, BOOK_KIND_PDIC, path)) return 0;
    m_pdic->setPhoneticTable(m_pdicPhoneticTable);
    return 1;
}

void CEBReader::setPdicPhoneticTable(const uint16_t* table) {
    m_pdicPhoneticTable = table;
    if (m_pdic) m_pdic->setPhoneticTable(table);
}

int CEBReader::openUserDictionary(const char* path) {
    return openBackend(&m_userDict, BOOK_KIND_USER_DICT, path);
}

int CEBReader::openStarDict(const char* path) {
    return openBackend(&m_starDict, BOOK_KIND_STARDICT, path);
}

int CEBReader::openMDict(const char* path) {
    return openBackend(&m_mdict, BOOK_KIND_MDICT, path);
}

void CEBReader::releaseBackends() {
    m_pdic.reset();
    m_userDict.reset();
    m_starDict.reset();
    m_mdict.reset();
}

int CEBReader::dictionaryInformation(char* buf, uint32_t size, int crlf) {
    if (!buf || size == 0) return 0;
    buf[0] = 0;
    if (CPdicBackend* b = pdic()) return b->information(buf, size, crlf);
    if (CUserDictBackend* b = userDict()) return b->information(buf, size, crlf);
    if (CStarDictBackend* b = starDict()) return b->information(buf, size, crlf);
    if (CMDictBackend* b = mdict()) return b->information(buf, size, crlf);
    return 0;
}

int CEBReader::collectHits(CItemList* list, int start, int level) {
    if (!list || start < 0) return 0;
    if (isBlockKind(m_kind)) {
        if (m_hits.count() <= 0 || !m_hits.finished()) return 0;
        if (start == 0)
            list->clear();
        else if (!list->items())
            return 0;
        int n = 0;
        for (int i = 0; i < m_hits.count(); ++i)
            if (m_hits.at(i)->level == level) ++n;
        list->resize(start + n);
        HIT_ITEM* items = list->items();
        for (int i = 0, k = start; i < m_hits.count(); ++i)
            if (m_hits.at(i)->level == level) items[k++] = *m_hits.at(i);
        resetHits();
        return n;
    }
    int n = 0;
    if (m_hits.count() > 0) {
        if (CPdicBackend* b = pdic()) n = b->collect(list, start);
        if (CUserDictBackend* b = userDict()) n = b->collect(list, start);
        if (CStarDictBackend* b = starDict()) n = b->collect(list, start);
        if (CMDictBackend* b = mdict()) n = b->collect(list, start);
    }
    resetHits();
    return n;
}

int CEBReader::close() {
    releaseBackends();
    if (isBlockKind(m_kind) && m_opened) {
        if (m_zio) {
            m_zio->close();
            m_zio.reset();
        } else {
            m_bookFile->close();
        }
    }
    m_opened = false;
    m_currentBlock = 0;
    m_readPtr = m_blockEnd = m_blockData = m_blockBuffer;
    m_indexPages.clear();
    // Cached glyphs are the closed file's: a reopened or another file
    // reads its own.
    m_glyphCache.clear();
    return 1;
}

int CEBReader::reopen() {
    if (!isBlockKind(m_kind)) {
        // A dictionary is opened afresh on its path, also after a close.
        if (!m_path[0]) return 0;
        // A table set on the back end itself is kept as well.
        if (m_pdic) m_pdicPhoneticTable = m_pdic->phoneticTable();
        close();
        char path[kPathSize];
        memcpy(path, m_path, sizeof path);
        switch (m_kind) {
            case BOOK_KIND_PDIC:
                return openPdic(path);
            case BOOK_KIND_USER_DICT:
                return openUserDictionary(path);
            case BOOK_KIND_STARDICT:
                return openStarDict(path);
            case BOOK_KIND_MDICT:
                return openMDict(path);
            default:
                return 0;
        }
    }
    if (!m_opened) return 0;
    close();
    m_lastStart = m_lastEnd = 0;
    if (m_kind == BOOK_KIND_DATA_FILE) {
        if (!openZio(m_path, 0)) return 0;
        m_opened = true;
        return 1;
    }
    char dir[kPathSize], fileName[kPathSize], extension[kPathSize];
    if (!splitPath(dir, fileName, extension)) return 0;
    NameKind nameKind = kindByName(fileName, extension);
    int ok = nameKind == NameKind::Raw ? openZio(m_path, m_epwingVersion) : openBookFile(nameKind, dir, fileName);
    if (!ok) return 0;
    m_opened = true;
    return 1;
}

int CEBReader::checkCRC() {
    if (!isBlockKind(m_kind)) return -2;
    if (m_zio) return m_zio->checkCRC();
    return m_bookFile->checkCRC();
}

bool CEBReader::loadBlock(int64_t n) {
    if (!m_opened || !isBlockKind(m_kind) || n < 1 || n > 0xFFFFFFFFLL) return false;
    if (m_zio) {
        if (m_zio->seekBlock(static_cast<unsigned>(n)) != 0) return false;
        int got = m_zio->readBlock(m_blockBuffer);
        if (got <= 0) return false;
        if (got < kBlockSize) memset(m_blockBuffer + got, 0, static_cast<size_t>(kBlockSize - got));
        m_blockData = m_blockBuffer;
    } else {
        const uint8_t* data = m_bookFile->readBlock(static_cast<unsigned>(n));
        if (m_bookFile->blockReadFailed()) {
            // The book file's one cache now holds the zeros of the failed
            // read, not the block we had: nothing is cached any more.
            m_currentBlock = 0;
            m_blockData = m_readPtr = m_blockEnd = m_blockBuffer;
            return false;
        }
        m_blockData = data;
    }
    m_currentBlock = n;
    m_blockEnd = m_blockData + kBlockSize;
    m_readPtr = m_blockData;
    return true;
}

int CEBReader::seekBlock(int64_t n) {
    if (n < 0) return 0;
    if (n == m_currentBlock && m_currentBlock != 0) {
        m_readPtr = m_blockData;
        m_readFailed = false;
        return 1;
    }
    if (!isBlockKind(m_kind)) {
        m_currentBlock = n;
        return 1;
    }
    if (!loadBlock(n)) return 0;
    m_readFailed = false;
    return 1;
}

int CEBReader::nextBlock() {
    return loadBlock(m_currentBlock + 1) ? 1 : 0;
}

int CEBReader::setOffset(int n) {
    if (n < 1 || n > kBlockSize || m_currentBlock == 0) return 0;
    m_readPtr = m_blockData + n;
    return 1;
}

uint32_t CEBReader::readByteSlow() {
    if (m_readFailed || !loadBlock(m_currentBlock + 1)) {
        m_readFailed = true;
        return 0;
    }
    return *m_readPtr++;
}

uint32_t CEBReader::readDword32() {
    uint32_t hi = readWord16();
    return (hi << 16) | readWord16();
}

int64_t CEBReader::readBcd(int n) {
    int64_t value = 0;
    bool bad = false;
    for (int i = 0; i < n; ++i) {
        uint32_t b = readByte();
        if ((b >> 4) > 9 || (b & 0x0F) > 9) bad = true;
        value = value * 100 + (b >> 4) * 10 + (b & 0x0F);
    }
    return bad ? -1 : value;
}

uint8_t* CEBReader::readBytes(uint8_t* buf, int n) {
    for (int i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(readByte());
    return buf;
}

uint64_t CEBReader::lastTextStart() const {
    return (m_kind == BOOK_KIND_EB || m_kind == BOOK_KIND_EPWING) ? m_lastStart : 0;
}

uint64_t CEBReader::lastTextEnd() const {
    if (m_kind != BOOK_KIND_EB && m_kind != BOOK_KIND_EPWING) return 0;
    const READER_INDEX_INFO* area = findIndexAt(static_cast<uint32_t>(m_lastEnd >> 32), m_lastEnd & 0xFFFF);
    if (area && area->id != 0x00 && area->id != 0x01 && area->id != 0x20) return 0;
    return m_lastEnd;
}

int isAlphaText(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        unsigned char c = asciiLower(*p);
        bool letter = c >= 'a' && c <= 'z';
        bool space = c == ' ' || (c >= '\t' && c <= '\r');
        if (!letter && !space) return 0;
    }
    return -1;
}

int hexDump(char* out, const uint8_t* bytes, int n) {
    static const char kDigits[] = "0123456789ABCDEF";
    char* p = out;
    for (int i = 0; i < n; ++i) {
        *p++ = kDigits[bytes[i] >> 4];
        *p++ = kDigits[bytes[i] & 0x0F];
        *p++ = ' ';
        if ((i + 1) % 16 == 0) {
            *p++ = '\r';
            *p++ = '\n';
        }
    }
    *p = 0;
    return static_cast<int>(p - out);
}

uint32_t CEBReader::decodeText(const TAG_HOOKS* hooks, char* out, uint32_t capacity, uint32_t* length, int pageStop,
                               int blockLimit) {
    if (length) *length = 0;
    if (!m_opened || !(m_kind == BOOK_KIND_EB || m_kind == BOOK_KIND_EPWING || m_kind == BOOK_KIND_RAW) || !hooks)
        return 0;
    CTextDecoder decoder(*this, hooks);
    return decoder.run(out, capacity, length, pageStop, blockLimit);
}

uint32_t CEBReader::readText(char* out, uint32_t capacity, uint32_t* length, int pageStop, int blockLimit) {
    return decodeText(&m_textHooks, out, capacity, length, pageStop, blockLimit);
}

uint32_t CEBReader::readHeading(char* out, uint32_t capacity, uint32_t* length) {
    return decodeText(&m_headingHooks, out, capacity, length, 1, 0);
}

void CEBReader::setPageBreak(uint16_t code, uint16_t parameter, int pageCount) {
    m_pageBreakCode = code;
    m_pageBreakParameter = parameter;
    m_pageCount = static_cast<uint16_t>(pageCount < 1 ? 1 : pageCount > 0xFFFF ? 0xFFFF : pageCount);
}

uint64_t CEBReader::previousPageStart() {
    return CTextDecoder::previousPageStart(*this);
}

int CEBReader::menuToHits(uint32_t block, uint32_t offset) {
    return runSearch([&] { return CTextDecoder::menuToHits(*this, block, offset); });
}

unsigned CEBReader::tableHeaderByte(int n) const {
    if (!m_opened || (m_kind != BOOK_KIND_EB && m_kind != BOOK_KIND_EPWING) || n < 0 || n >= 32) return 0;
    return m_bookFile->header()[n];
}

int CEBReader::readRaw(uint8_t* buffer, uint32_t count, uint64_t position) {
    return CMediaReader(*this).readRaw(buffer, count, position);
}

uint8_t* CEBReader::readColorGraphic(uint64_t position, uint32_t* size) {
    return CMediaReader(*this).readColorGraphic(position, size);
}

uint8_t* CEBReader::readMediaData(uint64_t position, uint32_t* size) {
    return CMediaReader(*this).readMediaData(position, size);
}

uint8_t* CEBReader::monoBitmapToBmp(uint64_t position, uint32_t width, uint32_t height, uint32_t* size) {
    return CMediaReader(*this).monoBitmapToBmp(position, width, height, size);
}

uint8_t* CEBReader::extractWave(uint64_t start, uint64_t end, int header, int channelsMinusOne, int eightBit,
                                int rateCode, uint32_t* size) {
    return CMediaReader(*this).extractWave(start, end, header, channelsMinusOne, eightBit, rateCode, size);
}

uint8_t* CEBReader::extractXaSound(uint32_t firstSector, uint32_t lastSector, uint32_t* size) {
    return CMediaReader(*this).extractXaSound(firstSector, lastSector, m_xaSampleRate, size);
}

int CEBReader::readColorSample(uint32_t n, char* name, char* title, uint32_t titleSize) {
    return CMediaReader(*this).readColorSample(n, name, title, titleSize);
}

uint8_t* CEBReader::bitmapToBmp(uint32_t width, uint32_t height, const uint8_t* bitmap, uint32_t* size) {
    return CMediaReader::bitmapToBmp(width, height, bitmap, size);
}

namespace {

// The slot a font shape belongs to: wide when it is about as wide as high.
bool isWideShape(uint32_t width, uint32_t height) {
    return static_cast<int64_t>(height) - static_cast<int64_t>(width) < 3;
}

}  // namespace

int CEBReader::setFontInfo(uint32_t width, uint32_t height, uint16_t count, uint16_t first, uint16_t last) {
    if (m_kind != BOOK_KIND_EPWING || width > 0xFF || height > 0xFF) return 0;
    FONT_HEADER& slot = isWideShape(width, height) ? m_wideFont : m_narrowFont;
    slot.width = static_cast<uint8_t>(width);
    slot.height = static_cast<uint8_t>(height);
    slot.count = count;
    slot.startCode = first;
    slot.endCode = last;
    slot.startBlock = 1;
    return 1;
}

int CEBReader::fontInfoByShape(uint32_t width, uint32_t height, uint16_t* count, uint16_t* first,
                               uint16_t* last) const {
    const FONT_HEADER& slot = isWideShape(width, height) ? m_wideFont : m_narrowFont;
    if (count) *count = slot.count;
    if (first) *first = slot.startCode;
    if (last) *last = slot.endCode;
    return 1;
}

int CEBReader::fontInfo(int slot, uint32_t* width, uint32_t* height, uint16_t* count, uint16_t* first,
                        uint16_t* last) const {
    if (slot != 0 && slot != 1) return 0;
    const FONT_HEADER& f = slot == 1 ? m_wideFont : m_narrowFont;
    if (width) *width = f.width;
    if (height) *height = f.height;
    if (count) *count = f.count;
    if (first) *first = f.startCode;
    if (last) *last = f.endCode;
    return 1;
}

int CEBReader::readGaijiBitmap(uint32_t width, uint32_t height, uint32_t code, uint32_t* outWidth, uint32_t* outHeight,
                               uint8_t* buffer, size_t bufferSize) {
    if (outWidth) *outWidth = 0;
    if (outHeight) *outHeight = 0;
    if (width < 8 || width > 48 || height < 16 || height > 48) return 0;
    // An EPWING text file holds no glyphs: its font slots only describe the
    // font files, whose own readers read them.
    if (m_kind == BOOK_KIND_EPWING) return 0;
    bool wide = m_kind != BOOK_KIND_DATA_FILE && isWideShape(width, height);
    return CMediaReader(*this).readGlyph(wide ? m_wideFont : m_narrowFont, &m_glyphCache, code, outWidth, outHeight,
                                         buffer, bufferSize);
}

uint32_t CEBReader::bookInformation(char* out, uint32_t size, int crlf) {
    if (!isBlockKind(m_kind)) {
        // Kinds 4 to 7 are described by their back end's reader; without one
        // the text is empty (dictionaryInformation terminates it).
        int n = dictionaryInformation(out, size, crlf);
        return n > 0 ? static_cast<uint32_t>(n) : 0;
    }
    return CBookInfoText(*this, crlf != 0).write(out, size);
}

#include "foundation/book/CBookFile.h"

#include <clocale>
#include <cstring>
#include <string>

#include "foundation/book/BookConstants.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/GaijiFonts.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZOutputFile.h"
#include "foundation/storage/CZio.h"

#include <sys/stat.h>

namespace {

const int kRecordSize = 16;
const int kTableHeaderSize = 16;

using byteorder::be32;
using byteorder::putBe16;
using byteorder::putBe32;

// Builds a path into out (kPathSize bytes); false when it does not fit.
bool joinPath(char* out, const char* a, const char* b, const char* c = "") {
    int n = snprintf(out, kPathSize, "%s%s%s", a, b, c);
    return n >= 0 && static_cast<size_t>(n) < kPathSize;
}

bool seekToBlock(FILE* f, uint32_t block) {
    if (!f || block < 1) return false;
    return fseeko(f, static_cast<off_t>(block - 1) * kBlockSize, SEEK_SET) == 0;
}

// Ids whose index information carries three style bytes.
bool hasStyleBytes(int id) {
    switch (id) {
        case 0x70:
        case 0x71:
        case 0x80:
        case 0x81:
        case 0x90:
        case 0x91:
            return true;
        default:
            return false;
    }
}

struct NameRow {
    int low;
    int high;
    const char* name;  // UTF-8
};

const NameRow kEbRows[] = {
    {0x09, 0x09, "英単語JUMP見出し"},
    {0x21, 0x21, "圧縮本文"},
    {0x22, 0x22, "圧縮本文インデックス"},
};

const NameRow kGeneralRows[] = {
    {0x00, 0x00, "本文"},
    {0x01, 0x01, "メニュー"},
    {0x02, 0x02, "著作権表示"},
    {0x03, 0x03, "条件検索見出し"},
    {0x04, 0x04, "前方一致かな見出し"},
    {0x05, 0x05, "前方一致表記形見出し"},
    {0x06, 0x06, "後方一致かな見出し"},
    {0x07, 0x07, "後方一致表記形見出し"},
    {0x08, 0x08, "前方一致英字見出し"},
    {0x09, 0x09, "後方一致英字見出し"},
    {0x0A, 0x0A, "クロス検索見出し"},
    {0x0B, 0x0B, "項目番号見出し"},
    {0x0D, 0x0D, "項目別条件検索見出し"},
    {0x0F, 0x0F, "図版見出し"},
    {0x10, 0x10, "図版メニュー"},
    {0x11, 0x11, "図版メニュー(カラー)"},
    {0x16, 0x16, "検索固有名称定義データ"},
    {0x20, 0x20, "メニュー"},
    {0x21, 0x21, "著作権表示"},
    {0x23, 0x23, "著作権表示(1行表示用)"},
    {0x24, 0x24, "音声見出し"},
    {0x30, 0x30, "かなINDEX"},
    {0x40, 0x40, "英字INDEX"},
    {0x50, 0x50, "漢字INDEX"},
    {0x60, 0x60, "表記形INDEX"},
    {0x61, 0x61, "英単語JUMP"},
    {0x70, 0x70, "後方一致かなINDEX"},
    {0x71, 0x71, "後方一致表記形INDEX"},
    {0x72, 0x72, "後方一致英字INDEX"},
    {0x80, 0x80, "条件検索INDEX"},
    {0x81, 0x81, "クロス検索INDEX"},
    {0x90, 0x90, "前方一致かなINDEX"},
    {0x91, 0x91, "前方一致表記形INDEX"},
    {0x92, 0x92, "前方一致英字INDEX"},
    {0xA0, 0xA0, "項目番号INDEX"},
    {0xA1, 0xA1, "項目別条件検索INDEX"},
    {0xB0, 0xB0, "ページ検索INDEX"},
    {0xB1, 0xB1, "漢字INDEX"},
    {0xD0, 0xD0, "モノクロ図版"},
    {0xD1, 0xD1, "拡張モノクロ図版"},
    {0xD2, 0xD2, "カラー図版"},
    {0xD8, 0xD8, "PCM音声"},
    {0xE0, 0xE0, "色見本"},
    {0xEE, 0xEE, "オートデモ"},
    {0xEF, 0xEF, "図版見出し(カラー)"},
    {0xF0, 0xF0, "暗証"},
    {0xF1, 0xF1, "外字(16×16ドット)"},
    {0xF2, 0xF2, "外字(8×16ドット)"},
    {0xF3, 0xF3, "外字(24×24ドット)"},
    {0xF4, 0xF4, "外字(12×24ドット)"},
    {0xF5, 0xF5, "外字(32×30ドット)"},
    {0xF6, 0xF6, "外字(16×30ドット)"},
    {0xF7, 0xF7, "外字(48×48ドット)"},
    {0xF8, 0xF8, "外字(24×48ドット)"},
    {0xFB, 0xFB, "外字代替表?(SEBXA)"},
    {0xFF, 0xFF, "複合検索管理情報"},
    {0x00, 0x2F, "その他のテキストデータ"},
    {0x70, 0x7F, "その他のテキストデータ"},
    {0x80, 0x8F, "その他のテキストデータ"},
    {0x90, 0x9F, "その他のテキストデータ"},
    {0xA0, 0xBF, "その他のテキストデータ"},
    {0xD0, 0xDF, "マルチメディアデータ"},
};

struct AttributeRow {
    int category;
    int value;
    const char* name;  // UTF-8
};

const AttributeRow kAttributeRows[] = {
    {1, 0x00, "国語辞典"},
    {1, 0x10, "漢和辞典"},
    {1, 0x20, "英和辞典"},
    {1, 0x30, "和英辞典"},
    {1, 0x40, "現代用語辞典"},
    {1, 0x50, "百科事典"},
    {1, 0x60, "一般書物"},
    {1, 0x70, "類語辞典"},
    {2, 0x80, "大量引用"},
    {2, 0x20, "動画引用"},
    {2, 0x10, "カラー図版引用"},
    {2, 0x08, "図版引用"},
    {2, 0x04, "テキスト引用"},
    {2, 0x02, "印刷"},
    {2, 0x01, "表示"},
    {3, 0, "各書籍構成要素に記録されているインデックス作成情報有効性による"},
    {3, 1, "インデックス作成情報は意味をもたない"},
    {3, 2, "インデックス作成情報はすべて有効"},
    {4, 0, "表示方法初期値情報は無効"},
    {4, 1, "表示方法初期値情報は有効"},
    {5, 0, "直接本文表示"},
    {5, 1, "一覧表表示し、選択指示を受けて表示"},
    {6, 0, "項目単位に連続して表示"},
    {6, 1, "一致項目を先頭に本文を表示"},
};

// Converts a UTF-8 display name into a static Shift_JIS buffer.
const char* toSjis(char* buffer, size_t size, const char* utf8) {
    utf8ToSjis(utf8, static_cast<int>(strlen(utf8)), reinterpret_cast<unsigned char*>(buffer), size);
    return buffer;
}

}  // namespace

CBookFile::CBookFile()
    : m_discType(0),
      m_charCode(0),
      m_epwingVersion(0),
      m_entries(nullptr),
      m_entryCount(0),
      m_entryCapacity(0),
      m_zio(nullptr),
      m_textFile(nullptr),
      m_graphicsFile(nullptr),
      m_soundFile(nullptr),
      m_indexWritten(false),
      m_cachedBlock(-1),
      m_iterator(0),
      m_writeFailed(0) {
    setlocale(LC_ALL, "Japanese");
    memset(m_header, 0, sizeof m_header);
    memset(m_dir, 0, sizeof m_dir);
    for (int i = 0; i < FONT_SLOTS; ++i) strcpy(m_fontNames[i], kFontSlots[i].defaultName);
    memset(m_block, 0, sizeof m_block);
    strcpy(m_mode, "r");
}

CBookFile::~CBookFile() {
    close();
}

void CBookFile::releaseEntries() {
    if (m_entries) {
        for (int i = 0; i < m_entryCapacity; ++i) delete m_entries[i].stream;
        delete[] m_entries;
    }
    m_entries = nullptr;
    m_entryCount = 0;
    m_entryCapacity = 0;
    m_iterator = 0;
}

std::unique_ptr<CZOutputFile> CBookFile::createOutput(const char* path) {
    // A folder (or a device, a FIFO) at the final name would refuse the
    // rename only at the end of the build.
    struct stat st;
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return nullptr;
    std::unique_ptr<CZOutputFile> out(new CZOutputFile);
    if (!out->create(path, CZOutputFile::newFileMode(), CZOutputFile::kBookTempPrefix)) return nullptr;
    return out;
}

int CBookFile::finishOutputs(bool keep) {
    int result = 0;
    auto finish = [keep, &result](std::unique_ptr<CZOutputFile>& out) {
        if (!out) return;
        if (keep) {
            if (!out->commit(true)) result = -1;
        } else {
            out->discard();
        }
        out.reset();
    };
    // The text file names the areas of the others: it goes last.
    finish(m_graphicsOut);
    finish(m_soundOut);
    for (auto& font : m_fontOuts) finish(font);
    m_fontOuts.clear();
    finish(m_textOut);
    return result;
}

std::vector<std::string> CBookFile::outputPaths() const {
    std::vector<std::string> paths;
    for (const CZOutputFile* out : {m_textOut.get(), m_graphicsOut.get(), m_soundOut.get()})
        if (out) paths.push_back(out->output());
    for (const auto& font : m_fontOuts) paths.push_back(font->output());
    return paths;
}

int CBookFile::close() {
    int result = 0;
    const bool writing = m_textOut || m_graphicsOut || m_soundOut || !m_fontOuts.empty();
    // Write mode: the handles belong to the output files.
    m_textFile = m_graphicsFile = m_soundFile = nullptr;
    if (writing && (finishOutputs(m_indexWritten) != 0 || !m_indexWritten)) result = -1;
    m_indexWritten = false;
    if (m_zio) {
        m_zio->close();
        delete m_zio;
        m_zio = nullptr;
    }
    releaseEntries();
    m_cachedBlock = -1;
    m_writeFailed = 0;
    strcpy(m_mode, "r");
    return result;
}

const char* CBookFile::fontName(int i) const {
    return (i >= 0 && i < 8) ? m_fontNames[i] : "";
}

int CBookFile::open(const char* dir, const char* fileName, const char* mode, int discType, int charCode,
                    const char* fontNames, int indexBlock, int epwingVersion) {
    close();
    memset(m_header, 0, sizeof m_header);
    if (!dir || !fileName || !mode || (mode[0] != 'r' && mode[0] != 'w')) return -1;
    if (strlen(dir) >= sizeof m_dir) return -1;
    strcpy(m_dir, dir);
    m_discType = discType;
    m_charCode = static_cast<uint8_t>(charCode);
    m_epwingVersion = epwingVersion;
    if (indexBlock < 1) indexBlock = 1;
    for (int i = 0; i < FONT_SLOTS; ++i) {
        m_fontNames[i][0] = '\0';
        if (fontNames) {
            memcpy(m_fontNames[i], fontNames + 9 * i, 8);
            m_fontNames[i][8] = '\0';
        }
        if (m_fontNames[i][0] == '\0') strcpy(m_fontNames[i], kFontSlots[i].defaultName);
    }

    char path[kPathSize];
    if (mode[0] == 'w') {
        if (!joinPath(path, dir, discType == 1 ? "/DATA/" : "/", fileName)) return -1;
        m_textOut = createOutput(path);
        if (!m_textOut) return -1;
        m_textFile = m_textOut->file();
        m_entries = new INDEX_TABLE_ITEM[kMaxWriteEntries];
        m_entryCapacity = kMaxWriteEntries;
        for (int i = 0; i < kMaxWriteEntries; ++i) {
            INDEX_TABLE_ITEM& e = m_entries[i];
            e.id = 0;
            e.start = 0;
            e.blocks = 0;
            e.stream = nullptr;
            e.info[0] = 1;
            e.info[1] = e.info[2] = e.info[3] = 0;
        }
        m_entryCount = 0;
        strcpy(m_mode, "w+b");
        return 0;
    }

    // Read mode: dir + fileName, also as ".ebz", also with the case of the
    // names on disk.
    size_t n = strlen(dir);
    const char* sep = (n > 0 && dir[n - 1] != '/' && fileName[0] != '/') ? "/" : "";
    if (!joinPath(path, dir, sep, fileName)) return -1;
    if (!fileExists(path)) {
        char alt[kPathSize];
        char parent[kPathSize];
        char name[kPathSize];
        const char* found = nullptr;
        if (joinPath(alt, path, ".ebz") && fileExists(alt)) {
            found = alt;
        } else if (pathDirName(path, parent) >= 0 && pathFileName(path, name) >= 0) {
            const char* searchDir = parent[0] ? parent : "/";
            found = findFile(searchDir, name, 1);
            if (!found && joinPath(alt, name, ".ebz")) found = findFile(searchDir, alt, 1);
        }
        if (!found) return -1;
        if (strlen(found) >= sizeof path) return -1;
        memmove(path, found, strlen(found) + 1);
    }

    m_zio = new CZio;
    unsigned char table[kBlockSize];
    memset(table, 0, sizeof table);
    int got = -1;
    if (m_zio->open(path, static_cast<unsigned>(epwingVersion)) == 0 &&
        m_zio->seekBlock(static_cast<unsigned>(indexBlock)) == 0)
        got = m_zio->readBlock(table);
    int records = got >= kTableHeaderSize ? static_cast<int>((table[0] << 8) | table[1]) : 0;
    if (records < 1 || records > kMaxRecords) {
        m_zio->close();
        delete m_zio;
        m_zio = nullptr;
        return -1;
    }
    if (got > kBlockSize) got = kBlockSize;
    // Only the records that are really in the block.
    int present = (got - kTableHeaderSize) / kRecordSize;
    if (records > present) records = present;

    m_entries = new INDEX_TABLE_ITEM[records > 0 ? records : 1];
    m_entryCapacity = records;
    for (int i = 0; i < records; ++i) {
        const unsigned char* rec = table + kTableHeaderSize + kRecordSize * i;
        INDEX_TABLE_ITEM& e = m_entries[i];
        e.id = rec[0];
        e.start = be32(rec + 2);
        e.blocks = be32(rec + 6);
        e.stream = nullptr;
        memcpy(e.info, rec + 10, 4);
    }
    m_entryCount = records;
    m_charCode = table[2];
    memcpy(m_header, table, 16);
    uint16_t native = static_cast<uint16_t>(records);
    memcpy(m_header, &native, sizeof native);
    int tail = kTableHeaderSize + kRecordSize * records;
    int tailBytes = got - tail;
    if (tailBytes > 16) tailBytes = 16;
    if (tailBytes > 0) memcpy(m_header + 16, table + tail, static_cast<size_t>(tailBytes));
    strcpy(m_mode, "rb");
    return 0;
}

int CBookFile::openGraphicsFile(const char* dir, const char* name, const char* mode) {
    if (m_discType != 1 || m_mode[0] != 'w' || !dir || !name || !mode || mode[0] != 'w') return -1;
    char path[kPathSize];
    if (!joinPath(path, dir, "/DATA/", name)) return -1;
    m_graphicsFile = nullptr;
    if (m_graphicsOut) m_graphicsOut->discard();
    m_graphicsOut = createOutput(path);
    if (m_graphicsOut) m_graphicsFile = m_graphicsOut->file();
    return m_graphicsFile ? 0 : -1;
}

int CBookFile::openSoundFile(const char* dir, const char* name, const char* mode) {
    if (m_discType != 1 || m_mode[0] != 'w' || !dir || !name || !mode || mode[0] != 'w') return -1;
    char path[kPathSize];
    if (!joinPath(path, dir, "/DATA/", name)) return -1;
    m_soundFile = nullptr;
    if (m_soundOut) m_soundOut->discard();
    m_soundOut = createOutput(path);
    if (m_soundOut) m_soundFile = m_soundOut->file();
    return m_soundFile ? 0 : -1;
}

FILE* CBookFile::fileFor(int id) const {
    if (id == 0xD2 && m_graphicsFile) return m_graphicsFile;
    if (id == 0xD8 && m_soundFile) return m_soundFile;
    return m_textFile;
}

int CBookFile::addEntry(int id, CBlockStream* stream, const unsigned char* info3) {
    if (!stream) return -1;
    if (m_mode[0] != 'w' || !m_textFile || !m_entries || m_entryCount >= kMaxWriteEntries) {
        delete stream;
        return -1;
    }
    if (stream->isFileMode()) stream->attachFile(fileFor(id));
    INDEX_TABLE_ITEM& e = m_entries[m_entryCount++];
    e.id = static_cast<uint8_t>(id);
    e.stream = stream;
    e.start = stream->startBlock();
    e.blocks = 0;
    if (hasStyleBytes(id)) {
        e.info[0] = 2;
        for (int k = 0; k < 3; ++k) e.info[k + 1] = info3 ? info3[k] : 0;
    } else {
        e.info[0] = 1;
        e.info[1] = e.info[2] = e.info[3] = 0;
    }
    return 0;
}

int CBookFile::writePages(FILE* f, uint32_t start, CBlockStream* stream) {
    if (!seekToBlock(f, start)) return -1;
    uint32_t count = stream->blockCount();
    for (uint32_t i = 0; i < count; ++i)
        if (fwrite(stream->page(i), 1, kBlockSize, f) != static_cast<size_t>(kBlockSize)) return -1;
    return 0;
}

int CBookFile::writeFontFile(int id, CBlockStream* stream) {
    int slot = fontSlotOfArea(id);
    char path[kPathSize];
    if (slot < 0 || !joinPath(path, m_dir, "/GAIJI/", m_fontNames[slot])) return -1;
    std::unique_ptr<CZOutputFile> out = createOutput(path);
    if (!out) return -1;
    bool ok = writePages(out->file(), 1, stream) == 0 && fflush(out->file()) == 0;
    // Renamed with the text file by close().
    if (ok) m_fontOuts.push_back(std::move(out));
    return ok ? 0 : -1;
}

int CBookFile::writeIndex() {
    if (m_mode[0] != 'w' || !m_textFile || !m_entries) return -1;
    bool ok = true;
    unsigned char table[kBlockSize];
    memset(table, 0, sizeof table);
    if (!seekToBlock(m_textFile, 1) || fwrite(table, 1, kBlockSize, m_textFile) != static_cast<size_t>(kBlockSize))
        ok = false;

    int records = 0;
    for (int i = 0; i < m_entryCount; ++i) {
        INDEX_TABLE_ITEM& e = m_entries[i];
        if (e.start == 0 || !e.stream) continue;
        CBlockStream* s = e.stream;
        // A file-mode stream holds its last block until it leaves it.
        if (s->isFileMode()) s->flushBlock();
        if (m_discType == 1 && e.id >= 0xF1 && e.id <= 0xF8) {
            if (writeFontFile(e.id, s) != 0) ok = false;
            continue;
        }
        if (e.id == 0x0D || e.id == 0xA1) continue;
        e.blocks = (e.id == 0xFF) ? 1 : s->blockCount();
        unsigned char* rec = table + kTableHeaderSize + kRecordSize * records;
        rec[0] = e.id;
        putBe32(rec + 2, e.start);
        putBe32(rec + 6, e.blocks);
        memcpy(rec + 10, e.info, 4);
        ++records;
        if (!s->isFileMode() && writePages(fileFor(e.id), e.start, s) != 0) ok = false;
    }
    putBe16(table, static_cast<unsigned>(records));
    table[2] = m_charCode;
    if (!seekToBlock(m_textFile, 1) || fwrite(table, 1, kBlockSize, m_textFile) != static_cast<size_t>(kBlockSize))
        ok = false;
    FILE* files[3] = {m_textFile, m_graphicsFile, m_soundFile};
    for (FILE* f : files)
        if (f && (fflush(f) != 0 || ferror(f))) ok = false;
    m_cachedBlock = -1;
    m_indexWritten = ok;
    return ok ? 0 : -1;
}

int CBookFile::seekBlock(unsigned block) {
    if (block < 1) return -1;
    if (m_mode[0] == 'w') return seekToBlock(m_textFile, block) ? 0 : -1;
    return m_zio ? m_zio->seekBlock(block) : -1;
}

const unsigned char* CBookFile::readBlock(unsigned block) {
    if (m_mode[0] != 'w' && m_cachedBlock >= 0 && static_cast<long long>(block) == m_cachedBlock) return m_block;
    memset(m_block, 0, sizeof m_block);
    m_blockReadFailed = true;
    if (m_mode[0] == 'w') {
        if (seekToBlock(m_textFile, block) && fread(m_block, 1, kBlockSize, m_textFile) > 0) m_blockReadFailed = false;
        if (m_blockReadFailed) memset(m_block, 0, sizeof m_block);
    } else if (m_zio && block >= 1) {
        if (m_zio->seekBlock(block) == 0 && m_zio->readBlock(m_block) > 0) m_blockReadFailed = false;
        if (m_blockReadFailed) memset(m_block, 0, sizeof m_block);
    }
    m_cachedBlock = block;
    return m_block;
}

INDEX_TABLE_ITEM* CBookFile::findEntry(int id) {
    for (int i = 0; i < m_entryCount; ++i)
        if (m_entries[i].id == id) return &m_entries[i];
    return nullptr;
}

uint32_t CBookFile::startBlockOf(int id) {
    INDEX_TABLE_ITEM* e = findEntry(id);
    return e ? e->start : 0;
}

CBlockStream* CBookFile::streamOf(int id) {
    INDEX_TABLE_ITEM* e = findEntry(id);
    return e ? e->stream : nullptr;
}

INDEX_TABLE_ITEM* CBookFile::firstEntry() {
    m_iterator = 0;
    return nextEntry();
}

INDEX_TABLE_ITEM* CBookFile::nextEntry() {
    while (m_entries && m_iterator < m_entryCount) {
        INDEX_TABLE_ITEM* e = &m_entries[m_iterator++];
        if (e->start != 0) return e;
    }
    return nullptr;
}

int CBookFile::checkCRC() {
    return m_zio ? m_zio->checkCRC() : -2;
}

const char* CBookFile::indexTypeName(int id) const {
    thread_local char buffer[128];
    if (m_discType == 0)
        for (const NameRow& r : kEbRows)
            if (id >= r.low && id <= r.high) return toSjis(buffer, sizeof buffer, r.name);
    for (const NameRow& r : kGeneralRows)
        if (id >= r.low && id <= r.high) return toSjis(buffer, sizeof buffer, r.name);
    strcpy(buffer, "0");
    return buffer;
}

const char* CBookFile::catalogAttributeName(int value, int category) {
    thread_local char buffer[160];
    for (const AttributeRow& r : kAttributeRows)
        if (r.category == category && r.value == value) return toSjis(buffer, sizeof buffer, r.name);
    return toSjis(buffer, sizeof buffer, "不明");
}

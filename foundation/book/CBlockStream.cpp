// CBlockStream: blocks, positions, BCD, and the book text writer.
#include "foundation/book/CBlockStream.h"

#include <sys/types.h>

#include <cstring>

#include "foundation/book/escapecodes.h"
#include "foundation/codes/jclib.h"

namespace {

// Full-width JIS form of a one-byte code, or the byte itself when it has none.
unsigned int zenkakuJis(unsigned int b) {
    unsigned int v = jclib::hankakuToZenkaku(b);
    if (jclib::isSjisCode(v)) v = jclib::sjisToJis(v);
    return v;
}

int hexDigit(unsigned int c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

bool isSpace(unsigned int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Largest numeric reference value read; anything above is not a character.
const uint32_t kMaxReferenceValue = 0x10FFFF;

}  // namespace

CBlockStream::CBlockStream(uint32_t startBlock, int fileMode)
    : m_startBlock(startBlock),
      m_lastBlock(startBlock),
      m_fileMode(fileMode ? 1 : 0),
      m_curBlock(startBlock),
      m_curOffset(0),
      m_buffer(nullptr),
      m_dirty(1),
      m_file(nullptr),
      m_gaiji(nullptr),
      m_column(0) {
    std::unique_ptr<unsigned char[]> first(new unsigned char[kBlockSize]());
    m_buffer = first.get();
    if (m_fileMode)
        m_fileBuffer = std::move(first);
    else
        m_pages.push_back(std::move(first));
}

CBlockStream::~CBlockStream() = default;

void CBlockStream::attachFile(FILE* file) {
    if (!m_fileMode) return;
    m_file = file;
    if (m_file == nullptr) return;
    // A stream opened on a file that already holds its first block sees those
    // bytes, so reading works and writing the block back loses nothing.
    if (m_curBlock == m_startBlock && m_lastBlock == m_startBlock && m_curOffset == 0) loadBlock(m_startBlock);
    seekFileBlock(m_startBlock);
}

void CBlockStream::setGaijiMap(GAIJI_CODE_STATE* state) {
    m_gaiji = state;
}

void CBlockStream::setStartBlock(uint32_t block) {
    m_startBlock = block;
}

// File mode: fills the buffer with the block's bytes from the file. Whatever
// the file does not hold (short read, failed seek, no file) is zero, so no
// bytes of the previous block survive.
void CBlockStream::loadBlock(uint32_t block) {
    size_t got = 0;
    if (m_file != nullptr && seekFileBlock(block) == 0) got = std::fread(m_buffer, 1, kBlockSize, m_file);
    if (got < static_cast<size_t>(kBlockSize)) std::memset(m_buffer + got, 0, kBlockSize - got);
}

void CBlockStream::nextBlock() {
    flushBlock();
    ++m_curBlock;
    m_curOffset = 0;
    if (m_curBlock > m_lastBlock) {
        if (m_fileMode) {
            loadBlock(m_curBlock);
            m_dirty = 1;
        } else {
            m_pages.emplace_back(new unsigned char[kBlockSize]());
            m_buffer = m_pages.back().get();
        }
        m_lastBlock = m_curBlock;
    } else if (m_fileMode) {
        loadBlock(m_curBlock);
    } else {
        m_buffer = m_pages.at(m_curBlock - m_startBlock).get();
    }
}

void CBlockStream::ensureRoom(int w) {
    if (m_curOffset + w > kBlockSize) nextBlock();
}

void CBlockStream::putByte(unsigned int value) {
    if (m_curOffset >= kBlockSize) nextBlock();
    m_buffer[m_curOffset++] = static_cast<unsigned char>(value);
    m_dirty = 1;
}

// Two bytes that stay in one block.
void CBlockStream::put16(unsigned int value) {
    ensureRoom(2);
    m_buffer[m_curOffset] = static_cast<unsigned char>(value >> 8);
    m_buffer[m_curOffset + 1] = static_cast<unsigned char>(value);
    m_curOffset = static_cast<int16_t>(m_curOffset + 2);
    m_dirty = 1;
}

int CBlockStream::writeByte(unsigned int value) {
    putByte(value);
    return 1;
}

int CBlockStream::writeWord16(unsigned int value) {
    put16(value & 0xFFFF);
    return 1;
}

int CBlockStream::writeDword32(uint32_t value) {
    ensureRoom(4);
    for (int shift = 24; shift >= 0; shift -= 8) m_buffer[m_curOffset++] = static_cast<unsigned char>(value >> shift);
    m_dirty = 1;
    return 1;
}

int CBlockStream::writeBcd(uint64_t value, int n) {
    if (n <= 0) return 1;
    // A 64-bit value has at most 20 digits, so bytes before the last ten are 0.
    unsigned char digits[10];
    const int m = n < 10 ? n : 10;
    for (int i = m - 1; i >= 0; --i) {
        unsigned int units = static_cast<unsigned int>(value % 10);
        unsigned int tens = static_cast<unsigned int>((value / 10) % 10);
        value /= 100;
        digits[i] = static_cast<unsigned char>(tens * 16 + units);
    }
    for (int i = 0; i < n - m; ++i) putByte(0);
    for (int i = 0; i < m; ++i) putByte(digits[i]);
    return 1;
}

int CBlockStream::writeBytes(const void* data, size_t n) {
    if (data == nullptr) return 1;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        if (m_curOffset >= kBlockSize) nextBlock();
        size_t room = static_cast<size_t>(kBlockSize - m_curOffset);
        size_t take = n < room ? n : room;
        std::memcpy(m_buffer + m_curOffset, p, take);
        m_curOffset = static_cast<int16_t>(m_curOffset + take);
        m_dirty = 1;
        p += take;
        n -= take;
    }
    return 1;
}

int CBlockStream::writeCode(unsigned int code) {
    put16(code & 0xFFFF);
    if ((code & 0xFFFF) == EB_NEWLINE) m_column = 0;
    return 1;
}

int CBlockStream::writeHexCodes(const char* text, int length) {
    if (text == nullptr || length <= 0) return 1;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    int i = 0;
    // Reads up to two digits of one byte, skipping white space before each;
    // returns the digits read (0 at the end of the text or at a foreign byte).
    auto readByteDigits = [&](unsigned int* out) {
        int got = 0;
        unsigned int v = 0;
        while (got < 2) {
            while (i < length && isSpace(s[i])) ++i;
            if (i >= length) break;
            int d = hexDigit(s[i]);
            if (d < 0) break;
            v = v * 16 + static_cast<unsigned int>(d);
            ++got;
            ++i;
        }
        *out = v;
        return got;
    };
    for (;;) {
        unsigned int high = 0;
        unsigned int low = 0;
        if (readByteDigits(&high) == 0) break;
        readByteDigits(&low);
        writeCode(high * 256 + low);
        while (i < length && isSpace(s[i])) ++i;
        if (i >= length || hexDigit(s[i]) < 0) break;
    }
    return 1;
}

const GAIJI_ITEM* CBlockStream::gaijiByUnicode(uint32_t value) const {
    if (m_gaiji == nullptr || m_gaiji->gaijiMap == nullptr) return nullptr;
    for (int32_t k = 0; k < m_gaiji->count; ++k) {
        if (m_gaiji->gaijiMap[k].unicode == value) return &m_gaiji->gaijiMap[k];
    }
    return nullptr;
}

const GAIJI_ITEM* CBlockStream::gaijiByName(const char* name, int n) const {
    if (m_gaiji == nullptr || m_gaiji->gaijiMap == nullptr || n <= 0) return nullptr;
    for (int32_t k = 0; k < m_gaiji->count; ++k) {
        const char* entry = m_gaiji->gaijiMap[k].name;
        if (entry != nullptr && std::strlen(entry) == static_cast<size_t>(n) &&
            std::memcmp(entry, name, static_cast<size_t>(n)) == 0)
            return &m_gaiji->gaijiMap[k];
    }
    return nullptr;
}

// Writes one converted value of writeText. Book text holds only two-byte
// codes, so a one-byte value that is not a converted LF, CR or TAB becomes
// the geta mark.
void CBlockStream::writeValue(unsigned int v, int open, int convertLineFeeds, int* count) {
    if (v >= 256) {
        put16(v & 0xFFFF);
        *count += open ? 1 : 2;
        return;
    }
    if (convertLineFeeds) {
        if (v == 0x0A) {
            writeCode(EB_NEWLINE);
            return;
        }
        if (v == 0x0D) return;
        if (v == 0x09) {
            int k = ((m_column % 4) + 4) % 4;
            if (k == 0) k = 4;
            for (int j = 0; j < k; ++j) put16(0x2121);
            m_column += k;
            *count += k;
            return;
        }
    }
    put16(EB_GETA_CODE);
    *count += open ? 1 : 2;
}

int CBlockStream::writeText(const char* text, int length, int halfWidthBrackets, int convertLineFeeds) {
    if (text == nullptr || length <= 0) return 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const int brackets = halfWidthBrackets ? 1 : 0;
    int count = 0;
    int open = 0;
    int i = 0;

    auto openRun = [&]() {
        if (brackets && !open) {
            writeCode(EB_BEGIN_NARROW);
            open = 1;
        }
    };
    auto closeRun = [&]() {
        if (brackets && open) {
            writeCode(EB_END_NARROW);
            open = 0;
        }
    };
    // A printable one-byte character in its full-width form.
    auto writeNarrow = [&](unsigned int b) {
        openRun();
        writeValue(zenkakuJis(b), open, convertLineFeeds, &count);
    };
    // A gaiji code opens or closes the half-width run by its range.
    auto switchRun = [&](unsigned int v) {
        if (m_gaiji == nullptr || !brackets) return;
        if (m_gaiji->wideStart <= v && v < m_gaiji->wideNext)
            closeRun();
        else if (m_gaiji->narrowStart <= v && v < m_gaiji->narrowNext)
            openRun();
    };
    // The book code of a gaiji entry for value, or 0 when none gives one.
    auto gaijiCode = [&](uint32_t value) -> unsigned int {
        const GAIJI_ITEM* e = gaijiByUnicode(value);
        return e != nullptr ? (e->ebCode & 0xFFFF) : 0;
    };

    while (i < length) {
        const unsigned int b = s[i];

        if (jclib::isSjisLead(b)) {
            closeRun();
            unsigned int v = EB_GETA_CODE;
            if (i + 1 < length && jclib::isSjisTrail(s[i + 1])) {
                unsigned int c = b * 256 + s[i + 1];
                if (c >= 0xF040 && c <= 0xFCFC) c = 0x81AC;
                v = jclib::sjisToJis(c);
                i += 2;
            } else {
                // No trail byte: only the lead byte is lost; the next byte is
                // read again as text of its own.
                i += 1;
            }
            m_column += 2;
            writeValue(v, open, convertLineFeeds, &count);
            continue;
        }

        if (b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA1) || b > 0xDF) {
            openRun();
            i += 1;
            writeValue(b, open, convertLineFeeds, &count);
            continue;
        }

        if (b != '&') {
            i += 1;
            m_column += 1;
            writeNarrow(b);
            continue;
        }

        // "&": a reference when a ";" follows within 16 bytes.
        i += 1;
        m_column += 1;
        const int limit = (length - i) < 16 ? (length - i) : 16;
        int n = -1;
        for (int j = 0; j < limit; ++j) {
            if (s[i + j] == ';') {
                n = j;
                break;
            }
        }
        if (n < 0) {
            writeNarrow('&');
            continue;
        }
        const unsigned char* name = s + i;
        bool resolved = false;

        if (n >= 2 && name[0] == '#') {
            const bool hex = (name[1] == 'x' || name[1] == 'X');
            int p = hex ? 2 : 1;
            uint32_t value = 0;
            bool ok = p < n;
            for (; ok && p < n; ++p) {
                int d = hex ? hexDigit(name[p]) : (name[p] >= '0' && name[p] <= '9' ? name[p] - '0' : -1);
                if (d < 0) {
                    ok = false;
                    break;
                }
                value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
                if (value > kMaxReferenceValue) ok = false;
            }
            if (ok) {
                unsigned int v = value;
                if (!hex) {
                    if (v <= 255) v = jclib::hankakuToZenkaku(v);
                    if (jclib::isSjisCode(v)) v = jclib::sjisToJis(v);
                }
                unsigned int code = gaijiCode(v);
                if (code != 0) v = code;
                if (v <= 0xFFFF) {
                    switchRun(v);
                    writeValue(v, open, convertLineFeeds, &count);
                    resolved = true;
                }
            }
        } else if (n > 0) {
            uint32_t value = lookupEntity(reinterpret_cast<const char*>(name), static_cast<size_t>(n));
            if (value == 0) {
                const GAIJI_ITEM* e = gaijiByName(reinterpret_cast<const char*>(name), n);
                if (e != nullptr) value = e->unicode;
            }
            if (value >= 128) {
                unsigned int code = gaijiCode(value);
                if (code != 0) {
                    switchRun(code);
                    writeValue(code, open, convertLineFeeds, &count);
                    resolved = true;
                }
            } else if (value != 0) {
                writeNarrow(value);
                resolved = true;
            }
        }

        if (resolved) {
            i += n + 1;
            m_column += n + 1;
        } else {
            writeNarrow('&');
        }
    }
    closeRun();
    return count;
}

int CBlockStream::seek(const BLOCK_POS& pos) {
    const int16_t offset = static_cast<int16_t>(pos.offset > kBlockSize ? kBlockSize : pos.offset);
    if (pos.block == m_curBlock) {
        m_curOffset = offset;
        return 1;
    }
    if (m_fileMode) {
        flushBlock();
        loadBlock(pos.block);
        if (pos.block > m_lastBlock) {
            // Blocks skipped in between are not written.
            m_lastBlock = pos.block;
            m_dirty = 1;
        } else {
            m_dirty = 0;
        }
    } else {
        while (pos.block > m_lastBlock) {
            m_pages.emplace_back(new unsigned char[kBlockSize]());
            ++m_lastBlock;
        }
        m_buffer = m_pages.at(static_cast<size_t>(pos.block) - m_startBlock).get();
    }
    m_curBlock = pos.block;
    m_curOffset = offset;
    return 1;
}

int CBlockStream::tell(BLOCK_POS* pos) {
    if (m_curOffset >= kBlockSize) nextBlock();
    if (pos != nullptr) {
        pos->block = m_curBlock;
        pos->offset = static_cast<uint16_t>(m_curOffset);
    }
    return 1;
}

uint32_t CBlockStream::currentBlock() {
    if (m_curOffset >= kBlockSize) nextBlock();
    return m_curBlock;
}

int CBlockStream::currentOffset() {
    if (m_curOffset >= kBlockSize) nextBlock();
    return m_curOffset;
}

void CBlockStream::finish() {
    if (m_curOffset > 0) nextBlock();
}

unsigned char* CBlockStream::page(uint32_t i) {
    if (m_fileMode) return m_buffer;
    return m_pages.at(i).get();
}

int CBlockStream::seekFileBlock(uint32_t block) {
    if (!m_fileMode || m_file == nullptr) return -1;
    const int64_t where = (static_cast<int64_t>(block) - 1) * kBlockSize;
    if (where < 0) return -1;
    return fseeko(m_file, static_cast<off_t>(where), SEEK_SET);
}

void CBlockStream::flushBlock() {
    if (!m_fileMode || !m_dirty || m_file == nullptr) return;
    if (seekFileBlock(m_curBlock) == 0) std::fwrite(m_buffer, 1, kBlockSize, m_file);
    m_dirty = 0;
}

int CBlockStream::readByte() {
    if (m_curOffset >= kBlockSize) nextBlock();
    return m_buffer[m_curOffset++];
}

unsigned int CBlockStream::readWord16() {
    unsigned int high = static_cast<unsigned int>(readByte());
    return high * 256 + static_cast<unsigned int>(readByte());
}

uint32_t CBlockStream::readDword32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v * 256 + static_cast<uint32_t>(readByte());
    return v;
}

int64_t CBlockStream::readBcd(int n) {
    const uint64_t kKeep = 1000000000000000000ULL;  // 10^18
    uint64_t result = 0;
    bool bad = false;
    for (int k = 0; k < n; ++k) {
        unsigned int b = static_cast<unsigned int>(readByte());
        unsigned int hi = b >> 4, lo = b & 0x0F;
        if (hi > 9 || lo > 9) bad = true;
        result = (result * 100 + hi * 10 + lo) % kKeep;
    }
    return bad ? -1 : static_cast<int64_t>(result);
}

unsigned char* CBlockStream::readBytes(unsigned char* buffer, size_t n) {
    if (buffer == nullptr) return nullptr;
    for (size_t k = 0; k < n; ++k) buffer[k] = static_cast<unsigned char>(readByte());
    return buffer;
}

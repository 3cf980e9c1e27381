// CBlockStream: the writer (and a small reader) of one data area of a book.
//
// A book file is a sequence of 2048-byte blocks numbered from 1; block b lies
// at file offset (b - 1) * 2048. Numbers are big-endian. A stream covers a run
// of consecutive blocks from its start block and grows as data is written.
//
// Two modes, fixed at construction:
//  - memory mode: every block is a separate zero-filled 2048-byte page kept in
//    a list; pages never move, so a remembered BLOCK_POS stays valid;
//  - file mode: one 2048-byte buffer read from and written back to an open
//    FILE (not owned) at its block position. A block reaches the file when the
//    stream leaves it or on flushBlock(); the destructor does not flush. A
//    block that becomes current is read from the file as far as the file
//    holds it; the rest of the buffer is zero (never bytes of another block),
//    so reading a book file through a stream leaves the file as it was. The
//    handle must be open for reading too ("w+b", "r+b") when the stream seeks
//    back to blocks it has left.
//
// Values of 1, 2 or 4 bytes (writeByte, writeWord16, writeDword32, writeCode,
// the characters of writeText) never straddle two blocks: when they do not fit
// the stream moves to the next block first and the skipped tail stays zero.
// writeBytes and writeBcd continue byte by byte across a block boundary.
//
// Book text (writeText, writeCode, writeHexCodes) is a stream of big-endian
// 16-bit codes: JIS X 0208, gaiji codes and the 0x1Fxx escape codes listed in
// foundation/escapecodes.h. writeText never writes a lone byte: a byte that
// has no two-byte form (a control byte other than the converted LF/CR/TAB, a
// byte with no JIS form, a lead byte without a valid trail byte) is written
// as the geta mark 0x222E.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "foundation/book/BookConstants.h"
#include "foundation/book/GaijiState.h"

// A position in a book: block number (from 1) and offset in that block
// (0..2048; 2048 means the block is full).
struct BLOCK_POS {
    uint32_t block;
    uint16_t offset;
};

class CBlockStream {
public:
    // A stream whose first block is startBlock; fileMode nonzero for file mode.
    // The first block is zero-filled and marked dirty.
    CBlockStream(uint32_t startBlock, int fileMode);
    ~CBlockStream();
    CBlockStream(const CBlockStream&) = delete;
    CBlockStream& operator=(const CBlockStream&) = delete;

    // File mode only (ignored in memory mode): keeps the handle, loads the
    // start block's bytes already in the file (zeros where the file has none)
    // and positions the file at the start block.
    void attachFile(FILE* file);
    // Gaiji table that writeText uses for references; not owned, may be null.
    void setGaijiMap(GAIJI_CODE_STATE* state);
    // Sets the start block only (no page or position changes).
    void setStartBlock(uint32_t block);
    uint32_t startBlock() const { return m_startBlock; }
    uint32_t lastBlock() const { return m_lastBlock; }
    int isFileMode() const { return m_fileMode; }
    // Half-width columns on the current line (kept by writeText and writeCode).
    int column() const { return m_column; }
    void setColumn(int n) { m_column = n; }

    // Writing; each returns 1.
    int writeByte(unsigned int value);    // low 8 bits
    int writeWord16(unsigned int value);  // low 16 bits, high byte first
    int writeDword32(uint32_t value);     // most significant byte first
    // n bytes of packed BCD, tens digit in the high nibble, most significant
    // byte first; digits beyond 2n are dropped. n <= 0 writes nothing.
    int writeBcd(uint64_t value, int n);
    int writeBytes(const void* data, size_t n);

    // Book text.
    // One 16-bit code, big-endian, never across a block boundary; 0x1F0A
    // (new line) resets the column counter. Returns 1.
    int writeCode(unsigned int code);
    // Codes given as hexadecimal text ("1F02 1F0A"): white space is skipped,
    // each four digits give one code; a last lone pair gives the high byte
    // with low byte 0, a last lone digit is read as a one-digit byte. A
    // character that is neither white space nor a hexadecimal digit ends the
    // scan. Never reads beyond length. Returns 1.
    int writeHexCodes(const char* text, int length);
    // Converts length bytes of Shift_JIS text with "&...;" references into
    // book codes and writes them. halfWidthBrackets nonzero puts 0x1F04 /
    // 0x1F05 around each run of half-width characters; convertLineFeeds
    // nonzero turns LF into 0x1F0A, drops CR and expands TAB to full-width
    // spaces. Returns the number of half-width columns written. A null text or
    // a length <= 0 writes nothing and returns 0.
    // References: "&#xHHHH;" is a book code as it stands, "&#DDD;" a one-byte
    // code (made full-width) or a Shift_JIS code, "&name;" an entity or the
    // name of a gaiji entry; a gaiji entry with the value's Unicode and a
    // nonzero code replaces it. Decimal values 128..160 and 224..255 with no
    // gaiji entry become the geta mark. Malformed references (no digits, a
    // foreign digit, a value above 0x10FFFF) and names not found are text.
    int writeText(const char* text, int length, int halfWidthBrackets, int convertLineFeeds);

    // Positioning and access.
    // Makes pos current (an offset above 2048 is taken as 2048). Returns 1.
    // Memory mode: a block below the start block throws std::out_of_range.
    int seek(const BLOCK_POS& pos);
    // Moves on first when the current block is full; stores block and offset.
    int tell(BLOCK_POS* pos);
    uint32_t currentBlock();
    int currentOffset();
    // When the current block holds data, moves to the next block.
    void finish();
    uint32_t blockCount() const { return m_lastBlock - m_startBlock + 1; }
    // Memory mode: page i (block start + i; throws std::out_of_range outside
    // the stream). File mode: the current buffer whatever i is.
    unsigned char* page(uint32_t i);
    // File mode: positions the file at block; the fseek result (0 = success).
    // Memory mode: -1.
    int seekFileBlock(uint32_t block);
    // File mode, when dirty: writes the buffer at the current block.
    void flushBlock();

    // Reading (moves on to the next block when the current one is full).
    int readByte();             // 0..255
    unsigned int readWord16();  // big-endian, may span blocks
    uint32_t readDword32();     // big-endian, may span blocks
    // n bytes of packed BCD as a decimal number; -1 when any nibble is above
    // 9 (all n bytes are still consumed). n <= 0 gives 0. Digits beyond the
    // 18 that fit are dropped from the front.
    int64_t readBcd(int n);
    unsigned char* readBytes(unsigned char* buffer, size_t n);

private:
    void nextBlock();
    void ensureRoom(int w);
    void putByte(unsigned int value);
    void put16(unsigned int value);
    void loadBlock(uint32_t block);
    void writeValue(unsigned int v, int open, int convertLineFeeds, int* count);
    const GAIJI_ITEM* gaijiByUnicode(uint32_t value) const;
    const GAIJI_ITEM* gaijiByName(const char* name, int n) const;

    uint32_t m_startBlock;
    uint32_t m_lastBlock;
    int m_fileMode;
    uint32_t m_curBlock;
    int16_t m_curOffset;
    std::vector<std::unique_ptr<unsigned char[]>> m_pages;  // memory mode
    std::unique_ptr<unsigned char[]> m_fileBuffer;          // file mode
    unsigned char* m_buffer;
    int m_dirty;
    FILE* m_file;
    GAIJI_CODE_STATE* m_gaiji;
    int m_column;
};

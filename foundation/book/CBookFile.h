// One book text file of a subbook (HONMON, HONMON2, START, ...) with its index
// table: block 1 (or the given index block) lists every area of the book with
// its area id, start block and length.
//
// Write mode: the builder hands over one CBlockStream per area (addEntry); the
// book file lays the areas out, writes the gaiji font files of an EPWING book
// and the index table (writeIndex). Every file is written under a temporary
// name in its folder and renamed over its final name by close() once the
// index table is written, so that a book that fails or is given up leaves
// the files of an earlier build whole, and a symbolic link at a final name
// is replaced, never written through.
// Read mode: the file is opened through CZio (plain or any stored form, also
// as "<name>.ebz") and answers lookups by area id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "foundation/book/BookConstants.h"

class CBlockStream;
class CZio;
class CZOutputFile;

// One area of the index table.
struct INDEX_TABLE_ITEM {
    uint8_t id;            // area id (0x00 text, 0x01 menu, 0x91 word index, ...)
    uint32_t start;        // first block, 1-based; 0 = no area
    uint32_t blocks;       // length in blocks
    CBlockStream* stream;  // write mode: the owned area stream; read mode: null
    uint8_t info[4];       // info[0]: information kind (1 or 2), info[1..3]: index information
};

class CBookFile {
public:
    // Entries a written index table holds at most.
    static const int kMaxWriteEntries = 53;
    // Records an index table block can hold.
    static const int kMaxRecords = 127;

    CBookFile();
    ~CBookFile();
    CBookFile(const CBookFile&) = delete;
    CBookFile& operator=(const CBookFile&) = delete;

    // Opens the text file. mode "r..." or "w..."; discType 0 EB, 1 EPWING;
    // charCode is the character-code byte of the table (written at byte 2);
    // fontNames: 72 bytes, eight 9-byte names (16 narrow, 16 wide, 24 narrow,
    // 24 wide, 32 narrow, 32 wide, 48 narrow, 48 wide) or null; empty names take
    // "GAI16H00" ... "GAI48F00". indexBlock below 1 becomes 1.
    // Write: creates dir + "/DATA/" + fileName (EPWING) or dir + "/" + fileName
    // (EB), under a temporary name; fails when that name holds a folder or
    // another file that is neither a regular file nor a link.
    // Read: opens dir + fileName (a "/" is put between when needed), or the
    // same with ".ebz", and reads its index table (1..127 records).
    // 0 on success, -1 on failure.
    int open(const char* dir, const char* fileName, const char* mode, int discType, int charCode, const char* fontNames,
             int indexBlock, int epwingVersion);

    // EPWING write mode only: creates dir + "/DATA/" + name for colour
    // graphics (area 0xD2) or sound (area 0xD8). 0 / -1.
    int openGraphicsFile(const char* dir, const char* name, const char* mode);
    int openSoundFile(const char* dir, const char* name, const char* mode);

    // Write mode: registers an area. The book file owns the stream from this
    // call on, also when the call fails (the stream is then deleted at once).
    // A file-mode stream is attached to its file (0xD2 graphics file, 0xD8
    // sound file when open, else the text file). info3: three bytes of index
    // information used for ids 0x70, 0x71, 0x80, 0x81, 0x90, 0x91 (may be null).
    // -1 when 53 entries exist already, the file is not open for writing or
    // the stream is null; else 0.
    int addEntry(int id, CBlockStream* stream, const unsigned char* info3);

    // Write mode: writes every area's pages, the EPWING gaiji font files under
    // dir + "/GAIJI/", and the index table at block 1. 0, or -1 when a file
    // could not be created or written (the other areas are still written).
    int writeIndex();

    // Closes every file, deletes the streams and the table; reusable afterwards.
    // Write mode: after a writeIndex that succeeded, renames every file over
    // its final name (the text file last); otherwise removes them all and
    // leaves the final names as they were. -1 when closing or renaming a
    // written file failed, or when the files were removed unwritten.
    int close();
    // Write mode: the final paths of the files this book file writes (the
    // text file, the graphics and sound files, the gaiji font files), as far
    // as they are known (the font files after writeIndex).
    std::vector<std::string> outputPaths() const;

    // Write mode: positions the text file at (block - 1) * 2048. Read mode:
    // CZio::seekBlock. 0 / -1.
    int seekBlock(unsigned block);
    // The 2048-byte cache holding the block; zero-filled when the read fails.
    // Never null.
    const unsigned char* readBlock(unsigned block);
    // True when the block now cached could not be read (it is zero-filled).
    bool blockReadFailed() const { return m_blockReadFailed; }

    INDEX_TABLE_ITEM* findEntry(int id);
    uint32_t startBlockOf(int id);
    CBlockStream* streamOf(int id);

    // Entries whose start block is not 0, in table order; null at the end.
    INDEX_TABLE_ITEM* firstEntry();
    INDEX_TABLE_ITEM* nextEntry();
    int entryCount() const { return m_entryCount; }

    // Read mode: the first 16 bytes of the table block (bytes 0-1 replaced by
    // the record count as a native uint16_t) followed by the 16 bytes after the
    // last record. Zero in write mode.
    const unsigned char* header() const { return m_header; }
    int discType() const { return m_discType; }
    int epwingVersion() const { return m_epwingVersion; }
    int charCode() const { return m_charCode; }
    // Gaiji font file name i (order as for open), never null.
    const char* fontName(int i) const;

    // CZio::checkCRC of the open file; -2 when there is none.
    int checkCRC();

    // Shift_JIS display name of an area id ("0" when not listed); EB books
    // know three extra ids. The buffer is overwritten by the next call.
    const char* indexTypeName(int id) const;
    // Shift_JIS display text of an index-table header value; category 1 book
    // type, 2 usage bits, 3 index creation, 4 display default, 5 display
    // method, 6 display order. "不明" when unknown. Overwritten by the next call.
    static const char* catalogAttributeName(int value, int category);

private:
    FILE* fileFor(int id) const;
    int writePages(FILE* f, uint32_t start, CBlockStream* stream);
    int writeFontFile(int id, CBlockStream* stream);
    void releaseEntries();
    // A new output file (temporary name) for path; null when it can't be made.
    static std::unique_ptr<CZOutputFile> createOutput(const char* path);
    // Commits (keep) or discards every output file; -1 when a commit failed.
    int finishOutputs(bool keep);

    int m_discType;
    uint8_t m_charCode;
    int m_epwingVersion;
    unsigned char m_header[32];
    INDEX_TABLE_ITEM* m_entries;
    int m_entryCount;
    int m_entryCapacity;
    char m_dir[256];
    char m_fontNames[8][9];
    CZio* m_zio;
    // Write mode: the files being written and their FILE handles.
    std::unique_ptr<CZOutputFile> m_textOut;
    std::unique_ptr<CZOutputFile> m_graphicsOut;
    std::unique_ptr<CZOutputFile> m_soundOut;
    std::vector<std::unique_ptr<CZOutputFile>> m_fontOuts;
    FILE* m_textFile;
    FILE* m_graphicsFile;
    FILE* m_soundFile;
    bool m_indexWritten;
    unsigned char m_block[kBlockSize];
    long long m_cachedBlock;
    bool m_blockReadFailed = false;
    char m_mode[4];
    int m_iterator;
    int m_writeFailed;
};

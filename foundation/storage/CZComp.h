// EBZip compressor and expander.
//
// CZComp turns one book file (read block by block through CZio, whatever its
// storage form) into an EBZip file, and turns any stored form back into the
// plain 2048-byte-block file. Results are 0 / -1; on failure the error code of
// the result block (ZCOMP_RESULT::errorCode) says why.
//
// The EBZip format itself is in ebzipformat.h; the output file and its
// naming rules in CZOutputFile.h.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

class CZio;

// Error codes left in ZCOMP_RESULT::errorCode.
enum {
    ZCOMP_OK = 0,
    ZCOMP_ERR_NO_INPUT = 1,        // "There is no input file."
    ZCOMP_ERR_ALREADY = 2,         // "already compressed."
    ZCOMP_ERR_CHECKSUM = 3,        // "checksum error."
    ZCOMP_ERR_ARGUMENT = 4,        // "invalid argument."
    ZCOMP_ERR_OUTPUT = 5,          // "output device can't be used."
    ZCOMP_ERR_SYSTEM = 6,          // "system error"
    ZCOMP_ERR_NOT_COMPRESSED = 7,  // "not a compressed file."
    ZCOMP_ERR_SKIPPED = 8,         // "skipped"
    ZCOMP_ERR_EXISTS = 9,          // "the output file exists:" (the output path follows)
    ZCOMP_ERR_UNREADABLE = 10,     // "cannot be read."
    ZCOMP_ERR_UNKNOWN_FORM = 11,   // "the compression form could not be determined."
    ZCOMP_ERR_DELETE = 12,         // "the input could not be deleted."
    // Not a failure: the output would be the input itself, so the file is
    // left as it is.
    ZCOMP_SKIPPED_SELF = 13,  // "skipped"
    // Not a failure: the input is no book file (see compress); it is copied
    // as it is into the output folder, or left alone in its own.
    ZCOMP_KEPT_AS_IS = 14,  // "not a book file: kept as it is"
    ZCOMP_ERR_HEADER = 15   // "the EBZip header is damaged."
};

// One range of blocks (first..last, inclusive) stored uncompressed.
struct ZCOMP_KEEP_RANGE {
    uint64_t first;
    uint64_t last;
};

enum { ZCOMP_MAX_KEEP_RANGES = 64, ZCOMP_MAX_KEEP_IDS = 8 };

// Result of the last compress or expand.
struct ZCOMP_RESULT {
    uint32_t sliceSize;            // 2048 << level
    uint8_t level;                 // level written into the header (see compress)
    uint8_t indexWidth;            // 2..5
    uint32_t adler;                // checksum written into (or read from) the header
    int64_t inputSize;             // uncompressed size (compress); see expand
    int64_t outputSize;            // bytes written (compress); see expand
    char outputPath[256];          // file written
    int32_t errorCode;             // 0 or ZCOMP_ERR_*
    ZCOMP_KEEP_RANGE* keepRanges;  // only while a compression runs
    int32_t keepCount;
};

// Progress: done / total, see compress and expand.
typedef void (*ZCOMP_PROGRESS)(void* context, int64_t done, int64_t total);

class CZComp {
public:
    CZComp();
    virtual ~CZComp();
    CZComp(const CZComp&) = delete;
    CZComp& operator=(const CZComp&) = delete;

    // Compresses input into <outputDir or input's folder>/<stem>.ebz. level 0..5;
    // epwingVersion is the CZio hint; keepOriginal keeps the input; keepTree
    // keeps the input's path below outputDir (see setTreeRoot) and creates
    // missing folders;
    // keepFlags bits select areas of HONMON/HONMON2/START stored raw
    // (0x01 block 1, 0x02 ids 0x90-0x92, 0x04 ids 0x70-0x72, 0x08 id 0x80,
    // 0x10 id 0x81, 0x20 complex-search sub-indexes). Small plain files and
    // files in a MOVIE folder are copied instead. 0 or -1.
    //
    // A file that is no book file (one too short for the block reader, under
    // ZIO_MIN_FILE_SIZE bytes, and the viewer gaiji map ".map" and property
    // list ".plist" kept beside a book) is copied under its own name into
    // the output folder, or left alone when there is none (or it is the
    // file's own): -1 with ZCOMP_KEPT_AS_IS, and the input is never deleted.
    // A short file with the EBZip magic or an ".ebz" name is a damaged
    // compressed file: ZCOMP_ERR_ALREADY here, a failure to open in expand.
    //
    // The output is written under a temporary name in its folder and renamed
    // when complete, so a failure leaves nothing behind; the input is deleted
    // only after that. Refused with ZCOMP_ERR_SKIPPED: an output that is a
    // folder, or a file this object already wrote (two inputs of one run
    // mapping to one output). An output that is the input itself is left
    // alone with ZCOMP_SKIPPED_SELF. An existing output is replaced only when
    // setOverwrite(true) was called, else refused with ZCOMP_ERR_EXISTS.
    // A regular input that cannot be read fails with ZCOMP_ERR_UNREADABLE; an
    // EPWING Huffman input whose version neither the hint nor a catalog gives
    // with ZCOMP_ERR_UNKNOWN_FORM. An input that cannot be deleted after its
    // output was written fails with ZCOMP_ERR_DELETE (the output stays).
    // Refused with ZCOMP_ERR_ARGUMENT: paths over
    // 255 bytes, and kept-tree paths that would leave outputDir (".."). When
    // the offsets would not fit the index width that the size gives (raw
    // slices of a small file), the file is written at the next lower level
    // that fits (ZCOMP_RESULT::level tells which), else fails with
    // ZCOMP_ERR_SYSTEM.
    int compress(const char* input, const char* outputDir, unsigned level, unsigned epwingVersion,
                 unsigned keepOriginal, unsigned keepTree, unsigned keepFlags);

    // Expands any stored form into <stem>.org (plain files are copied), with
    // the last block at its real length. An EBZip header announcing 0 bytes
    // is an empty file: the output is empty (its checksum is checked all the
    // same). An EBZip header of a form no reader knows fails with
    // ZCOMP_ERR_HEADER, and a plain file with an ".ebz" name (a compressed
    // file whose header is gone) with ZCOMP_ERR_NOT_COMPRESSED. Result sizes: outputSize = the input
    // file's size on disk, inputSize = the expanded size. 0 or -1; output and
    // refusals as for compress (a checksum error leaves no output either).
    int expand(const char* input, const char* outputDir, unsigned epwingVersion, unsigned keepOriginal,
               unsigned keepTree);

    ZCOMP_RESULT* getInfo() { return &m_result; }

    // The file that compress (expanding false) or expand with these
    // arguments would write, decided as they decide it but without writing
    // anything: empty when it would write nothing (the input is left alone
    // where it is). 0, or the code the call would fail with.
    int plannedOutput(const char* input, const char* outputDir, unsigned epwingVersion, unsigned keepTree,
                      bool expanding, std::string* output);

    // The folder the next inputs were found under: with keepTree their path
    // below it is kept below the output folder (empty, the default: their
    // whole path). Drive-letter paths keep all after their first '/'.
    void setTreeRoot(const std::string& root) { m_treeRoot = root; }

    // compress: done = slices written, total = size / slice size;
    // expand: done = bytes written / 2048, total = size / 2048.
    void setProgressCallback(ZCOMP_PROGRESS callback, void* context);
    void setHeaderByte6(unsigned value) { m_headerByte6 = value; }
    // Existing outputs are replaced (default: refused).
    void setOverwrite(bool overwrite) { m_overwrite = overwrite; }

    // Worker threads for compression and for the expansion of EBZip input;
    // 0 (the default) uses every core. The output does not depend on it.
    void setThreadCount(unsigned count) { m_threads = count; }

    // EPWING version hint for root/SUBBOOK/DATA/HONMON... from the book's
    // CATALOGS; 0 when the path is not such a file.
    static int epwingVersionOf(const char* path);

    // Kept ranges (used by compress; public for tests). collectKeepRanges reads
    // the areas named by flags from the index table in block1 through reader
    // (reader may be null: then only flag 0x01 and nothing that must be read).
    int collectKeepRanges(CZio* reader, const unsigned char* block1, unsigned flags);
    bool inKeepRange(uint64_t first, uint64_t count) const;
    void addKeepRange(uint64_t first, uint64_t last);
    void clearKeepRanges();

private:
    struct Decision;
    int decide(const std::string& input, const char* outputDir, unsigned hint, bool keepTree, bool expanding,
               Decision* d);
    int startOutput(const std::string& output, bool keepTree);
    bool settle(const std::string& input, const char* outputDir, unsigned hint, bool keepTree, bool expanding,
                Decision* d, int* rc);
    int keepAsItIs(const std::string& input, const Decision& d, bool keepTree);
    int fail(int code);
    int copyCase(const std::string& input, const std::string& output, int64_t size);
    int compressBody(CZio& reader, const std::string& output, int64_t size, unsigned level, int zioMode, uint32_t mtime,
                     mode_t perms, unsigned keepFlags, bool sync);
    int claimOutput(const std::string& input, const std::string& output);
    int openFailure(const char* input, const CZio& reader, unsigned hint) const;
    int finish(const char* input, unsigned keepOriginal);
    void rememberOutput(const std::string& output);

    ZCOMP_RESULT m_result;
    ZCOMP_PROGRESS m_progress;
    void* m_progressContext;
    unsigned char m_keepIds[ZCOMP_MAX_KEEP_IDS + 1];
    uint32_t m_headerByte6;
    unsigned m_threads;
    bool m_overwrite;
    std::string m_treeRoot;
    ZCOMP_KEEP_RANGE* m_keepStore;
    // Files (device, inode) written by this object, so that two inputs of one
    // run never write the same output.
    std::set<std::pair<uint64_t, uint64_t>> m_written;
};

// Checks the Adler-32 of an EBZip file: 0 equal, -1 mismatch or not EBZip.
int checkEbzipFile(const char* path);
// The reason text of a ZCOMP_ERR_* code ("unknown error" for any other).
const char* zcompErrorText(int code);

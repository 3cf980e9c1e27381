// Gaiji-to-Unicode maps: per book, a table from its external-character codes
// (narrow "h", wide "z", and a third list "c"/"g") to up to three Unicode
// code points and a short alternative text. The tables are read from the map
// files "<base>/GAIJI/<book directory>.map" and kept in the cache
// "<base>/GaijiMap.db", so that unchanged files are not parsed again.
//
//   CGaijiMap maps("/books/");
//   if (const GAIJI_MAP_RECORD* m = maps.findMap("DICT")) {
//       int32_t cp[3];
//       char alt[4];
//       int n = maps.lookup(m, 1, 0xA121, cp, alt, sizeof alt);
//   }
//
// The cache "GM04" is this library's own layout: after each record's time
// it keeps the map file's size, so that a record is stale when either
// changed. A cache of the older "GM03" layout (or any other signature) is
// not read but rebuilt from the map files, so nothing is lost.
//
// The cache is untrusted input: its counts are checked against its size, a
// cache in doubt is dropped and rebuilt from the map files, and it is always
// written under a temporary name and renamed. A record is stale when its map
// file's modification time or size differs from the one it was read with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// One code of a map (20 bytes on disk, little-endian).
struct GAIJI_MAP_ENTRY {
    uint16_t code;
    uint32_t codePoints[3];  // 0 where unused; the first is 0xFFFF for "null"
    char alt[4];             // not terminated when all four bytes are used
};

enum GAIJI_MAP_KIND { GAIJI_MAP_NARROW = 0, GAIJI_MAP_WIDE = 1, GAIJI_MAP_THIRD = 2 };

// The map of one book.
struct GAIJI_MAP_RECORD {
    char name[32];  // map file name without extension, NUL-terminated
    uint16_t valid;
    int64_t seconds;                        // the map file's modification time
    int64_t nanoseconds;                    //
    uint64_t fileSize;                      // and its size
    std::vector<GAIJI_MAP_ENTRY> lists[3];  // by kind, each sorted by code
};

class CGaijiMap {
public:
    static constexpr char kSignature[5] = "GM04";
    // Codes a list holds at most (the cache counts them in 16 bits).
    static constexpr size_t kMaxListEntries = 32767;
    // Largest cache read.
    static constexpr uint64_t kMaxCacheBytes = 64u << 20;

    // Reads the cache and the map files under baseDir (null: the current
    // directory) and rewrites the cache when anything changed.
    explicit CGaijiMap(const char* baseDir);
    virtual ~CGaijiMap();
    CGaijiMap(const CGaijiMap&) = delete;
    CGaijiMap& operator=(const CGaijiMap&) = delete;

    const char* cachePath() const { return m_cachePath; }
    const char* baseDir() const { return m_baseDir; }
    // The first valid record whose name equals name without regard to ASCII
    // case; null when none.
    const GAIJI_MAP_RECORD* findMap(const char* name) const;
    // The code points of code in the list of the given kind into
    // codePoints[3] (0 where unused) and its alternative text into alt
    // (altSize bytes, cleared first; min(altSize, 4) bytes copied). Returns
    // the number of code points; 0 when the code has none, or when one is a
    // combining mark (U+0300..U+036F) and those are not allowed.
    int lookup(const GAIJI_MAP_RECORD* map, int kind, uint32_t code, int32_t* codePoints, char* alt,
               size_t altSize) const;
    // The alternative text (terminated, cut to size) of the first narrow,
    // then wide, entry whose first code point is codePoint; its length.
    int reverseLookup(const GAIJI_MAP_RECORD* map, uint32_t codePoint, char* out, size_t size) const;
    void setAllowCombining(bool allow) { m_allowCombining = allow; }
    // Reads one map file again when it is new or changed; 1 when parsed.
    int refreshMapFile(const char* path);
    // A readable listing of all valid maps; 0, or -1 when it cannot be written.
    int dumpText(const char* path) const;

    // Every record, valid or replaced, in the order read.
    int recordCount() const { return static_cast<int>(m_records.size()); }
    const GAIJI_MAP_RECORD* record(int i) const { return m_records[static_cast<size_t>(i)].get(); }
    // True when the constructor wrote the cache.
    bool wroteCache() const { return m_wroteCache; }

private:
    bool loadCache();
    bool writeCache() const;
    bool scanMapFolder();
    bool parseMapFile(const char* path, const char* name, int64_t seconds, int64_t nanoseconds, uint64_t size);
    GAIJI_MAP_RECORD* findRecord(const char* name);

    char m_baseDir[256];
    char m_cachePath[256];
    std::vector<std::unique_ptr<GAIJI_MAP_RECORD>> m_records;
    bool m_allowCombining = false;
    bool m_wroteCache = false;
};

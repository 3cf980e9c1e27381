#include "bookreader/gaiji/CGaijiMap.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/FileHandle.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"

namespace {

constexpr size_t kEntryBytes = 20;
constexpr size_t kRecordHeadBytes = 32 + 6 + 16 + 8;  // name, counts, time, size
constexpr uint32_t kMaxCodePoint = 0x10FFFF;
constexpr size_t kLineMax = 254;

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Hexadecimal digits [p, end) as a value; false for an empty run, another
// character, or a value above max.
bool parseHex(const char* p, const char* end, uint32_t max, uint32_t* value) {
    if (p == end) return false;
    uint64_t v = 0;
    for (; p < end; ++p) {
        unsigned char c = lower(static_cast<unsigned char>(*p));
        unsigned d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = v * 16 + d;
        if (v > max) return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

void putLe64(uint8_t* p, uint64_t v) {
    byteorder::putLe32(p, static_cast<uint32_t>(v));
    byteorder::putLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t le64(const uint8_t* p) {
    return byteorder::le32(p) | (static_cast<uint64_t>(byteorder::le32(p + 4)) << 32);
}

bool byCode(const GAIJI_MAP_ENTRY& a, const GAIJI_MAP_ENTRY& b) {
    return a.code < b.code;
}

// Parses one map line into entry and its list kind; false for a line that
// is ignored.
bool parseLine(const char* line, GAIJI_MAP_ENTRY* entry, int* kind) {
    memset(entry, 0, sizeof *entry);
    if (line[0] == '#') return false;
    const char* end = line + strcspn(line, "\r\n");
    const char* p = line;
    const char* field1End = p + strcspn(p, " \t\r\n");
    const size_t length = static_cast<size_t>(field1End - p);
    switch (p[0]) {
        case 'h':
            *kind = GAIJI_MAP_NARROW;
            break;
        case 'z':
            *kind = GAIJI_MAP_WIDE;
            break;
        case 'c':
        case 'g':
            *kind = GAIJI_MAP_THIRD;
            break;
        default:
            return false;
    }
    uint32_t code = 0;
    if ((length != 3 && length != 5) || !parseHex(p + 1, field1End, 0xFFFF, &code)) return false;
    entry->code = static_cast<uint16_t>(code);
    if (field1End >= end) return false;
    p = field1End + 1;
    const char* field2End = p + strcspn(p, "\t\r\n");
    int found = 0;
    if (field2End - p >= 3) {
        if (field2End - p == 4 && lower(p[0]) == 'n' && lower(p[1]) == 'u' && lower(p[2]) == 'l' &&
            lower(p[3]) == 'l') {
            entry->codePoints[0] = 0xFFFF;
            found = 1;
        } else {
            for (const char* t = p; t < field2End && found < 3;) {
                const char* tEnd = std::find(t, field2End, ',');
                uint32_t cp = 0;
                if (lower(static_cast<unsigned char>(*t)) != 'u' || !parseHex(t + 1, tEnd, kMaxCodePoint, &cp) ||
                    cp == 0)
                    break;
                entry->codePoints[found++] = cp;
                t = tEnd < field2End ? tEnd + 1 : tEnd;
            }
        }
    }
    bool hasAlt = false;
    if (field2End < end) {
        const char* alt = field2End + 1;
        const size_t n = std::min<size_t>(strcspn(alt, "\t\r\n"), sizeof entry->alt);
        memcpy(entry->alt, alt, n);
        hasAlt = n > 0;
    }
    return found > 0 || hasAlt;
}

// Reads a whole regular file of at most max bytes.
bool readWholeFile(const char* path, uint64_t max, std::vector<uint8_t>* out) {
    FilePtr f = openFile(path, "rb");
    struct stat st;
    if (!f || fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (static_cast<uint64_t>(st.st_size) > max) return false;
    out->resize(static_cast<size_t>(st.st_size));
    return out->empty() || fread(out->data(), 1, out->size(), f.get()) == out->size();
}

}  // namespace

constexpr char CGaijiMap::kSignature[5];

CGaijiMap::CGaijiMap(const char* baseDir) {
    m_baseDir[0] = 0;
    m_cachePath[0] = 0;
    char cwd[sizeof m_baseDir];
    std::string base = baseDir && baseDir[0] ? baseDir : getcwd(cwd, sizeof cwd) ? cwd : "";
    if (!base.empty() && base.back() != '/') base += '/';
    // A folder whose name does not fit is not cut to another folder's name:
    // the store stays empty.
    if (base.size() >= sizeof m_baseDir) return;
    memcpy(m_baseDir, base.c_str(), base.size() + 1);
    // A base folder too long for the cache's path is still scanned: its maps
    // are then parsed every time, without a cache.
    if (snprintf(m_cachePath, sizeof m_cachePath, "%sGaijiMap.db", m_baseDir) >= static_cast<int>(sizeof m_cachePath))
        m_cachePath[0] = 0;
    bool changed = m_cachePath[0] && !loadCache();
    if (scanMapFolder()) changed = true;
    if (changed && m_cachePath[0]) m_wroteCache = writeCache();
}

CGaijiMap::~CGaijiMap() = default;

bool CGaijiMap::loadCache() {
    std::vector<uint8_t> bytes;
    if (!readWholeFile(m_cachePath, kMaxCacheBytes, &bytes)) {
        // A cache that is there but cannot be read whole is rebuilt.
        struct stat st;
        return stat(m_cachePath, &st) != 0;
    }
    if (bytes.size() < 8 || memcmp(bytes.data(), kSignature, 4) != 0) return false;
    const uint8_t* p = bytes.data() + 8;
    const uint8_t* end = bytes.data() + bytes.size();
    const int32_t count = static_cast<int32_t>(byteorder::le32(bytes.data() + 4));
    if (count < 0 || static_cast<uint64_t>(count) * kRecordHeadBytes > static_cast<uint64_t>(end - p)) return false;
    std::vector<std::unique_ptr<GAIJI_MAP_RECORD>> loaded;
    for (int32_t r = 0; r < count; ++r) {
        if (static_cast<size_t>(end - p) < kRecordHeadBytes) return false;
        std::unique_ptr<GAIJI_MAP_RECORD> rec(new GAIJI_MAP_RECORD());
        memcpy(rec->name, p, sizeof rec->name);
        if (!memchr(rec->name, 0, sizeof rec->name) || rec->name[0] == 0) return false;
        int16_t counts[3];
        for (int k = 0; k < 3; ++k) {
            counts[k] = static_cast<int16_t>(byteorder::le16(p + 32 + 2 * k));
            if (counts[k] < 0) return false;
        }
        rec->seconds = static_cast<int64_t>(le64(p + 38));
        rec->nanoseconds = static_cast<int64_t>(le64(p + 46));
        rec->fileSize = le64(p + 54);
        rec->valid = 1;
        p += kRecordHeadBytes;
        const uint64_t entries = static_cast<uint64_t>(counts[0]) + counts[1] + counts[2];
        if (entries * kEntryBytes > static_cast<uint64_t>(end - p)) return false;
        for (int k = 0; k < 3; ++k) {
            std::vector<GAIJI_MAP_ENTRY>& list = rec->lists[k];
            list.resize(static_cast<size_t>(counts[k]));
            for (GAIJI_MAP_ENTRY& e : list) {
                e.code = byteorder::le16(p);
                for (int c = 0; c < 3; ++c) {
                    e.codePoints[c] = byteorder::le32(p + 4 + 4 * c);
                    if (e.codePoints[c] > kMaxCodePoint) return false;
                }
                memcpy(e.alt, p + 16, sizeof e.alt);
                p += kEntryBytes;
            }
            // Lookups search by halves: the list must be in code order.
            if (!std::is_sorted(list.begin(), list.end(), byCode)) return false;
        }
        loaded.push_back(std::move(rec));
    }
    if (p != end) return false;
    m_records = std::move(loaded);
    return true;
}

bool CGaijiMap::writeCache() const {
    if (!m_cachePath[0]) return false;
    std::vector<uint8_t> bytes(8);
    memcpy(bytes.data(), kSignature, 4);
    int32_t count = 0;
    for (const auto& rec : m_records) {
        if (!rec->valid) continue;
        ++count;
        uint8_t head[kRecordHeadBytes] = {};
        memcpy(head, rec->name, sizeof rec->name);
        for (int k = 0; k < 3; ++k) byteorder::putLe16(head + 32 + 2 * k, static_cast<uint32_t>(rec->lists[k].size()));
        putLe64(head + 38, static_cast<uint64_t>(rec->seconds));
        putLe64(head + 46, static_cast<uint64_t>(rec->nanoseconds));
        putLe64(head + 54, rec->fileSize);
        bytes.insert(bytes.end(), head, head + sizeof head);
        for (const auto& list : rec->lists)
            for (const GAIJI_MAP_ENTRY& e : list) {
                uint8_t b[kEntryBytes] = {};
                byteorder::putLe16(b, e.code);
                for (int c = 0; c < 3; ++c) byteorder::putLe32(b + 4 + 4 * c, e.codePoints[c]);
                memcpy(b + 16, e.alt, sizeof e.alt);
                bytes.insert(bytes.end(), b, b + sizeof b);
            }
    }
    byteorder::putLe32(bytes.data() + 4, static_cast<uint32_t>(count));
    return writeFileAtomically(m_cachePath, reinterpret_cast<const char*>(bytes.data()), bytes.size()) == 0;
}

GAIJI_MAP_RECORD* CGaijiMap::findRecord(const char* name) {
    for (auto& rec : m_records)
        if (rec->valid && strcasecmp(rec->name, name) == 0) return rec.get();
    return nullptr;
}

const GAIJI_MAP_RECORD* CGaijiMap::findMap(const char* name) const {
    if (!name) return nullptr;
    for (const auto& rec : m_records)
        if (rec->valid && strcasecmp(rec->name, name) == 0) return rec.get();
    return nullptr;
}

int CGaijiMap::refreshMapFile(const char* path) {
    if (!path) return 0;
    struct stat st;
    char extension[kPathSize], stem[kPathSize];
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode) || pathExtension(path, extension) < 0 || pathStem(path, stem) < 0)
        return 0;
    if (strcasecmp(extension, "map") != 0) return 0;
    // Names keep their first 31 characters.
    char name[32];
    snprintf(name, sizeof name, "%.31s", stem);
    GAIJI_MAP_RECORD* rec = findRecord(name);
    if (rec && rec->seconds == static_cast<int64_t>(st.st_mtim.tv_sec) &&
        rec->nanoseconds == static_cast<int64_t>(st.st_mtim.tv_nsec) &&
        rec->fileSize == static_cast<uint64_t>(st.st_size))
        return 0;
    // The record stays, marked replaced, until the store goes away.
    if (!parseMapFile(path, name, st.st_mtim.tv_sec, st.st_mtim.tv_nsec, static_cast<uint64_t>(st.st_size))) return 0;
    if (rec) rec->valid = 0;
    return 1;
}

bool CGaijiMap::scanMapFolder() {
    std::string folder = std::string(m_baseDir) + "GAIJI";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::vector<std::string> paths;
    while (struct dirent* e = readdir(dir)) paths.push_back(folder + "/" + e->d_name);
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    bool changed = false;
    for (const std::string& path : paths)
        if (refreshMapFile(path.c_str())) changed = true;
    return changed;
}

bool CGaijiMap::parseMapFile(const char* path, const char* name, int64_t seconds, int64_t nanoseconds, uint64_t size) {
    FilePtr f = openFile(path, "r");
    if (!f) return false;
    std::unique_ptr<GAIJI_MAP_RECORD> rec(new GAIJI_MAP_RECORD());
    snprintf(rec->name, sizeof rec->name, "%s", name);
    rec->valid = 1;
    rec->seconds = seconds;
    rec->nanoseconds = nanoseconds;
    rec->fileSize = size;
    char line[kLineMax + 2];
    while (fgets(line, sizeof line, f.get())) {
        size_t n = strlen(line);
        if (n > 0 && line[n - 1] != '\n') {
            // The rest of a longer line is passed over.
            int c;
            while ((c = fgetc(f.get())) != EOF && c != '\n') {
            }
        }
        GAIJI_MAP_ENTRY entry;
        int kind = 0;
        if (!parseLine(line, &entry, &kind)) continue;
        if (rec->lists[kind].size() < kMaxListEntries) rec->lists[kind].push_back(entry);
    }
    for (auto& list : rec->lists) std::stable_sort(list.begin(), list.end(), byCode);
    m_records.push_back(std::move(rec));
    return true;
}

int CGaijiMap::lookup(const GAIJI_MAP_RECORD* map, int kind, uint32_t code, int32_t* codePoints, char* alt,
                      size_t altSize) const {
    if (codePoints) codePoints[0] = codePoints[1] = codePoints[2] = 0;
    if (alt && altSize) memset(alt, 0, altSize);
    if (!map || kind < 0 || kind > 2) return 0;
    const std::vector<GAIJI_MAP_ENTRY>& list = map->lists[kind];
    GAIJI_MAP_ENTRY key = {};
    key.code = static_cast<uint16_t>(code);
    auto it = std::lower_bound(list.begin(), list.end(), key, byCode);
    if (code > 0xFFFF || it == list.end() || it->code != code) return 0;
    int n = 0;
    while (n < 3 && it->codePoints[n] != 0) ++n;
    if (!m_allowCombining)
        for (int i = 0; i < n; ++i)
            if (it->codePoints[i] >= 0x300 && it->codePoints[i] <= 0x36F) return 0;
    if (codePoints)
        for (int i = 0; i < n; ++i) codePoints[i] = static_cast<int32_t>(it->codePoints[i]);
    if (alt) memcpy(alt, it->alt, std::min(altSize, sizeof it->alt));
    return n;
}

int CGaijiMap::reverseLookup(const GAIJI_MAP_RECORD* map, uint32_t codePoint, char* out, size_t size) const {
    if (out && size) out[0] = 0;
    if (!map) return 0;
    for (int kind : {GAIJI_MAP_NARROW, GAIJI_MAP_WIDE})
        for (const GAIJI_MAP_ENTRY& e : map->lists[kind]) {
            if (e.codePoints[0] != codePoint) continue;
            size_t n = strnlen(e.alt, sizeof e.alt);
            if (!out || size == 0) return 0;
            if (n > size - 1) n = size - 1;
            memcpy(out, e.alt, n);
            out[n] = 0;
            return static_cast<int>(n);
        }
    return 0;
}

int CGaijiMap::dumpText(const char* path) const {
    FilePtr f = openFile(path, "w");
    if (!f) return -1;
    int valid = 0;
    for (const auto& rec : m_records) valid += rec->valid ? 1 : 0;
    fprintf(f.get(), "GAIJIVERSTR=%s\n", kSignature);
    fprintf(f.get(), "nMap=%d\n", valid);
    static const char* const kForms[3] = {"&h%04X;", "&z%04X;", "&c%04X;"};
    for (size_t i = 0; i < m_records.size(); ++i) {
        const GAIJI_MAP_RECORD& rec = *m_records[i];
        if (!rec.valid) continue;
        fprintf(f.get(), "[#%d]\ndir=%s\nnHan=%d\nnZen=%d\nnChi=%d\ncreate_time=%lld\n", static_cast<int>(i), rec.name,
                static_cast<int>(rec.lists[0].size()), static_cast<int>(rec.lists[1].size()),
                static_cast<int>(rec.lists[2].size()), static_cast<long long>(rec.seconds));
        for (int k = 0; k < 3; ++k)
            for (size_t e = 0; e < rec.lists[k].size(); ++e) {
                const GAIJI_MAP_ENTRY& entry = rec.lists[k][e];
                fprintf(f.get(), "(%03d): ", static_cast<int>(e));
                fprintf(f.get(), kForms[k], entry.code);
                fputs(" -> ", f.get());
                for (int c = 0; c < 3 && entry.codePoints[c]; ++c) fprintf(f.get(), "u%05X;", entry.codePoints[c]);
                fputc('\n', f.get());
            }
    }
    return fclose(f.release()) == 0 ? 0 : -1;
}

// Reader of gaiji map files.
#include "builder/gaiji/CGaijiMapFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "builder/CParseTag0.h"
#include "builder/gaiji/gaijitext.h"

using gaijitext::isControl;
using gaijitext::readWholeFile;
using gaijitext::startsWithNoCase;
using gaijitext::ValueText;

namespace {

// Context code pushed while a map entry is open.
const int kInGaijiMap = 21;

unsigned long parseUnsigned(const char* text, int base) {
    errno = 0;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, base);
    if (end == text || errno != 0 || v > 0xFFFFFFFFUL) return 0;
    return v;
}

}  // namespace

int CGaijiMapFile::read(const char* path, Sink& sink) {
    std::vector<char> data;
    if (readWholeFile(path, &data, "gaiji map file too large(parseGaijiMap)") != 0) return -1;

    std::unique_ptr<CParseTag0> tok(new CParseTag0());
    tok->reset();
    tok->push(CParseTag0::kEmptyStackCode);
    const size_t size = data.size();
    size_t pos = 0;
    // The entry at count has been filled by a start tag and not yet committed.
    // Only such an entry is committed: an end tag left over from a start tag
    // that a later one overwrote adds nothing (the slot after the table may
    // lie beyond the array).
    bool entryOpen = false;
    while (pos < size) {
        while (pos < size && isControl(static_cast<unsigned char>(data[pos]))) ++pos;
        if (pos >= size) break;
        TAG_ITEM tag;
        int used = tok->parseTag(data.data() + pos, &tag, static_cast<int>(size - pos));
        if (used <= 0) break;
        if (tag.code == TAG_GAIJIMAP) {
            GAIJI_ITEM& e = sink.beginEntry();
            tok->push(kInGaijiMap);
            entryOpen = true;
            for (const TAG_ATTR_ITEM& a : tag.attr) {
                if (a.name == nullptr) break;
                if (a.value == nullptr || a.valueLen <= 0) continue;
                ValueText v(a.value, a.valueLen);
                if (startsWithNoCase(a.name, a.nameLen, "mojikyo", 7)) {
                    e.mojikyo = static_cast<int32_t>(std::strtol(v.text, nullptr, 10));
                } else if (startsWithNoCase(a.name, a.nameLen, "unicode", 7)) {
                    if (v.text[0] == '#' && (v.text[1] == 'x' || v.text[1] == 'X'))
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text + 2, 16));
                    else if (v.text[0] == '#')
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text + 1, 10));
                    else
                        e.unicode = static_cast<uint32_t>(parseUnsigned(v.text, 16));
                } else if (startsWithNoCase(a.name, a.nameLen, "ebcode", 6)) {
                    unsigned code = 0;
                    if (std::sscanf(v.text, "%4x", &code) == 1) e.ebCode = code;
                } else if (startsWithNoCase(a.name, a.nameLen, "name", 4)) {
                    e.name = sink.keepText(a.value, a.valueLen);
                } else if (startsWithNoCase(a.name, a.nameLen, "alt", 3)) {
                    e.alt = sink.keepText(a.value, a.valueLen);
                }
            }
            if (tag.isEndTag) {
                tok->pop();
                sink.commitEntry();
                entryOpen = false;
            }
        } else if (tag.code == TAG_GAIJIMAP_END) {
            if (tok->pop() != kInGaijiMap)
                throw std::runtime_error("<GAIJIMAP></GAIJIMAP> Miss Match!!(parseGaijiMap)");
            if (entryOpen) sink.commitEntry();
            entryOpen = false;
        }
        pos += static_cast<size_t>(used);
    }
    return 0;
}

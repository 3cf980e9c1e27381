#include "bookreader/search/CBookSearch.h"

#include <cstring>
#include <string>
#include <vector>

#include "bookreader/backends/CMDictBackend.h"
#include "bookreader/backends/CStarDictBackend.h"
#include "bookreader/backends/CUserDictBackend.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CEBFTS.h"
#include "bookreader/fts/FtsTextWalker.h"
#include "bookreader/search/SearchKeys.h"
#include "bookreader/search/Stemmer.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

// Index levels a descent goes through at most; real books have three or four.
constexpr int kMaxDescentDepth = 32;

// Leaf entry layouts by index id; 0 for ids without a fixed layout.
int styleOfId(uint32_t id) {
    switch (id) {
        case 0x30:
        case 0x40:
        case 0x50:
        case 0x60:
            return 1;
        case 0x61:
        case 0x70:
        case 0x71:
        case 0x72:
        case 0x90:
        case 0x91:
        case 0x92:
            return 2;
        case 0x80:
        case 0x81:
            return 3;
        case 0xA0:
        case 0xA1:
            return 4;
        default:
            return 0;
    }
}

bool isKanaId(uint32_t id) {
    return id == 0x30 || id == 0x70 || id == 0x90;
}

bool isEndwordId(uint32_t id) {
    return id == 0x70 || id == 0x71 || id == 0x72;
}

// Leaf pages: bit 0x80 with the low bits clear (0x80, 0x90, ... 0xF0).
bool isLeafType(unsigned type) {
    return (type & 0x80) != 0 && (type & 0x0F) == 0;
}

bool insideIndex(const READER_INDEX_INFO& index, uint32_t block) {
    return index.count > 0 && block >= index.start && block - index.start < index.count;
}

// Reads fields of one index page without leaving its 2048 bytes.
class PageReader {
public:
    PageReader(const uint8_t* page, size_t size) : m_p(page), m_end(page + size) {}
    bool ok() const { return m_ok; }
    unsigned u8() { return need(1) ? *m_p++ : 0; }
    unsigned u16() {
        if (!need(2)) return 0;
        unsigned v = byteorder::be16(m_p);
        m_p += 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = byteorder::be32(m_p);
        m_p += 4;
        return v;
    }
    const uint8_t* bytes(size_t n) {
        if (!need(n)) return nullptr;
        const uint8_t* at = m_p;
        m_p += n;
        return at;
    }
    void skip(size_t n) { bytes(n); }

private:
    bool need(size_t n) {
        if (!m_ok || static_cast<size_t>(m_end - m_p) < n) {
            m_ok = false;
            return false;
        }
        return true;
    }
    const uint8_t* m_p;
    const uint8_t* m_end;
    bool m_ok = true;
};

// How the text scan passes over the parameters of escapes of no fixed
// length (their forms as the full-text index walks them).
enum class EscapeSkip {
    None,
    While1E,          // words whose high byte is 0x1E; the first other is a code
    OneUnlessEscape,  // one word, unless it is itself an escape
    Through1F1D,      // words up to and including 0x1F1D
    BytesThrough1F,   // bytes up to and including a 0x1F, and one more
};

// Bytes of parameters after escape 0x1F<low>; sets *skip for the escapes
// whose parameters end at a mark.
int escapeParameterBytes(unsigned low, bool eb, EscapeSkip* skip) {
    switch (low) {
        case 0x14:
        case 0x67:
            *skip = EscapeSkip::While1E;
            return 0;
        case 0x15:
            *skip = EscapeSkip::OneUnlessEscape;
            return 0;
        case 0x1C:
            if (!eb) return 2;
            *skip = EscapeSkip::Through1F1D;
            return 0;
        case 0x1D:
            return eb ? 0 : 2;
        case 0x35:
            *skip = EscapeSkip::BytesThrough1F;
            return 4;
        default:
            return ftswalk::fixedSkip(low);
    }
}

// One step inside the parameters of an escape of no fixed length, at the
// word `code` whose first byte is `first`: the bytes passed over (0 when
// the word ends the parameters and is itself a code to look at).
int skipInEscape(unsigned code, uint8_t first, EscapeSkip* skip) {
    switch (*skip) {
        case EscapeSkip::While1E:
            if ((code >> 8) == 0x1E) return 2;
            break;
        case EscapeSkip::OneUnlessEscape:
            *skip = EscapeSkip::None;
            return (code >> 8) == 0x1F ? 0 : 2;
        case EscapeSkip::Through1F1D:
            if (code == 0x1F1D) break;
            return 2;
        case EscapeSkip::BytesThrough1F:
            if (first != 0x1F) return 1;
            *skip = EscapeSkip::None;
            return 2;
        case EscapeSkip::None:
            return 0;
    }
    const bool consumed = *skip == EscapeSkip::Through1F1D;
    *skip = EscapeSkip::None;
    return consumed ? 2 : 0;
}

struct Position {
    uint32_t block = 0;
    uint32_t offset = 0;
};

// A position of a leaf entry: an offset of 2048 is offset 0 of the next
// block; one above 2048 is damaged and ends the scan.
Position readPosition(PageReader& page, bool* beyond) {
    Position p;
    p.block = page.u32();
    p.offset = page.u16();
    if (p.offset == 2048) {
        ++p.block;
        p.offset = 0;
    } else if (p.offset > 2048) {
        *beyond = true;
    }
    return p;
}

struct Key {
    const uint8_t* bytes = nullptr;
    int length = 0;
};

// Key of an entry: the page's fixed length or the entry's own length byte.
Key readKey(PageReader& page, unsigned fixedLength) {
    Key k;
    k.length = static_cast<int>(fixedLength ? fixedLength : page.u8());
    k.bytes = page.bytes(static_cast<size_t>(k.length));
    return k;
}

// Entries of a page without group layout: each a key (of the page's fixed
// length, or of the length in its first byte) followed by tailSize bytes.
// Entries run from offset 4; an entry needs at least 5 bytes.
constexpr unsigned kMaxPageEntries = 2044 / 5 + 1;
struct PageEntries {
    const uint8_t* key[kMaxPageEntries];
    uint8_t length[kMaxPageEntries];
    unsigned count = 0;
    bool complete = false;  // all entries of the page's count lie inside it

    PageEntries(const uint8_t* page, size_t pageSize, unsigned fixedLength, unsigned entries, unsigned tailSize) {
        const uint8_t* p = page + 4;
        const uint8_t* end = page + pageSize;
        while (count < entries && count < kMaxPageEntries) {
            unsigned length = fixedLength;
            if (!fixedLength) {
                if (p >= end) return;
                length = *p++;
            }
            if (static_cast<size_t>(end - p) < length + tailSize) return;
            key[count] = p;
            this->length[count] = static_cast<uint8_t>(length);
            ++count;
            p += length + tailSize;
        }
        complete = count == entries;
    }
    const uint8_t* tail(unsigned i) const { return key[i] + length[i]; }
    // The first entry that is not below the query by below(entry); the keys
    // are sorted, so all before it are below.
    template <typename Below>
    unsigned firstNotBelow(Below below) const {
        unsigned lo = 0, hi = count;
        while (lo < hi) {
            const unsigned mid = lo + (hi - lo) / 2;
            if (below(mid))
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
};

bool isBlank(const unsigned char* p) {
    return *p == ' ' || (p[0] == 0x81 && p[1] == 0x40);
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

// One form of the query as the index holds it.
struct CBookSearch::KeyForm {
    uint8_t bytes[kSearchKeyBufferSize];
    int length = 0;
    bool present = false;
    int compare(const Key& entry, int exact) const {
        return CBookSearch::compareKey(bytes, length, entry.bytes, entry.length, exact, 0);
    }
    bool matches(const Key& entry, int exact) const { return present && compare(entry, exact) == 0; }
};

struct CBookSearch::KeyForms {
    KeyForm a, b, c;
    // Kana indexes: group members keep their marks as written, so a member
    // is also compared with the query in the members' form with its marks;
    // absent when that is B.
    KeyForm m;
};

// --- capability tests -------------------------------------------------------

const READER_INDEX_INFO* CBookSearch::index(uint32_t id) const {
    return m_reader.findIndex(id);
}

bool CBookSearch::isSearchableKind() const {
    return m_reader.isOpen() && (m_reader.kind() == BOOK_KIND_EB || m_reader.kind() == BOOK_KIND_EPWING);
}

bool CBookSearch::hasWordSearch(const CEBReader& reader) {
    const int kind = reader.kind();
    if (kind == BOOK_KIND_PDIC || kind == BOOK_KIND_USER_DICT || kind == BOOK_KIND_STARDICT || kind == BOOK_KIND_MDICT)
        return true;
    for (uint32_t id : {0x90u, 0x91u, 0x92u, 0x40u, 0x61u, 0x50u, 0x60u})
        if (reader.findIndex(id)) return true;
    return false;
}

namespace {

// Index mask bits of a user dictionary that name its searches.
constexpr int64_t kUserDictEndword = 0x04, kUserDictCross = 0x10, kUserDictKeyword = 0x20, kUserDictMulti = 0x40,
                  kUserDictMenu = 0x80;

// The open user dictionary's index mask has the bit; false for other kinds
// and when no user dictionary is open.
bool userDictionaryHas(const CEBReader& reader, int64_t bit) {
    CUserDictBackend* backend = reader.userDict();
    CSQLIO* db = backend ? backend->userDictionary() : nullptr;
    return db && db->isOpen() && (db->getBookInfo()->indexmask & bit) != 0;
}

}  // namespace

bool CBookSearch::hasKeywordSearch(const CEBReader& reader) {
    if (reader.kind() == BOOK_KIND_USER_DICT) return userDictionaryHas(reader, kUserDictKeyword);
    return isBlockKind(reader.kind()) && reader.findIndex(0x80);
}

bool CBookSearch::hasCrossSearch(const CEBReader& reader) {
    if (reader.kind() == BOOK_KIND_USER_DICT) return userDictionaryHas(reader, kUserDictCross);
    return isBlockKind(reader.kind()) && reader.findIndex(0x81);
}

bool CBookSearch::hasEndwordSearch(const CEBReader& reader) {
    if (reader.kind() == BOOK_KIND_USER_DICT) return userDictionaryHas(reader, kUserDictEndword);
    return isBlockKind(reader.kind()) && (reader.findIndex(0x70) || reader.findIndex(0x71) || reader.findIndex(0x72));
}

bool CBookSearch::hasMultiSearch(const CEBReader& reader) {
    if (reader.kind() == BOOK_KIND_USER_DICT) return userDictionaryHas(reader, kUserDictMulti);
    return isBlockKind(reader.kind()) && reader.findIndex(0xFF);
}

bool CBookSearch::hasMenu(const CEBReader& reader) {
    if (reader.kind() == BOOK_KIND_USER_DICT) return userDictionaryHas(reader, kUserDictMenu);
    return isBlockKind(reader.kind()) && (reader.findIndex(0x01) || reader.findIndex(0x20));
}

bool CBookSearch::hasGraphicIndex(const CEBReader& reader) {
    if (!isBlockKind(reader.kind())) return false;
    for (uint32_t id : {0x10u, 0x11u, 0xEEu, 0x0Eu, 0x0Fu})
        if (reader.findIndex(id)) return true;
    return false;
}

bool CBookSearch::hasCopyright(const CEBReader& reader) {
    // A StarDict's copyright page is its information; an MDict's is the
    // Description of its header.
    if (CStarDictBackend* starDict = reader.starDict()) return starDict->starDictReader() != nullptr;
    if (CMDictBackend* mdict = reader.mdict()) {
        const char* description = mdict->description();
        return description && description[0];
    }
    if (!isBlockKind(reader.kind())) return false;
    return reader.findIndex(0x02) || (reader.kind() == BOOK_KIND_EPWING && reader.findIndex(0x21));
}

bool CBookSearch::hasFullText(const CEBReader& reader) {
    if (!isBlockKind(reader.kind()) || !reader.findIndex(0x00)) return false;
    char dir[kPathSize];
    if (pathDirName(reader.path(), dir) < 0) return false;
    // Both files existing is not enough: a complete index only.
    return CEBFTS::isComplete(*dir ? dir : ".");
}

// --- key forms ----------------------------------------------------------------

int CBookSearch::queryKey(const READER_INDEX_INFO& idx, const char* query, char* out, bool multi) const {
    if (m_reader.isLatin1()) return upperCaseKey(out, query, kSearchKeyMax);
    const uint8_t noFolding[3] = {0xFF, 0xFF, 0xC0};
    return normalizeQueryKey(out, query, static_cast<int>(std::strlen(query)), multi ? noFolding : idx.style,
                             kSearchKeyMax, multi ? 0 : 1);
}

void CBookSearch::makeForm(const READER_INDEX_INFO& idx, const char* key, int length, uint32_t style, bool reverse,
                           KeyForm* form) const {
    char folded[kSearchKeyBufferSize];
    const bool latin1 = m_reader.isLatin1();
    if (latin1) {
        upperCaseKey(folded, key, length < kSearchKeyMax ? length : kSearchKeyMax);
    } else {
        normalizeKey(folded, sizeof folded, key, length, style);
    }
    finishForm(idx, folded, reverse, form);
}

void CBookSearch::finishForm(const READER_INDEX_INFO& idx, const char* folded, bool reverse, KeyForm* form) const {
    const bool latin1 = m_reader.isLatin1();
    const char* text = folded;
    char reversed[kSearchKeyBufferSize];
    if (reverse && isEndwordId(idx.id))
        text = reverseKey(reversed, folded, static_cast<int>(std::strlen(folded)), latin1);
    const int n = static_cast<int>(std::strlen(text));
    if (latin1) {
        std::memcpy(form->bytes, text, static_cast<size_t>(n) + 1);
        form->length = n;
    } else {
        form->length = toJisKey(reinterpret_cast<char*>(form->bytes), text, n);
    }
    form->present = true;
}

// --- descent and leaf scan ------------------------------------------------------

const uint8_t* CBookSearch::indexPage(uint32_t block) {
    CIndexPageCache& cache = m_reader.indexPages();
    if (const uint8_t* page = cache.find(block)) return page;
    if (!m_reader.seekBlock(block)) return nullptr;
    size_t available = 0;
    const uint8_t* bytes = m_reader.peek(&available);
    if (available < CIndexPageCache::kPageSize) return nullptr;
    return cache.put(block, bytes);
}

int CBookSearch::compareKey(const uint8_t* key, int keyLength, const uint8_t* entry, int entryLength, int exact,
                            int descent) {
    const int common = keyLength < entryLength ? keyLength : entryLength;
    int i = 0;
    if (common > 0 && std::memcmp(key, entry, static_cast<size_t>(common)) != 0) {
        while (key[i] == entry[i]) ++i;
        return static_cast<int>(key[i]) - static_cast<int>(entry[i]);
    }
    i = common;
    const int keyLeft = keyLength - i, entryLeft = entryLength - i;
    if (!descent && keyLeft > 0) return keyLeft;
    if (!exact) return 0;
    return keyLeft - entryLeft;
}

uint32_t CBookSearch::findLeafBlock(const READER_INDEX_INFO& idx, const char* key) {
    KeyForm form;
    makeForm(idx, key, static_cast<int>(std::strlen(key)), styleValue(idx.style), true, &form);
    return descend(idx, form);
}

uint32_t CBookSearch::descend(const READER_INDEX_INFO& idx, const KeyForm& form) {
    if (form.length == 0) return 0;
    uint32_t block = idx.start;
    // A damaged index may point back up or sideways: every page read counts,
    // and no descent reads more pages than the index holds.
    uint32_t pagesRead = 0;
    int depth = 0;
    for (;;) {
        if (!insideIndex(idx, block) || ++pagesRead > idx.count || depth > kMaxDescentDepth) return 0;
        const uint8_t* bytes = indexPage(block);
        if (!bytes) return 0;
        PageReader page(bytes, CIndexPageCache::kPageSize);
        const unsigned type = page.u8();
        if (type & 0x80) return isLeafType(type) ? block : 0;
        const unsigned fixedLength = page.u8();
        const unsigned count = page.u16();
        const PageEntries entries(bytes, CIndexPageCache::kPageSize, fixedLength, count, 4);
        if (!entries.complete) return 0;
        // The first child whose highest key is not below the key.
        const unsigned i = entries.firstNotBelow([&](unsigned e) {
            return compareKey(form.bytes, form.length, entries.key[e], entries.length[e], 0, 1) > 0;
        });
        const bool found = i < entries.count;
        if (found || (type & 0x20)) {
            if (count == 0) return 0;
            block = byteorder::be32(entries.tail(found ? i : entries.count - 1));
            ++depth;
        } else {
            ++block;  // the next page of the same level
        }
    }
}

void CBookSearch::makeForms(const READER_INDEX_INFO& idx, const char* key, int keyLength, const char* typed,
                            KeyForms* f) const {
    makeForm(idx, key, keyLength, styleValue(idx.style), true, &f->a);
    if (m_reader.isLatin1()) {
        f->b = f->a;
    } else if (isKanaId(idx.id)) {
        makeForm(idx, key, keyLength, kStyleKanaSecond, true, &f->b);
        // The typed query with its marks (the first form of an index that
        // keeps them), in the form of the members' keys.
        const uint8_t keepMarks[3] = {0xFF, 0xFF, 0xC0};  // kStyleNoFolding
        char marked[kSearchKeyBufferSize], member[kSearchKeyBufferSize];
        const int markedLength =
            typed ? normalizeQueryKey(marked, typed, static_cast<int>(std::strlen(typed)), keepMarks, kSearchKeyMax, 1)
                  : keyLength;
        kanaMemberKey(member, sizeof member, typed ? marked : key, markedLength);
        finishForm(idx, member, true, &f->m);
        f->m.present = f->m.length != f->b.length || std::memcmp(f->m.bytes, f->b.bytes, f->b.length) != 0;
        if (m_reader.kind() == BOOK_KIND_EB) {
            // The key as given; end-word indexes hold it reversed, as A and B are.
            const char* text = key;
            char reversed[kSearchKeyBufferSize];
            if (isEndwordId(idx.id)) text = reverseKey(reversed, key, keyLength, false);
            f->c.length = toJisKey(reinterpret_cast<char*>(f->c.bytes), text, static_cast<int>(std::strlen(text)));
            f->c.present = f->c.length > 0;
        }
    } else {
        // The key as given, without folding.
        const char* text = key;
        char reversed[kSearchKeyBufferSize];
        if (isEndwordId(idx.id)) text = reverseKey(reversed, key, keyLength, false);
        f->b.length = toJisKey(reinterpret_cast<char*>(f->b.bytes), text, static_cast<int>(std::strlen(text)));
        f->b.present = true;
    }
}

int CBookSearch::scanLeaves(const READER_INDEX_INFO& idx, uint32_t block, const char* key, int exact, int level,
                            int mode) {
    m_matches = 0;
    const int keyLength = static_cast<int>(std::strlen(key));
    if (keyLength > 255) return m_reader.hitCount();
    KeyForms forms;
    makeForms(idx, key, keyLength, nullptr, &forms);
    return scan(idx, block, forms, exact, level, mode);
}

int CBookSearch::scan(const READER_INDEX_INFO& idx, uint32_t block, const KeyForms& forms, int exact, int level,
                      int mode) {
    m_matches = 0;
    if (!insideIndex(idx, block)) return m_reader.hitCount();
    const KeyForm &a = forms.a, &b = forms.b, &c = forms.c, &marked = forms.m;
    const int style = styleOfId(idx.id);
    const uint32_t last = idx.start + idx.count - 1;
    CHitStore& store = m_reader.hits();
    Position groupHeading;
    std::vector<uint8_t> groupKey;
    auto hit = [&](const Position& text, const Position& heading) {
        if (m_reader.addHit(text.block, static_cast<uint16_t>(text.offset), heading.block,
                            static_cast<uint16_t>(heading.offset), level, mode) < 0)
            return false;
        ++m_matches;
        return true;
    };
    for (; block <= last && !store.cancelled(); ++block) {
        const uint8_t* bytes = indexPage(block);
        if (!bytes) break;
        PageReader page(bytes, CIndexPageCache::kPageSize);
        const unsigned type = page.u8();
        if (!isLeafType(type)) return m_reader.hitCount();
        const unsigned fixedLength = page.u8();
        const unsigned count = page.u16();
        const bool grouped = (type & 0x10) != 0;
        if (grouped && style == 0) return m_reader.hitCount();
        if (!grouped) {
            // Plain entries: from the first that is not below the key on.
            const PageEntries entries(bytes, CIndexPageCache::kPageSize, fixedLength, count, style == 1 ? 6 : 12);
            unsigned e = entries.firstNotBelow([&](unsigned i) {
                return a.compare(Key{entries.key[i], entries.length[i]}, exact) > 0;
            });
            for (; e < entries.count; ++e) {
                const Key k{entries.key[e], entries.length[e]};
                const int cmp = a.compare(k, exact);
                if (cmp < 0) return m_reader.hitCount();
                if (cmp > 0) continue;
                PageReader tail(entries.tail(e),
                                static_cast<size_t>(bytes + CIndexPageCache::kPageSize - entries.tail(e)));
                bool beyond = false;
                const Position text = readPosition(tail, &beyond);
                const Position heading = style == 1 ? text : readPosition(tail, &beyond);
                if (beyond) return m_reader.hitCount();  // a position outside its block names no text
                if (!hit(text, heading)) return m_reader.hitCount();
            }
            if (!entries.complete) return m_reader.hitCount();
            continue;
        }
        bool stop = false;  // no further page: a damaged offset or an unknown entry type
        for (unsigned e = 0; e < count && !stop; ++e) {
            const unsigned entryType = page.u8();
            Key k;
            Position text, heading;
            bool beyond = false;
            bool isHit = false;
            bool end = false;  // the entries have passed the key
            if (entryType == 0x00) {
                k = readKey(page, fixedLength);
                if (!page.ok()) return m_reader.hitCount();
                const int cmp = a.compare(k, exact);
                if (cmp < 0) return m_reader.hitCount();
                if (cmp > 0) {
                    // Entries before the key: only their length matters.
                    page.skip(style == 1 ? 6 : 12);
                    if (!page.ok()) return m_reader.hitCount();
                    continue;
                }
                text = readPosition(page, &beyond);
                heading = style == 1 ? text : readPosition(page, &beyond);
                if (!page.ok()) return m_reader.hitCount();
                isHit = (style <= 2 && m_reader.looseMatch()) || b.matches(k, exact);
            } else if (entryType == 0x80) {
                const int length = static_cast<int>(page.u8());
                page.skip(style <= 2 ? 2 : 4);
                const uint8_t* groupBytes = page.bytes(static_cast<size_t>(length));
                if (style == 3) groupHeading = readPosition(page, &beyond);
                if (!page.ok()) return m_reader.hitCount();
                groupKey.assign(groupBytes, groupBytes + length);
                Key g{groupKey.data(), length};
                if (style == 2 && a.compare(g, exact) < 0) return m_reader.hitCount();
            } else if (entryType == 0xC0) {
                Key g{groupKey.data(), static_cast<int>(groupKey.size())};
                if (style <= 2) {
                    k = readKey(page, 0);
                    text = readPosition(page, &beyond);
                    heading = style == 1 ? text : readPosition(page, &beyond);
                    if (!page.ok()) return m_reader.hitCount();
                    if (m_reader.looseMatch()) {
                        const Key& against = style == 1 ? k : g;
                        const int cmp = a.compare(against, exact);
                        isHit = cmp == 0;
                        end = style == 1 && cmp < 0;
                    } else {
                        const int cmp = b.compare(k, exact);
                        const int cmpMarked = marked.present ? marked.compare(k, exact) : cmp;
                        isHit = cmp == 0 || cmpMarked == 0 || c.matches(k, exact);
                        end = style == 1 && cmp < 0 && cmpMarked < 0 && !isHit;
                    }
                } else {
                    text = readPosition(page, &beyond);
                    heading = style == 4 ? readPosition(page, &beyond) : groupHeading;
                    if (!page.ok()) return m_reader.hitCount();
                    const int cmp = b.compare(g, exact);
                    isHit = cmp == 0;
                    end = cmp < 0;
                    if (style == 3) groupHeading = Position();
                }
            } else {
                stop = true;
                break;
            }
            if (beyond) {
                stop = true;
                isHit = false;  // a position outside its block names no text
            }
            if (isHit && !hit(text, heading)) return m_reader.hitCount();
            if (end) return m_reader.hitCount();
        }
        if (stop) break;
    }
    return m_reader.hitCount();
}

bool CBookSearch::searchIndex(const READER_INDEX_INFO& idx, const char* key, int exact, int level, int mode,
                              const char* typed) {
    m_matches = 0;
    const int keyLength = static_cast<int>(std::strlen(key));
    if (keyLength > 255) return false;
    KeyForms forms;
    makeForms(idx, key, keyLength, typed, &forms);
    const uint32_t leaf = descend(idx, forms.a);
    if (!insideIndex(idx, leaf)) return false;
    scan(idx, leaf, forms, exact, level, mode);
    return true;
}

int CBookSearch::finish(int mode, bool headings) {
    CHitStore& store = m_reader.hits();
    if (mode != HIT_ADD && store.finished()) return m_reader.hitCount();
    if (headings) fillFollowingHeadings();
    m_reader.finishHits(false);
    return m_reader.hitCount();
}

// --- searches ---------------------------------------------------------------------

int CBookSearch::wordSearch(const char* key, int exact, int level, int mode) {
    if (!isSearchableKind() || !key || (!hasWordSearch(m_reader) && !hasKeywordSearch(m_reader))) return 0;
    std::vector<const READER_INDEX_INFO*> order;
    auto take = [&](uint32_t id) {
        if (const READER_INDEX_INFO* i = index(id)) order.push_back(i);
    };
    if (kanaKeyKind(key, static_cast<int>(std::strlen(key))) != 0) {
        if (index(0x90))
            take(0x90);
        else
            take(0x30);
    }
    for (uint32_t id : {0x91u, 0x92u, 0x40u, 0x61u, 0x50u, 0x60u}) take(id);
    if (order.empty()) {
        take(0x81);
        take(0x80);
    }
    // A key no index of the book takes (a kana index only, a key without kana).
    if (order.empty()) return 0;
    const bool alphabetic = isAlphaText(key) != 0;
    const bool latin1 = m_reader.isLatin1();
    int found = 0;  // matches of this search only: earlier hits do not count
    for (int pass = 0;; ++pass) {
        char stemmed[kSearchKeyBufferSize], stemmedY[kSearchKeyBufferSize];
        std::vector<const char*> sources{key};
        if (pass > 0 && alphabetic) {
            stemWords(key, stemmed, sizeof stemmed);
            if (!stemmed[0]) break;
            sources = {stemmed};
            // A stem ending in "i" ("plai" of "plays", "rubi" of
            // "rubies") is tried with the "y" of its entry as well.
            const size_t n = std::strlen(stemmed);
            if (stemmed[n - 1] == 'i') {
                std::memcpy(stemmedY, stemmed, n + 1);
                stemmedY[n - 1] = 'y';
                sources.push_back(stemmedY);
            }
        }
        bool tooShort = false;
        for (const char* source : sources) {
            for (const READER_INDEX_INFO* idx : order) {
                char form[kSearchKeyBufferSize];
                int length = queryKey(*idx, source, form, false);
                if (pass > 0 && !alphabetic) {
                    length -= pass * (latin1 ? 1 : 2);
                    if (length < (latin1 ? 3 : 6)) {
                        tooShort = true;
                        break;
                    }
                    form[length] = 0;
                }
                // A shortened key is no longer the query as typed.
                if (searchIndex(*idx, form, exact, level, mode, pass == 0 ? source : nullptr)) found += m_matches;
                if (found > 0 || m_reader.hits().cancelled()) break;
            }
            if (tooShort || found > 0 || m_reader.hits().cancelled()) break;
        }
        if (tooShort || found > 0 || !m_reader.wordRetry() || exact || m_reader.hits().cancelled()) break;
        if (alphabetic && pass >= 1) break;
    }
    return finish(mode, false);
}

int CBookSearch::endwordSearch(const char* key, int level, int mode) {
    if (!isSearchableKind() || !key || !hasEndwordSearch(m_reader)) return 0;
    std::vector<const READER_INDEX_INFO*> order;
    if (kanaKeyKind(key, static_cast<int>(std::strlen(key))) != 0 && index(0x70)) order.push_back(index(0x70));
    for (uint32_t id : {0x71u, 0x72u})
        if (index(id)) order.push_back(index(id));
    if (order.empty()) return 0;
    for (const READER_INDEX_INFO* idx : order) {
        if (m_reader.hits().cancelled()) break;
        char form[kSearchKeyBufferSize];
        queryKey(*idx, key, form, false);
        searchIndex(*idx, form, 0, level, mode, key);
    }
    return finish(mode, false);
}

int CBookSearch::wordOf(const char* word, int level, int mode, bool cross) {
    if (!isSearchableKind() || !word) return 0;
    const READER_INDEX_INFO* idx = index(cross ? 0x81 : 0x80);
    if (!idx) return 0;
    return searchOneIndex(*idx, word, false, level, mode, true);
}

int CBookSearch::searchOneIndex(const READER_INDEX_INFO& idx, const char* key, bool multi, int level, int mode,
                                bool headings) {
    char form[kSearchKeyBufferSize];
    queryKey(idx, key, form, multi);
    if (!searchIndex(idx, form, 0, level, mode)) return m_reader.hitCount();
    return finish(mode, headings);
}

int CBookSearch::keywordSearchWord(const char* word, int level, int mode) {
    return wordOf(word, level, mode, false);
}

int CBookSearch::crossSearchWord(const char* word, int level, int mode) {
    return wordOf(word, level, mode, true);
}

int CBookSearch::keywordSearch(const char* query, int* level, int mode) {
    return splitSearch(query, level, mode, false);
}

int CBookSearch::crossSearch(const char* query, int* level, int mode) {
    return splitSearch(query, level, mode, true);
}

int CBookSearch::splitSearch(const char* query, int* level, int mode, bool cross) {
    if (!isSearchableKind() || !query || !query[0] || !level) return 0;
    char work[kSearchKeyBufferSize];
    const size_t length = std::strlen(query);
    if (length >= 3 && query[0] == '"' && query[length - 1] == '"') {
        const size_t inner = length - 2 < kSearchKeyMax ? length - 2 : kSearchKeyMax;
        std::memcpy(work, query + 1, inner);
        work[inner] = 0;
        return wordOf(work, 0, mode, cross);
    }
    const size_t n = length < kSearchKeyMax ? length : kSearchKeyMax;
    std::memcpy(work, query, n);
    work[n] = 0;
    unsigned char* p = reinterpret_cast<unsigned char*>(work);
    unsigned char* end = p + n;
    int result = 0;
    int searched = 0;
    while (p < end) {
        while (p < end && isBlank(p)) {
            const int blank = *p == ' ' ? 1 : 2;
            std::memset(p, 0, static_cast<size_t>(blank));
            p += blank;
        }
        if (p >= end) break;
        unsigned char* word = p;
        while (p < end && !isBlank(p)) p += sjisCharLength(p, static_cast<int>(end - p));
        if (p < end) {
            const int blank = *p == ' ' ? 1 : 2;
            std::memset(p, 0, static_cast<size_t>(blank));
            p += blank;
        }
        if (m_reader.stripPunctuation()) {
            size_t wl = std::strlen(reinterpret_cast<char*>(word));
            while (wl > 0 && std::strchr(".,;:!?", word[wl - 1])) word[--wl] = 0;
        }
        // Words that became empty are not searched and not counted.
        if (!word[0]) continue;
        result = wordOf(reinterpret_cast<char*>(word), *level, searched == 0 ? mode : HIT_RAISE, cross);
        ++searched;
        ++*level;
    }
    if (searched > 0 && *level >= 1) --*level;
    return result;
}

int CBookSearch::multiSearch(const READER_INDEX_INFO* idx, const char* key, int level) {
    if (!isSearchableKind() || !idx || !key) return 0;
    return searchOneIndex(*idx, key, true, level, level != 0 ? HIT_RAISE : HIT_ADD, false);
}

void CBookSearch::fillFollowingHeadings() {
    CHitStore& store = m_reader.hits();
    Position last;
    std::vector<char> buffer(2049);
    for (int i = 0; i < store.storedCount(); ++i) {
        HIT_ITEM* h = store.storedAt(i);
        uint32_t n = 0;
        if (h->headingBlock == 0 && h->headingOffset == 0) {
            h->headingBlock = last.block;
            h->headingOffset = static_cast<uint16_t>(last.offset);
            if (last.block == 0) continue;
        } else if (!m_reader.seekBlock(h->headingBlock) ||
                   (h->headingOffset > 0 && !m_reader.setOffset(h->headingOffset))) {
            continue;
        }
        m_reader.readHeading(buffer.data(), 2048, &n);
        const uint64_t end = m_reader.lastDecodeEnd();
        last.block = static_cast<uint32_t>(end >> 32);
        last.offset = static_cast<uint32_t>(end & 0xFFFF);
    }
}

// --- text scan ----------------------------------------------------------------------

int CBookSearch::textScanSearch(const char* key, SearchProgress progress, void* user, int level) {
    if (!isSearchableKind() || !key) return 0;
    const READER_INDEX_INFO* body = index(0x00);
    if (!body || body->count == 0) return 0;
    const bool latin1 = m_reader.isLatin1();
    // The key as the units the text is compared in: bytes (ISO 8859-1) or
    // 16-bit codes (JIS).
    std::vector<unsigned> units;
    const size_t length = std::strlen(key);
    bool hex = key[0] == '#' && (length & 1) == 1 && length > 1;
    for (size_t i = 1; hex && i < length; ++i) hex = isHexDigit(key[i]);
    std::vector<uint8_t> bytes;
    if (hex) {
        for (size_t i = 1; i + 1 < length; i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(key + i, 2), nullptr, 16)));
    } else if (latin1) {
        bytes.assign(key, key + (length < 255 ? length : 255));
    } else {
        char typed[kSearchKeyBufferSize], jis[kSearchKeyBufferSize];
        const uint8_t noFolding[3] = {0xFF, 0xFF, 0xC0};
        const int n = normalizeQueryKey(typed, key, static_cast<int>(length), noFolding, kSearchKeyMax, 0);
        const int j = toJisKey(jis, typed, n);
        bytes.assign(jis, jis + j);
    }
    auto upper = [](unsigned c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; };
    if (latin1) {
        for (uint8_t b : bytes) units.push_back(upper(b));
    } else {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) units.push_back(byteorder::be16(&bytes[i]));
    }
    if (units.empty()) return m_reader.hitCount();
    // Failure links, so that overlapping matches are found ("AAB" in "AAAB").
    std::vector<size_t> fail(units.size() + 1, 0);
    for (size_t i = 1, k = 0; i < units.size(); ++i) {
        while (k > 0 && units[i] != units[k]) k = fail[k];
        if (units[i] == units[k]) ++k;
        fail[i + 1] = k;
    }

    const int mode = level != 0 ? HIT_RAISE : HIT_ADD;
    const uint16_t markCode = m_reader.pageBreakCode(), markParameter = m_reader.pageBreakParameter();
    const bool eb = m_reader.kind() == BOOK_KIND_EB;
    const uint32_t blocks = body->count;
    Position heading{body->start, 0};
    size_t matched = 0;
    unsigned previous = 0;  // the last character compared (a line break as a space)
    bool refused = false;
    // All hits of one entry carry its heading: an occurrence in the entry of
    // the previous hit adds none, so that limits count entries.
    bool hitBefore = false;
    Position lastHit;
    auto match = [&](unsigned u, bool ignorable) {
        for (;;) {
            if (u == units[matched]) {
                if (++matched == units.size()) {
                    matched = fail[matched];
                    if (!hitBefore || lastHit.block != heading.block || lastHit.offset != heading.offset) {
                        hitBefore = true;
                        lastHit = heading;
                        if (m_reader.addHit(heading.block, static_cast<uint16_t>(heading.offset), heading.block,
                                            static_cast<uint16_t>(heading.offset), level, mode) < 0)
                            refused = true;
                    }
                }
                return;
            }
            if (matched == 0 || ignorable) return;
            matched = fail[matched];
        }
    };
    EscapeSkip skip = EscapeSkip::None;
    // Each block with the first bytes of the next behind it, so that heading
    // marks and codes across a block end are seen whole.
    std::vector<uint8_t> current(kBlockSize + 4, 0), next(kBlockSize + 4, 0);
    auto load = [&](uint32_t block, std::vector<uint8_t>& into) {
        if (!m_reader.seekBlock(block)) return false;
        size_t available = 0;
        const uint8_t* data = m_reader.peek(&available);
        std::memset(into.data(), 0, into.size());
        std::memcpy(into.data(), data, available < kBlockSize ? available : kBlockSize);
        return true;
    };
    uint32_t done = 0;
    int i = 0;  // the next code's offset; past the block, in the next one
    if (load(body->start, current)) {
        for (; done < blocks && !refused; ++done) {
            const uint32_t block = body->start + done;
            if (progress) progress(user, m_reader.hitCount(), static_cast<int>(blocks), static_cast<int>(done));
            if (m_reader.hits().cancelled()) break;
            const bool haveNext = done + 1 < blocks && load(block + 1, next);
            if (haveNext) std::memcpy(current.data() + kBlockSize, next.data(), 4);
            const uint8_t* p = current.data();
            for (; i < kBlockSize && !refused;) {
                if (latin1) {
                    if (markCode != 0
                            ? byteorder::be16(p + i) == markCode && byteorder::be16(p + i + 2) == markParameter
                            : p[i] == 0x1F && (p[i + 1] == 0x41 || p[i + 1] == 0x02))
                        heading = {block, static_cast<uint32_t>(i)};
                    match(upper(p[i]), false);
                    ++i;
                    continue;
                }
                const unsigned code = byteorder::be16(p + i);
                if (skip != EscapeSkip::None) {
                    i += skipInEscape(code, p[i], &skip);
                    continue;
                }
                if (markCode != 0) {
                    if (code == markCode && byteorder::be16(p + i + 2) == markParameter)
                        heading = {block, static_cast<uint32_t>(i)};
                } else if (code == 0x1F41 || code == 0x1F02) {
                    heading = {block, static_cast<uint32_t>(i)};
                }
                if (p[i] == 0x1F && code != 0x1F0A) {
                    // An escape and its parameters neither match nor break a match.
                    i += 2 + escapeParameterBytes(code & 0xFF, eb, &skip);
                    continue;
                }
                // A line break is a space; lower-case letters count as capitals.
                unsigned u = code == 0x1F0A ? 0x2121 : code;
                if (u >= 0x2361 && u <= 0x237A) u -= 0x20;
                // The second of a run of spaces does not break a match.
                const bool spaceRun = u == 0x2121 && previous == 0x2121;
                previous = u;
                match(u, spaceRun);
                i += 2;
            }
            i -= kBlockSize;
            if (!haveNext) {
                ++done;
                break;
            }
            current.swap(next);
        }
    }
    if (progress) progress(user, m_reader.hitCount(), static_cast<int>(blocks), static_cast<int>(done));
    if (mode != HIT_ADD && m_reader.hits().finished()) return m_reader.hitCount();
    m_reader.finishHits(false);
    return m_reader.hitCount();
}

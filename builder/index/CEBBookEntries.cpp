// Index entry collection of CEBBook (headwords, keywords, cross words and
// kana readings registered by the source readers) and the search indexes:
// the select, heading and B-tree passes of every index.
#include <strings.h>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/index/CIndexWriter.h"
#include "builder/sources/sourcetext.h"
#include "foundation/book/BookConstants.h"
#include "foundation/codes/jclib.h"

namespace {

const int kKeyMax = 128;  // bytes of an index key
const int kLen8 = 255;    // largest value of an 8-bit length field
const int kKanaRecentWindow = 10;

uint64_t posValue(const BLOCK_POS& pos) {
    return CEBBook::positionValue(pos);
}

bool isLead(unsigned char b) {
    return jclib::isSjisLead(b);
}

// Bytes of a character at p (len bytes left).
int charLen(const unsigned char* p, int len) {
    return (len >= 2 && isLead(p[0])) ? 2 : 1;
}

unsigned code2(const unsigned char* p) {
    return (static_cast<unsigned>(p[0]) << 8) | p[1];
}

// A length that fits an 8-bit field without splitting a character or a
// reference.
int fit8(const char* text, int len) {
    if (len <= kLen8) return len < 0 ? 0 : len;
    return CIndexWriter::headingCut(text, len, kLen8);
}

bool isWordByte(unsigned char b, const char* delChars) {
    if (std::isalnum(b) || b == '#' || b == '&' || b == ';') return true;
    return b >= 0x20 && b < 0x80 && delChars != nullptr && delChars[0] != 0 && std::strchr(delChars, b) != nullptr;
}

// A symbol of the first row of the character set (blanks, punctuation,
// marks): readers take a word of kana and these symbols for a kana word.
bool isFirstRowSymbol(unsigned c) {
    return c >= 0x8140 && c <= 0x81FC && c != 0x817F;
}

// The marks that every index's readers drop (kana indexes always).
bool isDroppedMark(unsigned c) {
    return c == 0x8166 || c == 0x817C || c == 0x8145 || c == 0x815D;
}

// True when key (keyLen bytes) in hiragana and without its dropped marks is
// the folded key.
bool onlyMarksDiffer(const char* key, int keyLen, const char* folded, int foldedLen) {
    const unsigned char* k = reinterpret_cast<const unsigned char*>(key);
    const unsigned char* f = reinterpret_cast<const unsigned char*>(folded);
    int j = 0;
    for (int i = 0; i + 1 < keyLen; i += 2) {
        const unsigned c = code2(k + i);
        if (isDroppedMark(c)) continue;
        if (j + 1 >= foldedLen || jclib::katakanaToHiragana(c) != code2(f + j)) return false;
        j += 2;
    }
    return j == foldedLen;
}

// Character class of the character at p (len bytes left), never looking
// past the text: a lead byte at its very end is taken alone.
int charClass(const unsigned char* p, int len) {
    if (len >= 2) return sjisCharClass(p);
    const unsigned char one[2] = {p[0], 0};
    return sjisCharClass(one);
}

// Class 14 (katakana) or 16 (kanji) character: the runs that become
// automatic keywords.
bool isRunClass(const unsigned char* p, int len) {
    int c = charClass(p, len);
    return c == 14 || c == 16;
}

// The index item of an entry (a SEARCH_KEY_ENTRY or a KANA_ENTRY) under a
// key: its heading, body position, heading-cut flag and, for a stable sort,
// its order among the entries.
template <class Entry>
INDEX_ITEM entryItem(const Entry& e, const char* key, int keyLen, size_t order) {
    INDEX_ITEM it;
    std::memset(&it, 0, sizeof it);
    it.key = key;
    it.keyLen = static_cast<uint8_t>(keyLen);
    it.heading = e.heading;
    it.headingLen = e.headingLen;
    it.bodyPos = e.bodyPos;
    it.order = static_cast<uint32_t>(order);
    it.flags = static_cast<uint8_t>(e.flags & ENTRY_HEADING_CUT);
    return it;
}

// A key without its full-width blanks: the length of the form written to
// out, or -1 when the key holds no blank (or nothing but blanks). Readers
// drop blanks from every word, keyword and kana query, so a key that keeps
// its blanks (delBlank off) is only found through this twin.
int keyWithoutBlanks(const char* key, int len, char* out) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(key);
    int n = 0;
    bool blank = false;
    for (int i = 0; i + 1 < len; i += 2) {
        if (code2(s + i) == 0x8140) {
            blank = true;
            continue;
        }
        out[n++] = key[i];
        out[n++] = key[i + 1];
    }
    return blank && n > 0 ? n : -1;
}

// Katakana of a kana key as hiragana, for comparing the two forms of one
// reading.
bool sameReading(const INDEX_ITEM& a, const INDEX_ITEM& b) {
    if (a.exactLen != b.exactLen) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a.exactKey);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b.exactKey);
    // The mapping of the hiragana form of pushKanaEntry.
    for (int i = 0; i + 1 < a.exactLen; i += 2)
        if (jclib::katakanaToHiragana(code2(p + i)) != jclib::katakanaToHiragana(code2(q + i))) return false;
    return true;
}

// The hiragana and katakana forms of one entry's reading fold to the same
// key and readers match a group member with the query folded to hiragana,
// so both forms would give the same hit twice: only the first (hiragana
// sorts first) is kept. items are sorted; returns the count kept.
size_t dropScriptTwins(INDEX_ITEM* items, size_t n) {
    // Small runs are searched through; a long run (many entries of one
    // reading) gets its kept items indexed by body position, so that the
    // work stays linear.
    const size_t kScan = 64;
    std::unordered_multimap<uint64_t, size_t> byBody;
    bool indexed = false;
    size_t out = 0;
    size_t runStart = 0;  // first kept item of the current folded key
    for (size_t i = 0; i < n; ++i) {
        if (out > runStart && !(items[runStart].keyLen == items[i].keyLen &&
                                std::memcmp(items[runStart].key, items[i].key, items[i].keyLen) == 0)) {
            runStart = out;
            if (indexed) {
                std::unordered_multimap<uint64_t, size_t>().swap(byBody);
                indexed = false;
            }
        }
        bool twin = false;
        if (!indexed && out - runStart > kScan) {
            for (size_t k = runStart; k < out; ++k) byBody.emplace(items[k].bodyPos, k);
            indexed = true;
        }
        if (indexed) {
            auto range = byBody.equal_range(items[i].bodyPos);
            for (auto it = range.first; it != range.second && !twin; ++it)
                twin = sameReading(items[it->second], items[i]);
        } else {
            for (size_t k = runStart; k < out && !twin; ++k)
                twin = items[k].bodyPos == items[i].bodyPos && sameReading(items[k], items[i]);
        }
        if (!twin) {
            items[out] = items[i];
            if (indexed) byBody.emplace(items[out].bodyPos, out);
            ++out;
        }
    }
    return out;
}

}  // namespace

// ---- recent-entry ring ----

void CEBBook::clearRecentEntries() {
    if (m_recent.size() != static_cast<size_t>(kRecentSlots)) m_recent.resize(kRecentSlots);
    for (RecentSlot& s : m_recent) s.len = 0;
    m_recentNext = 0;
}

void CEBBook::clearIndexEntries() {
    // Released, not just emptied: a run may build several large books.
    std::vector<SEARCH_KEY_ENTRY>().swap(m_entries);
    std::vector<KANA_ENTRY>().swap(m_kanaEntries);
    std::vector<INDEX_ITEM>().swap(m_selected);
    std::vector<char>().swap(m_keyWork);
    clearRecentEntries();
}

int CEBBook::isRecentDuplicate(const char* text, int len, const BLOCK_POS& pos, int kind) {
    if (m_recent.size() != static_cast<size_t>(kRecentSlots)) clearRecentEntries();
    char key[kKeyMax + 2];
    int n = normalizeKey(key, text, len, 1, kKeyMax);
    if (m_opt != nullptr && m_opt->ebType == 0 && kind == 4) kind = 2;
    for (int k = 0; k < kRecentSlots; ++k) {
        const RecentSlot& s = m_recent[static_cast<size_t>((m_recentNext - 1 - k + 2 * kRecentSlots) % kRecentSlots)];
        if (s.len != 0 && s.len == n && s.kind == kind && s.block == pos.block && s.offset == pos.offset &&
            std::memcmp(s.key, key, static_cast<size_t>(n)) == 0)
            return 1;
    }
    RecentSlot& s = m_recent[static_cast<size_t>(m_recentNext)];
    std::memcpy(s.key, key, static_cast<size_t>(n));
    s.key[n] = 0;
    s.kind = static_cast<uint8_t>(kind);
    s.len = static_cast<uint8_t>(n);
    s.block = pos.block;
    s.offset = pos.offset;
    m_recentNext = (m_recentNext + 1) % kRecentSlots;
    return 0;
}

// ---- adders ----

void CEBBook::addKeywordEntry(const char* heading, int headingLen, const char* text, int textLen, const BLOCK_POS& pos,
                              int /*source*/, int kind) {
    if (heading == nullptr || m_opt == nullptr) return;
    if (kind == 2 && !m_opt->idx[IDX_KEYWORD]) return;
    if (kind == 4 && !m_opt->idx[IDX_CROSS]) return;
    char key[kKeyMax + 2];
    int n = normalizeKey(key, text, textLen, 1, kKeyMax);
    if (n <= 0 || isStopWord(key, n)) return;
    if (isRecentDuplicate(text, textLen, pos, kind)) return;
    SEARCH_KEY_ENTRY e;
    std::memset(&e, 0, sizeof e);
    e.heading = heading;
    int hl = fit8(heading, headingLen);
    e.headingLen = static_cast<uint8_t>(hl);
    e.flags = static_cast<uint8_t>(kind | (hl < headingLen ? ENTRY_HEADING_CUT : 0));
    e.partLen = e.headingLen;
    e.partOffset = e.headingLen;
    e.key = addStringT(key, static_cast<size_t>(n));
    e.keyLen = static_cast<uint8_t>(n);
    e.bodyPos = posValue(pos);
    m_entries.push_back(e);
}

void CEBBook::addCrossRuns(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos,
                           int source, int kind) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const int minLen = m_opt != nullptr ? m_opt->kwordLen : 1;
    int i = 0;
    while (i < len) {
        if (charLen(s + i, len - i) != 2 || !isRunClass(s + i, len - i)) {
            i += charLen(s + i, len - i);
            continue;
        }
        int start = i;
        while (i < len && charLen(s + i, len - i) == 2 && isRunClass(s + i, len - i)) i += 2;
        int runLen = i - start;
        bool last = i >= len;
        if (runLen > minLen && (!last || runLen >= 3))
            addKeywordEntry(heading, headingLen, text + start, runLen, pos, source, kind);
    }
}

SEARCH_KEY_ENTRY* CEBBook::addWordEntry(const char* heading, int headingLen, const char* text, int textLen,
                                        const BLOCK_POS& pos, int source, int split, int mask) {
    if (text == nullptr || textLen < 0) textLen = 0;
    const size_t n = m_entries.size();
    SEARCH_KEY_ENTRY e;
    std::memset(&e, 0, sizeof e);
    if (headingLen > 0 && heading != nullptr) {
        int hl = fit8(heading, headingLen);
        e.heading = heading;
        e.headingLen = static_cast<uint8_t>(hl);
        if (hl < headingLen) e.flags |= ENTRY_HEADING_CUT;
        // The whole text is normalised: the prefix index takes the key's
        // first bytes, the suffix index its last ones.
        const int cap = 2 * textLen + 2;
        if (m_keyWork.size() < static_cast<size_t>(cap) + 2) m_keyWork.resize(static_cast<size_t>(cap) + 2);
        int k = headwordKey(m_keyWork.data(), text, textLen, cap);
        if (k > kKeyMax) {
            char both[2 * kKeyMax];
            std::memcpy(both, m_keyWork.data(), kKeyMax);
            std::memcpy(both + kKeyMax, m_keyWork.data() + k - kKeyMax, kKeyMax);
            e.key = addStringT(both, sizeof both);
            e.keyLen = kKeyMax;
            e.flags |= ENTRY_LONG_KEY;
        } else {
            e.key = k > 0 ? addStringT(m_keyWork.data(), static_cast<size_t>(k)) : nullptr;
            e.keyLen = static_cast<uint8_t>(k);
        }
    } else {
        int hl = fit8(text, textLen);
        e.heading = text;
        e.headingLen = static_cast<uint8_t>(hl);
        e.flags |= ENTRY_NO_HEADING;
        if (hl < textLen) e.flags |= ENTRY_HEADING_CUT;
    }
    e.flags |= static_cast<uint8_t>(mask & (ENTRY_PREFIX | ENTRY_SUFFIX));
    e.bodyPos = posValue(pos);
    m_entries.push_back(e);

    if (split && m_opt != nullptr && m_opt->titleWord && m_opt->idx[IDX_CROSS] && textLen > 0) {
        const bool own = (e.flags & ENTRY_NO_HEADING) != 0;
        // Without a heading of its own the words must lie inside the kept
        // heading bytes, whose offsets and lengths fit the 8-bit fields.
        const int limit = own ? e.headingLen : textLen;
        const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
        const char* delChars = m_opt->delChars;
        int i = 0;
        while (i < limit) {
            if (!isWordByte(s[i], delChars) || isLead(s[i])) {
                i += charLen(s + i, limit - i);
                continue;
            }
            int start = i;
            while (i < limit && !isLead(s[i]) && isWordByte(s[i], delChars)) ++i;
            int wl = i - start;
            if (!own) {
                addKeywordEntry(heading, headingLen, text + start, wl, pos, source, 4);
            } else if (start == 0) {
                m_entries[n].partLen = static_cast<uint8_t>(wl);
                isRecentDuplicate(text, wl, pos, 4);
            } else {
                bool seen = false;
                for (size_t k = n; k < m_entries.size() && !seen; ++k) {
                    const SEARCH_KEY_ENTRY& o = m_entries[k];
                    if (o.heading != text || o.partLen != wl) continue;
                    const char* ow = o.heading + (k == n ? 0 : o.partOffset);
                    seen = strncasecmp(ow, text + start, static_cast<size_t>(wl)) == 0;
                }
                if (!seen && !isRecentDuplicate(text + start, wl, pos, 4)) {
                    SEARCH_KEY_ENTRY copy = m_entries[n];
                    copy.partLen = static_cast<uint8_t>(wl);
                    copy.partOffset = static_cast<uint8_t>(start);
                    m_entries.push_back(copy);
                }
            }
        }
        addCrossRuns(own ? text : heading, own ? e.headingLen : headingLen, text, textLen, pos, source, 4);
    }
    return &m_entries[n];
}

int CEBBook::isKanaText(const char* text, int len) {
    char key[kKeyMax + 2];
    int n = normalizeKey(key, text, len, 1, kKeyMax);
    if (n == 0) return 2;
    int result = 2;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(key);
    for (int i = 0; i + 1 < n; i += 2) {
        unsigned c = code2(s + i);
        if (c == 0x8140) continue;  // a blank that delBlank keeps is not part of the reading
        int cls = sjisCharClass(s + i);
        if (cls != 13 && cls != 14) return 0;
        if (cls == 14 && c != 0x8145 && c != 0x815B && c != 0x815D && c != 0x817C) result = 1;
    }
    return result;
}

void CEBBook::pushKanaEntry(const char* heading, int headingLen, const char* kana, int kanaLen, const BLOCK_POS& pos,
                            int /*source*/, int form, int mask, bool written) {
    if (kana == nullptr || kanaLen <= 0) return;
    // Kept whole (up to 254 bytes): the prefix kana index takes the first
    // key bytes, the suffix kana index the last ones.
    char norm[2 * kLen8 + 4];
    // Marks stay (whatever delSym says): readers compare a typed reading
    // with the marks it has, and drop them only from the folded key.
    int n = normalizeKey(norm, kana, kanaLen, kFilterBlanks, kLen8 - 1);
    char key[2 * kLen8 + 4];
    int k = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(norm);
    for (int i = 0; i + 1 < n; i += 2) {
        unsigned c = code2(s + i);
        const bool symbol = written ? isFirstRowSymbol(c) : isDroppedMark(c);
        if (form == 0) {
            // Small ka and ke stay: they have no hiragana that readers
            // would take for them.
            const bool smallKaKe = c == 0x8395 || c == 0x8396;
            if (!smallKaKe) c = jclib::katakanaToHiragana(c);
            if (!((c >= 0x829F && c <= 0x82F1) || c == 0x815B || c == 0x8394 || smallKaKe || symbol)) continue;
        } else {
            if (c >= 0x829F && c <= 0x82DD)
                c += 0xA1;
            else if (c >= 0x82DE && c <= 0x82F1)
                c += 0xA2;
            if (!((c >= 0x8340 && c <= 0x8396) || c == 0x815B || symbol)) continue;
        }
        key[k++] = static_cast<char>(c >> 8);
        key[k++] = static_cast<char>(c & 0xFF);
    }
    if (k == 0) return;
    if (heading == nullptr) {
        heading = kana;
        headingLen = kanaLen;
    }
    const int hl = fit8(heading, headingLen);
    const uint64_t body = posValue(pos);
    const uint8_t flags = static_cast<uint8_t>(mask & (ENTRY_PREFIX | ENTRY_SUFFIX));
    const size_t count = m_kanaEntries.size();
    for (size_t d = 0; d < static_cast<size_t>(kKanaRecentWindow) && d < count; ++d) {
        const KANA_ENTRY& o = m_kanaEntries[count - 1 - d];
        if (o.bodyPos == body && o.kanaKeyLen == k && std::memcmp(o.kanaKey, key, static_cast<size_t>(k)) == 0 &&
            o.headingLen == hl && (hl == 0 || std::memcmp(o.heading, heading, static_cast<size_t>(hl)) == 0) &&
            (o.flags & (ENTRY_PREFIX | ENTRY_SUFFIX)) == flags)
            return;
    }
    KANA_ENTRY e;
    std::memset(&e, 0, sizeof e);
    e.kanaKey = addStringT(key, static_cast<size_t>(k));
    e.kanaKeyLen = static_cast<uint8_t>(k);
    e.heading = heading;
    e.headingLen = static_cast<uint8_t>(hl);
    e.bodyPos = body;
    e.flags = static_cast<uint8_t>(flags | (hl < headingLen ? ENTRY_HEADING_CUT : 0));
    m_kanaEntries.push_back(e);
}

bool CEBBook::addsKatakanaForm(const char* heading, int headingLen) {
    const int addKana = m_opt != nullptr ? m_opt->addKana : 0;
    return addKana >= 2 || (addKana == 1 && isKanaText(heading, headingLen) == 1);
}

void CEBBook::addKanaEntry(const char* heading, int headingLen, const char* kana, int kanaLen, const BLOCK_POS& pos,
                           int source, int mask) {
    pushKanaEntry(heading, headingLen, kana, kanaLen, pos, source, 0, mask);
    if (addsKatakanaForm(heading != nullptr ? heading : kana, heading != nullptr ? headingLen : kanaLen))
        pushKanaEntry(heading, headingLen, kana, kanaLen, pos, source, 1, mask);
}

bool CEBBook::isKanaWord(const char* text, int len) {
    // A character reference stands for a character of no code row readers
    // take for kana (an external character, or one the book keeps as such),
    // unless its key holds a JIS X 0208 character (such as the multiplication
    // sign of wide text), which the loop below judges.
    for (int i = 0; i < len; i += charLen(reinterpret_cast<const unsigned char*>(text) + i, len - i)) {
        uint32_t cp = 0;
        if (text[i] == '&' && parseEntity(text + i, len - i, &cp, nullptr, nullptr) > 0 && sjisFormForKey(cp) == 0)
            return false;
    }
    char key[kKeyMax + 2];
    const int n = normalizeKey(key, text, len, 0, kKeyMax);
    bool kana = false;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(key);
    for (int i = 0; i + 1 < n; i += 2) {
        const unsigned c = code2(s + i);
        const bool k = (c >= 0x829F && c <= 0x82F1) || (c >= 0x8340 && c <= 0x8396);
        if (!k && !isFirstRowSymbol(c)) return false;
        kana = kana || k;
    }
    return kana;
}

void CEBBook::addKanaOfKanaWord(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos,
                                int source) {
    if (m_opt == nullptr || text == nullptr || len <= 0) return;
    if (!m_opt->idx[IDX_WORD_KANA] && !m_opt->idx[IDX_ENDWORD_KANA]) return;
    if (!isKanaWord(text, len)) return;
    if (heading == nullptr) {
        heading = text;
        headingLen = len;
    }
    const int mask = ENTRY_PREFIX | ENTRY_SUFFIX;
    pushKanaEntry(heading, headingLen, text, len, pos, source, 0, mask, true);
    if (addsKatakanaForm(heading, headingLen))
        pushKanaEntry(heading, headingLen, text, len, pos, source, 1, mask, true);
}

void CEBBook::addNotation(const char* heading, int headingLen, const char* text, int len, const BLOCK_POS& pos,
                          int source, SEARCH_KEY_ENTRY** last) {
    if (len <= 0) return;
    addKanaOfKanaWord(heading, headingLen, text, len, pos, source);
    const int mask = ENTRY_PREFIX | ENTRY_SUFFIX;
    if (m_opt->titleOrder == 1 && m_opt->hyokiSep) {
        const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
        int start = 0;
        int i = 0;
        while (i < len) {
            int cl = charLen(s + i, len - i);
            if (cl == 2 && code2(s + i) == 0x8145) {
                if (i > start) {
                    SEARCH_KEY_ENTRY* e =
                        addWordEntry(heading, headingLen, text + start, i - start, pos, source, 1, mask);
                    if (e) *last = e;
                }
                start = i + 2;
            }
            i += cl;
        }
        if (len > start) {
            SEARCH_KEY_ENTRY* e = addWordEntry(heading, headingLen, text + start, len - start, pos, source, 1, mask);
            if (e) *last = e;
        }
    } else {
        SEARCH_KEY_ENTRY* e = addWordEntry(heading, headingLen, text, len, pos, source, 1, mask);
        if (e) *last = e;
    }
}

SEARCH_KEY_ENTRY* CEBBook::addTitle(const char* heading, int headingLen, const char* text, int textLen,
                                    const BLOCK_POS& pos, int source, int withKana, int withHeading) {
    if (text == nullptr || textLen <= 0 || m_opt == nullptr) return nullptr;
    int len = 0;
    while (len < textLen && text[len] != 0 && text[len] != '\n' && text[len] != '\r') ++len;
    if (len == 0) return nullptr;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* sep1 = reinterpret_cast<const unsigned char*>(m_opt->kanaSep1);
    const unsigned char* sep2 = reinterpret_cast<const unsigned char*>(m_opt->kanaSep2);
    const bool seps = sep1 != nullptr && sep2 != nullptr && sep1[0] != 0 && sep2[0] != 0;

    const char* first = text;
    int firstLen = len;
    const char* bracket = nullptr;
    int bracketLen = 0;
    const char* rest = nullptr;  // text after the bracketed part
    int restLen = 0;
    const unsigned char* open = seps ? findAnyOfSJIS(s, sep1, len) : nullptr;
    if (open != nullptr) {
        firstLen = static_cast<int>(open - s);
        int from = firstLen + charLen(open, len - firstLen);
        const unsigned char* close = findAnyOfSJIS(s + from, sep2, len - from);
        int to = close != nullptr ? static_cast<int>(close - s) : len;
        bracket = text + from;
        bracketLen = to - from;
        if (close != nullptr) {
            int after = to + charLen(close, len - to);
            rest = text + after;
            restLen = len - after;
        }
    } else if (m_opt->titleOrder == 1) {
        int i = 0;
        while (i < len) {
            int cls = charClass(s + i, len - i);
            int cl = charLen(s + i, len - i);
            bool reading = cls == 13 || cls == 14 || s[i] == '-' || (cl == 2 && code2(s + i) == 0x815D);
            if (!reading) break;
            i += cl;
        }
        if (i > 0 && i < len) {
            int j = i;
            while (j < len && (s[j] == ' ' || (charLen(s + j, len - j) == 2 && code2(s + j) == 0x8140)))
                j += charLen(s + j, len - j);
            if (j > i) {
                firstLen = i;
                bracket = text + j;
                bracketLen = len - j;
            }
        }
    }

    const char* notation;
    int notationLen;
    const char* kana;
    int kanaLen;
    if (m_opt->titleOrder == 1) {
        kana = first;
        kanaLen = firstLen;
        notation = bracket;
        notationLen = bracketLen;
        if (notation == nullptr || notationLen == 0) {
            notation = first;
            notationLen = firstLen;
        }
    } else {
        notation = first;
        notationLen = firstLen;
        kana = bracket;
        kanaLen = bracketLen;
    }

    const char* h = nullptr;
    int hl = 0;
    if (withHeading) {
        if (heading != nullptr && headingLen >= 1) {
            h = heading;
            hl = headingLen;
        } else {
            h = text;
            hl = len;
        }
    }
    SEARCH_KEY_ENTRY* last = nullptr;
    if (notationLen > 0) {
        addNotation(h, hl, notation, notationLen, pos, source, &last);
        if (m_opt->titleOrder == 1 && seps) {
            while (rest != nullptr && restLen > 0) {
                const unsigned char* r = reinterpret_cast<const unsigned char*>(rest);
                const unsigned char* o = findAnyOfSJIS(r, sep1, restLen);
                if (o == nullptr) break;
                int from = static_cast<int>(o - r) + charLen(o, restLen - static_cast<int>(o - r));
                const unsigned char* c = findAnyOfSJIS(r + from, sep2, restLen - from);
                int to = c != nullptr ? static_cast<int>(c - r) : restLen;
                addNotation(h, hl, rest + from, to - from, pos, source, &last);
                if (c == nullptr) break;
                int after = to + charLen(c, restLen - to);
                rest += after;
                restLen -= after;
            }
        }
    }
    if (withKana && kana != nullptr && kanaLen > 0 && isKanaText(kana, kanaLen) >= 1)
        addKanaEntry(heading != nullptr && headingLen >= 1 ? heading : text,
                     heading != nullptr && headingLen >= 1 ? headingLen : len, kana, kanaLen, pos, source,
                     ENTRY_PREFIX | ENTRY_SUFFIX);
    if (last == nullptr) return nullptr;
    // The pointer of the last word entry added (later adders may move the array).
    return last;
}

void CEBBook::addHeadingTagTitle(const char* heading, int headingLen, const char* text, int len, int source,
                                 const BLOCK_POS& pos) {
    if (m_opt != nullptr && m_opt->HTagIndex && len != 0) addTitle(heading, headingLen, text, len, pos, source, 1, 1);
}

void CEBBook::autoIndexText(const char* text, int len, const char* heading, int headingLen, const BLOCK_POS& pos,
                            int source) {
    if (m_opt == nullptr || text == nullptr || len <= 0 || heading == nullptr) return;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    if (m_opt->autoWord) addCrossRuns(heading, headingLen, text, len, pos, source, 2);
    if (m_opt->autoEWord) {
        int i = 0;
        while (i < len) {
            if (isLead(s[i]) || !(std::isalnum(s[i]) || s[i] == '#' || s[i] == '&' || s[i] == ';')) {
                i += charLen(s + i, len - i);
                continue;
            }
            int start = i;
            int letters = 0;
            while (i < len && !isLead(s[i]) && (std::isalnum(s[i]) || s[i] == '#' || s[i] == '&' || s[i] == ';')) {
                if (std::isalpha(s[i])) ++letters;
                ++i;
            }
            int wl = i - start;
            if (letters >= 2 && wl <= 1024) addKeywordEntry(heading, headingLen, text + start, wl, pos, source, 2);
        }
    }
    if (!m_keywords.empty()) {
        int i = 0;
        bool afterLetter = false;  // the character before i is an ASCII letter or digit
        while (i < len) {
            // The longest list word here that stands as a word.
            const KEYWORD_ITEM* hit = findKeyword(text + i, len - i);
            while (hit != nullptr &&
                   !keywordOnWordBounds(*hit, afterLetter, s + i + hit->keyLen, len - i - hit->keyLen))
                hit = hit->keyLen > 1 ? findKeyword(text + i, hit->keyLen - 1) : nullptr;
            if (hit == nullptr) {
                const int n = charLen(s + i, len - i);
                afterLetter = n == 1 && std::isalnum(s[i]);
                i += n;
                continue;
            }
            afterLetter = endsInAsciiLetter(hit->key, hit->keyLen);
            addKeywordEntry(heading, headingLen, hit->key, hit->keyLen, pos, source, 2);
            if (hit->second != nullptr)
                addKeywordEntry(heading, headingLen, hit->second, hit->secondLen, pos, source, 2);
            if (m_opt->FRAuto) {
                addWordEntry(heading, headingLen, hit->key, hit->keyLen, pos, source, 0, ENTRY_PREFIX | ENTRY_SUFFIX);
                if (hit->second != nullptr)
                    addKanaEntry(heading, headingLen, hit->second, hit->secondLen, pos, source,
                                 ENTRY_PREFIX | ENTRY_SUFFIX);
            }
            i += hit->keyLen > 0 ? hit->keyLen : 1;
        }
    }
}

bool CEBBook::endsInAsciiLetter(const char* text, int len) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    int last = -1;
    for (int i = 0; i < len; i += charLen(s + i, len - i)) last = i;
    return last >= 0 && last == len - 1 && std::isalnum(s[last]);
}

bool CEBBook::keywordOnWordBounds(const KEYWORD_ITEM& k, bool afterLetter, const unsigned char* next, int nextLen) {
    // A word of single-byte characters is a word of its own: "cat" is not
    // found in "category" or "education". Japanese words match anywhere.
    if (k.keyLen == 0) return true;
    for (int i = 0; i < k.keyLen; ++i)
        if (static_cast<unsigned char>(k.key[i]) >= 0x80) return true;
    const unsigned char first = static_cast<unsigned char>(k.key[0]);
    const unsigned char last = static_cast<unsigned char>(k.key[k.keyLen - 1]);
    if (afterLetter && std::isalnum(first)) return false;
    if (nextLen > 0 && next[0] < 0x80 && std::isalnum(next[0]) && std::isalnum(last)) return false;
    return true;
}

const KEYWORD_ITEM* CEBBook::findKeyword(const char* text, int len) const {
    // The records are sorted by strcmp of the key, and every key that is a
    // prefix of text sorts at or before text. The last record at or before
    // the first limit bytes of text is either the longest such prefix, or it
    // shares some m < its length bytes with text: then no prefix is longer
    // than m bytes, and the search goes on for the first m bytes. Each round
    // is one binary search and m shrinks, so long lists sharing first bytes
    // cost no more than short ones.
    const size_t count = m_keywords.size();
    int limit = len;
    while (limit > 0) {
        size_t lo = 0, hi = count;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            const KEYWORD_ITEM& k = m_keywords[mid];
            int n = k.keyLen < limit ? k.keyLen : limit;
            int c = std::memcmp(k.key, text, static_cast<size_t>(n));
            if (c < 0 || (c == 0 && k.keyLen <= limit))
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == 0) return nullptr;
        const KEYWORD_ITEM& k = m_keywords[lo - 1];
        const int most = k.keyLen < limit ? k.keyLen : limit;
        int m = 0;
        while (m < most && k.key[m] == text[m]) ++m;
        if (m == k.keyLen) return m > 0 ? &k : nullptr;
        limit = m;
    }
    return nullptr;
}

// ---- select steps ----

void CEBBook::selectWordEntries(int indexId) {
    m_selected.clear();
    const uint8_t want = indexId == 0x71 ? ENTRY_SUFFIX : ENTRY_PREFIX;
    char key[kKeyMax + 2];
    char whole[2 * kLen8 + 4];  // a heading of at most 255 bytes, normalised
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if ((i & 0xFFF) == 0) checkAbort();
        SEARCH_KEY_ENTRY& e = m_entries[i];
        if (e.partOffset != 0 || (e.flags & (ENTRY_KEYWORD | ENTRY_CROSS))) continue;
        e.flags &= static_cast<uint8_t>(~ENTRY_GROUP);
        if (!(e.flags & want)) continue;
        const char* k = e.key;
        int kl = e.keyLen;
        if (e.flags & ENTRY_NO_HEADING) {
            kl = headwordKey(whole, e.heading, e.headingLen, 2 * kLen8 + 2);
            // Prefix: the first key bytes; suffix: the last ones.
            k = indexId == 0x71 && kl > kKeyMax ? whole + kl - kKeyMax : whole;
            if (kl > kKeyMax) kl = kKeyMax;
            std::memcpy(key, k, static_cast<size_t>(kl));
            k = key;
        } else if (indexId == 0x71 && (e.flags & ENTRY_LONG_KEY)) {
            k = e.key + kKeyMax;
        }
        if (kl <= 0) continue;
        if (indexId == 0x71) {
            if (k != key) std::memcpy(key, k, static_cast<size_t>(kl));
            // Normalised first, reversed afterwards by whole characters, so
            // that no escape code or reference is torn apart.
            reverseKeyUnits(key, kl);
            k = key;
        }
        m_selected.push_back(entryItem(e, k == key ? addStringT(key, static_cast<size_t>(kl)) : k, kl, i));
        pushBlankFreeTwin();
    }
    CIndexWriter::sortItems(m_selected.data(), m_selected.size());
}

void CEBBook::selectKeywordEntries(int indexId) {
    m_selected.clear();
    const bool epwing = m_opt != nullptr && m_opt->ebType == 1;
    char key[kKeyMax + 2];
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if ((i & 0xFFF) == 0) checkAbort();
        SEARCH_KEY_ENTRY& e = m_entries[i];
        if (e.partLen == 0) continue;
        if (epwing) {
            if (indexId == 0x80 && !(e.flags & ENTRY_KEYWORD)) continue;
            if (indexId == 0x81 && (e.flags & ENTRY_KEYWORD)) continue;
        }
        e.flags &= static_cast<uint8_t>(~ENTRY_GROUP);
        const char* k = e.key;
        int kl = e.keyLen;
        if (!(e.flags & (ENTRY_KEYWORD | ENTRY_CROSS)) || (e.flags & ENTRY_NO_HEADING)) {
            int off = e.partOffset;
            int pl = e.partLen;
            if (off + pl > e.headingLen) continue;
            kl = normalizeKey(key, e.heading + off, pl, 1, kKeyMax);
            k = kl > 0 ? addStringT(key, static_cast<size_t>(kl)) : nullptr;
        }
        if (kl <= 0 || k == nullptr || isStopWord(k, kl)) continue;
        m_selected.push_back(entryItem(e, k, kl, i));
        pushBlankFreeTwin();
    }
    CIndexWriter::sortItems(m_selected.data(), m_selected.size());
    CIndexWriter::markGroups(m_selected.data(), m_selected.size());
}

void CEBBook::selectKanaEntries(int indexId) {
    m_selected.clear();
    const uint8_t want = indexId == 0x70 ? ENTRY_SUFFIX : ENTRY_PREFIX;
    char folded[2 * kLen8 + 2];
    char exact[kLen8 + 1];
    for (size_t i = 0; i < m_kanaEntries.size(); ++i) {
        if ((i & 0xFFF) == 0) checkAbort();
        KANA_ENTRY& e = m_kanaEntries[i];
        e.flags &= static_cast<uint8_t>(~ENTRY_GROUP);
        if (!(e.flags & want) || e.kanaKeyLen == 0) continue;
        const char* ek = e.kanaKey;
        int el = e.kanaKeyLen;
        if (el > kKeyMax) {
            if (indexId == 0x70) ek += el - kKeyMax;
            el = kKeyMax;
        }
        int fl = 0;
        kanaKey(folded, ek, el, &fl);
        if (fl > kKeyMax) fl = kKeyMax;
        // A written form that differs from its folded key only by marks
        // readers drop can stand alone under the folded key, found with or
        // without the marks (CIndexWriter::markKanaGroups).
        const bool marksOnly = fl < el && onlyMarksDiffer(ek, el, folded, fl);
        if (indexId == 0x70) {
            reverseKeyUnits(folded, fl);
            std::memcpy(exact, ek, static_cast<size_t>(el));
            reverseKeyUnits(exact, el);
            ek = addStringT(exact, static_cast<size_t>(el));
        }
        e.sortKey = fl > 0 ? addStringT(folded, static_cast<size_t>(fl)) : nullptr;
        e.sortKeyLen = static_cast<uint8_t>(fl);
        if (fl == 0) continue;
        INDEX_ITEM it = entryItem(e, e.sortKey, e.sortKeyLen, i);
        it.exactKey = ek;
        it.exactLen = static_cast<uint8_t>(el);
        if (marksOnly) it.flags |= ITEM_MARKS_ONLY;
        m_selected.push_back(it);
        pushBlankFreeTwin();
    }
    CIndexWriter::sortItems(m_selected.data(), m_selected.size());
    m_selected.resize(dropScriptTwins(m_selected.data(), m_selected.size()));
    CIndexWriter::markKanaGroups(m_selected.data(), m_selected.size());
}

void CEBBook::pushBlankFreeTwin() {
    if (m_opt == nullptr || m_opt->delBlank) return;
    // The item just selected; a second item of the same entry under the key
    // without blanks, written and sorted like the first.
    INDEX_ITEM twin = m_selected.back();
    char key[2 * kLen8 + 4];
    const int kl = keyWithoutBlanks(twin.key, twin.keyLen, key);
    if (kl < 0) return;
    twin.key = addStringT(key, static_cast<size_t>(kl));
    twin.keyLen = static_cast<uint8_t>(kl);
    if (twin.exactKey != nullptr) {
        const int el = keyWithoutBlanks(twin.exactKey, twin.exactLen, key);
        if (el > 0) {
            twin.exactKey = addStringT(key, static_cast<size_t>(el));
            twin.exactLen = static_cast<uint8_t>(el);
        }
    }
    m_selected.push_back(twin);
}

// ---- search indexes ----

void CEBBook::writeOneIndex(const char* title, int indexId, int headingId, bool headingAlways, int layout) {
    message(title);
    if (indexId == 0x91 || indexId == 0x71)
        selectWordEntries(indexId);
    else if (indexId == 0x90 || indexId == 0x70)
        selectKanaEntries(indexId);
    else
        selectKeywordEntries(indexId);
    const size_t count = m_selected.size();
    const int omitHeader = m_opt->omitHeader;
    const bool areas = headingAlways || count > 0;

    GAIJI_CODE_STATE* gaiji = m_gaiji ? m_gaiji->getGaijiMap() : nullptr;
    CIndexWriter writer;
    writer.setWorkSize(m_indexWorkSize);
    writer.setCancelCheck([] { CEBBook::checkAbort(); });
    writer.setProgress([this](int p) { setProgress(p); });
    if (areas && !(headingAlways && omitHeader)) {
        CBlockStream* heading = new CBlockStream(m_nextBlock, 1);
        addArea(headingId, heading, false);
        heading->setGaijiMap(gaiji);
        writer.writeHeadings(heading, m_selected.data(), count, m_opt->titleLen);
        endArea(heading);
    }
    if (areas) {
        const bool search = indexId == 0x91 || indexId == 0x71 || indexId == 0x81 || indexId == 0x80 || indexId == 0xA1;
        CBlockStream* index = new CBlockStream(m_nextBlock, 1);
        addArea(indexId, index, search);
        index->setGaijiMap(gaiji);
        writer.writeIndex(index, m_selected.data(), count, static_cast<CIndexWriter::Layout>(layout), omitHeader);
        endArea(index);
    }
    char line[32];
    std::snprintf(line, sizeof line, "(%d)\r\n", static_cast<int>(count));
    message(line);
    m_selected.clear();
}

void CEBBook::writeSearchIndexes() {
    if (m_opt == nullptr) return;
    const size_t mark = stringTUsed();
    m_indexWorkSize = 1000 + 1000 * (m_entries.size() / 40000);
    struct Step {
        const char* title;
        int indexId;
        int headingId;
        bool headingAlways;  // heading and index areas even when nothing is selected
        int layout;
        bool gate;
    };
    const bool entries = !m_entries.empty();
    const bool kana = !m_kanaEntries.empty();
    const bool complex = entries && !m_complexDefs.empty() && m_opt->idx[IDX_COMPLEX] != 0;
    const Step steps[] = {
        {"Prefix Index...", 0x91, 0x05, true, CIndexWriter::kPlain, entries && m_opt->idx[IDX_WORD_HYOKI] != 0},
        {"Suffix Index...", 0x71, 0x07, true, CIndexWriter::kPlain, entries && m_opt->idx[IDX_ENDWORD_HYOKI] != 0},
        {"Crossword Index...", 0x81, 0x0A, false, CIndexWriter::kGrouped,
         entries && m_opt->idx[IDX_CROSS] != 0 && m_opt->ebType == 1},
        {"Keyword Index...", 0x80, 0x03, false, CIndexWriter::kGrouped, entries && m_opt->idx[IDX_KEYWORD] != 0},
        {"Keyword Index(Complex)...", 0xA1, 0x0D, false, CIndexWriter::kComplexGrouped,
         complex && m_opt->typeCplxKwd == 0},
        {"Prefix Index(Complex)...", 0xA1, 0x0D, false, CIndexWriter::kPlain, complex && m_opt->typeCplxKwd != 0},
        {"Prefix Kana Index...", 0x90, 0x04, true, CIndexWriter::kKana, kana && m_opt->idx[IDX_WORD_KANA] != 0},
        {"Suffix Kana Index...", 0x70, 0x06, true, CIndexWriter::kKana, kana && m_opt->idx[IDX_ENDWORD_KANA] != 0},
    };
    for (const Step& s : steps) {
        if (!s.gate) continue;
        writeOneIndex(s.title, s.indexId, s.headingId, s.headingAlways, s.layout);
        restoreStringT(mark);
    }
}

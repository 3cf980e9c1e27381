#include "dictformats/mdict/CMDictReader.h"

#include <strings.h>
#include <sys/types.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dictformats/mdict/MdictBlock.h"
#include "dictformats/text/CParseTag.h"
#include "dictformats/text/GbkBig5.h"
#include "foundation/CBoundedText.h"
#include "foundation/byteorder.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

std::atomic<uint32_t> gInstances{0};

// The header is a few kilobytes in real files; style sheets make it larger.
const uint32_t kMaxHeaderLength = 16u << 20;

// The font of phonetic records, and what its letters stand for.
const char kPhoneticAttribute[] = "face=\"Kingsoft Phonetic Plain";
const size_t kPhoneticAttributeLength = sizeof kPhoneticAttribute - 1;  // 29

struct PhoneticMap {
    char from;
    uint32_t to[2];
};
const PhoneticMap kPhonetic[] = {
    {'1', {0x2026}},         {'4', {0x003A}},         {'5', {0x0027}}, {'6', {0x0021}}, {'7', {0x02CC}},
    {'8', {0x003F}},         {'9', {0x02CF}},         {':', {0x02D0}}, {'<', {0x00FC}}, {'=', {0x00EA}},
    {'?', {0x0055}},         {'@', {0x0053}},         {'A', {0x00E6}}, {'B', {0x0251}}, {'C', {0x0254}},
    {'D', {0x0251, 0x0303}}, {'E', {0x0259}},         {'F', {0x0283}}, {'G', {0x0263}}, {'H', {0x0265}},
    {'I', {0x026A}},         {'J', {0x028A}},         {'K', {0x028F}}, {'L', {0x025A}}, {'M', {0x0272}},
    {'N', {0x014B}},         {'O', {0x0153}},         {'P', {0x0275}}, {'Q', {0x028C}}, {'R', {0x0254}},
    {'S', {0x0254, 0x0303}}, {'T', {0x00F0}},         {'U', {0x0075}}, {'V', {0x0292}}, {'W', {0x03B8}},
    {'X', {0x00F8}},         {'Y', {0x025B, 0x0303}}, {'Z', {0x025B}}, {'[', {0x0259}}, {'\\', {0x025C}},
    {']', {0x00E7}},         {'^', {0x0261}},         {'_', {0x02C7}}, {'{', {0x002D}}, {'}', {0x005C}},
};

// UTF-8 text of a phonetic letter, or null when it stands for itself.
const char* phoneticText(unsigned char c) {
    static std::string table[96];
    static const bool ready = [] {
        for (const PhoneticMap& m : kPhonetic) {
            char buf[16];
            int n = wideToUtf8(m.to, m.to[1] ? 2 : 1, buf);
            table[static_cast<unsigned char>(m.from) - 32].assign(buf, static_cast<size_t>(n));
        }
        return true;
    }();
    (void)ready;
    if (c < 32 || c > 127) return nullptr;
    const std::string& s = table[c - 32];
    return s.empty() ? nullptr : s.c_str();
}

bool isKeyPunct(char c) {
    return c == ' ' || c == '-' || c == '.';
}

// toupper of the C locale, without a call per byte.
int upper(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? u - ('a' - 'A') : u;
}

// tolower of the C locale.
int lower(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
}

// &lt; &gt; &amp; &apos; &quot; and numeric references (&#65; &#x41;) decoded,
// the references to UTF-8 of their code point.
std::string decodeXmlEntities(const char* s, size_t n) {
    static const struct {
        const char* name;
        char c;
    } kNamed[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}};
    std::string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        bool done = false;
        for (const auto& e : kNamed) {
            size_t len = std::strlen(e.name);
            if (i + len <= n && std::memcmp(s + i, e.name, len) == 0) {
                out += e.c;
                i += len;
                done = true;
                break;
            }
        }
        if (done) continue;
        if (i + 2 < n && s[i + 1] == '#') {
            size_t j = i + 2;
            bool hex = s[j] == 'x' || s[j] == 'X';
            if (hex) ++j;
            uint32_t cp = 0;
            size_t digits = 0;
            while (j < n && digits < 8 &&
                   (hex ? std::isxdigit(static_cast<unsigned char>(s[j]))
                        : std::isdigit(static_cast<unsigned char>(s[j])))) {
                int d = std::isdigit(static_cast<unsigned char>(s[j])) ? s[j] - '0' : (upper(s[j]) - 'A' + 10);
                cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
                ++j;
                ++digits;
            }
            if (digits > 0 && j < n && s[j] == ';' && cp > 0 && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
                char buf[8];
                int len = wideToUtf8(&cp, 1, buf);
                out.append(buf, static_cast<size_t>(len));
                i = j + 1;
                continue;
            }
        }
        out += s[i++];
    }
    return out;
}

bool attributeIs(const ATTR_SPAN& a, const char* name) {
    return a.nameLength > 0 && a.nameLength <= std::strlen(name) && strncasecmp(a.name, name, a.nameLength) == 0;
}

bool isYes(const std::string& v) {
    return v.size() <= 3 && strncasecmp(v.c_str(), "Yes", v.size()) == 0;
}

// The index of the block (key or record index item) whose decoded range holds
// pos: the loaded one when it does, else found by binary search; -1 for none.
template <typename Item>
int blockHolding(const std::vector<Item>& blocks, int loaded, uint64_t pos) {
    auto holds = [pos](const Item& b) { return pos >= b.decomp_offs && pos - b.decomp_offs < b.decomp_size; };
    if (loaded >= 0 && holds(blocks[static_cast<size_t>(loaded)])) return loaded;
    auto it = std::upper_bound(blocks.begin(), blocks.end(), pos,
                               [](uint64_t v, const Item& b) { return v < b.decomp_offs; });
    // Blocks of size 0 share their offset with the next one: take the last
    // block starting at or before the position that holds it.
    while (it != blocks.begin()) {
        --it;
        if (holds(*it)) return static_cast<int>(it - blocks.begin());
        if (it->decomp_size != 0) break;
    }
    return -1;
}

}  // namespace

CMDictReader::CMDictReader() = default;

CMDictReader::~CMDictReader() {
    if (m_open) close();
}

void CMDictReader::resetHeader() {
    m_headerLength = 0;
    m_title.clear();
    m_description.clear();
    m_encoding.clear();
    m_styleSheet.clear();
    m_registerBy.clear();
    m_regCode.clear();
    m_hasTitle = m_hasRegisterBy = m_hasRegCode = false;
    m_generatedVersion = m_requiredVersion = 0;
    m_encrypted = 0;
    m_format = 0;
    m_compact = m_keyCaseSensitive = 0;
    m_width = 4;
    m_utf16Keys = false;
    m_keyKind = kPlain;
    m_styles.clear();
    m_failure.clear();
    m_keyNumBlocks = m_numEntries = m_keyInfoDecompSize = m_keyInfoSize = m_keyBlocksSize = 0;
    m_numRecordBlocks = m_numRecords = m_recordInfoSize = m_recordBlocksSize = 0;
    m_keywordSectionPos = m_keyBlocksPos = m_recordSectionPos = m_recordBlocksPos = 0;
    m_resource = false;
}

int CMDictReader::openFile(const char* path) {
    if (m_open) close();
    resetHeader();
    if (!path) return -1;
    char ext[16];
    if (pathExtension(path, ext, sizeof ext) >= 0 && strcasecmp(ext, "mdd") == 0) m_resource = true;
    m_file = ::openFile(path, "rb");
    if (!m_file) {
        m_failure = "the file cannot be opened";
        return -1;
    }
    if (fseeko(m_file.get(), 0, SEEK_END) != 0) return -1;
    off_t end = ftello(m_file.get());
    if (end < 0) return -1;
    m_fileSize = static_cast<uint64_t>(end);
    return 0;
}

CMDictReader* CMDictReader::open(const char* path) {
    if (openFile(path) != 0) {
        m_file.reset();
        return nullptr;
    }
    m_instance = gInstances.fetch_add(1);
    if (readHeader() != 0 || readKeywordSection() != 0 || readRecordSection() != 0) {
        if (m_failure.empty()) m_failure = "the file is damaged";
        close();
        return nullptr;
    }
    m_open = true;
    m_currentBlock = -1;
    m_currentEntry = 0;
    m_loadedKeyBlock = m_loadedRecordBlock = -1;
    m_recordText.reserve(16384);
    m_keyText.reserve(1024);
    return this;
}

CMDictReader* CMDictReader::openHeader(const char* path) {
    if (openFile(path) != 0) {
        m_file.reset();
        return nullptr;
    }
    if (readHeader() != 0) {
        if (m_failure.empty()) m_failure = "the file is damaged";
        close();
        return nullptr;
    }
    m_open = true;
    m_currentBlock = -1;
    m_loadedKeyBlock = m_loadedRecordBlock = -1;
    return this;
}

void CMDictReader::close() {
    m_file.reset();
    m_keyIndex.clear();
    m_recordIndex.clear();
    m_keyBlock.reset();
    m_recordBlock.reset();
    m_cache.clear();
    m_order[0] = KeyOrder();
    m_order[1] = KeyOrder();
    m_enumIndexed = false;
    std::vector<uint64_t>().swap(m_matches);
    std::vector<uint8_t>().swap(m_stored);
    std::vector<char>().swap(m_keyText);
    std::vector<char>().swap(m_recordText);
    std::vector<uint32_t>().swap(m_wide);
    m_loadedKeyBlock = m_loadedRecordBlock = -1;
    m_currentBlock = -1;
    m_currentEntry = 0;
    m_open = false;
}

int CMDictReader::readAt(uint64_t pos, uint8_t* out, uint64_t length) {
    if (pos > m_fileSize || length > m_fileSize - pos) return -1;
    // Positioned reads on the stream's descriptor: no seek, no refill of the
    // stream's buffer.
    return readFullyAt(fileno(m_file.get()), out, static_cast<size_t>(length), pos) ? 0 : -1;
}

int CMDictReader::readHeader() {
    uint8_t b4[4];
    if (readAt(0, b4, 4) != 0) return -1;
    uint32_t length = byteorder::be32(b4);
    if (length > kMaxHeaderLength || uint64_t(length) + 8 > m_fileSize) return -1;
    std::vector<uint8_t> raw(length);
    if (readAt(4, raw.data(), length) != 0 || readAt(4 + uint64_t(length), b4, 4) != 0) return -1;
    if (adler32(adler32(0, nullptr, 0), raw.data(), length) != byteorder::le32(b4)) {
        m_failure = "the header checksum is wrong";
        return -1;
    }
    m_headerLength = length;
    int units = static_cast<int>(length / 2);
    int n = utf16leToUtf8(raw.data(), units, nullptr);
    std::vector<char> text(static_cast<size_t>(n) + 1);
    utf16leToUtf8(raw.data(), units, text.data());
    text[static_cast<size_t>(n)] = '\0';
    parseHeaderAttributes(text.data(), static_cast<size_t>(n));

    if (m_generatedVersion == 0) m_generatedVersion = m_requiredVersion;
    if (!m_styleSheet.empty()) parseStyleSheet();
    m_width = m_generatedVersion < 2.0 ? 4 : 8;
    m_keywordSectionPos = uint64_t(length) + 8;
    m_utf16Keys = m_encoding == "UTF-16" || m_resource;
    if (m_utf16Keys)
        m_keyKind = kUtf16;
    else if (strcasecmp(m_encoding.c_str(), "BIG5") == 0)
        m_keyKind = kBig5;
    else if (strcasecmp(m_encoding.c_str(), "GBK") == 0 || strcasecmp(m_encoding.c_str(), "GB2312") == 0 ||
             strcasecmp(m_encoding.c_str(), "GB18030") == 0)
        m_keyKind = kGbk;
    else
        m_keyKind = kPlain;

    if (m_generatedVersion >= 3.0) {
        char why[96];
        std::snprintf(why, sizeof why, "engine version %.1f files are not supported", m_generatedVersion);
        m_failure = why;
        return -1;
    }
    if (m_encrypted & 1) {
        m_failure = "the file needs a registration code";
        return -1;
    }
    return 0;
}

void CMDictReader::parseHeaderAttributes(const char* text, size_t length) {
    static const char* const kNames[] = {
        "GeneratedByEngineVersion", "RequiredEngineVersion", "Encrypted", "Encoding",   "Format",     "Compact",
        "KeyCaseSensitive",         "Description",           "Title",     "StyleSheet", "RegisterBy", "RegCode"};
    CParseTag tags;
    tags.setText(text, static_cast<uint32_t>(length));
    tags.setSkipSpace(1);
    PARSE_TOKEN token;
    while (tags.getToken(&token) >= 0) {
        if (token.type != PARSE_TOKEN::kStartTag && token.type != PARSE_TOKEN::kEmptyTag) continue;
        const char* name = text + token.start;
        bool root = (token.length >= 10 && strncasecmp(name, "Dictionary", 10) == 0) ||
                    (token.length >= 12 && strncasecmp(name, "Library_Data", 12) == 0);
        if (!root) continue;
        for (const ATTR_SPAN& a : token.attributes) {
            if (!a.name) break;
            std::string value = a.value ? std::string(a.value, a.valueLength) : std::string();
            int which = -1;
            for (int i = 0; i < 12 && which < 0; ++i)
                if (attributeIs(a, kNames[i])) which = i;
            switch (which) {
                case 0:
                    m_generatedVersion = std::strtod(value.c_str(), nullptr);
                    break;
                case 1:
                    m_requiredVersion = std::strtod(value.c_str(), nullptr);
                    break;
                case 2:
                    m_encrypted = std::atoi(value.c_str());
                    break;
                case 3:
                    m_encoding = value;
                    break;
                case 4:
                    m_format = value.empty() ? 0 : value[0];
                    break;
                case 5:
                    m_compact = isYes(value);
                    break;
                case 6:
                    m_keyCaseSensitive = isYes(value);
                    break;
                case 7:
                    m_description = decodeXmlEntities(value.data(), value.size());
                    break;
                case 8:
                    m_title = value;
                    m_hasTitle = true;
                    break;
                case 9:
                    m_styleSheet = decodeXmlEntities(value.data(), value.size());
                    break;
                case 10:
                    m_registerBy = value;
                    m_hasRegisterBy = true;
                    break;
                case 11:
                    m_regCode = value;
                    m_hasRegCode = true;
                    break;
                default:
                    break;
            }
        }
    }
    // Sanity: versions outside any real range are taken as not given.
    if (!(m_generatedVersion >= 0 && m_generatedVersion < 1e6)) m_generatedVersion = 0;
    if (!(m_requiredVersion >= 0 && m_requiredVersion < 1e6)) m_requiredVersion = 0;
}

void CMDictReader::parseStyleSheet() {
    m_styles.clear();
    const std::string& s = m_styleSheet;
    // Lines end at runs of CR and LF, so an empty line is never a line.
    std::vector<std::pair<uint32_t, uint32_t>> lines;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == '\r' || s[i] == '\n')) ++i;
        if (i >= s.size()) break;
        size_t start = i;
        while (i < s.size() && s[i] != '\r' && s[i] != '\n') ++i;
        lines.emplace_back(static_cast<uint32_t>(start), static_cast<uint32_t>(i - start));
    }
    for (size_t l = 0; l + 2 < lines.size(); l += 3) {
        std::string number = s.substr(lines[l].first, lines[l].second);
        long v = std::strtol(number.c_str(), nullptr, 10);
        if (v < 1 || v > 256) break;
        STYLE_TOKEN t;
        t.number = static_cast<uint32_t>(v);
        t.beginOffset = lines[l + 1].first;
        t.beginLength = lines[l + 1].second;
        t.endOffset = lines[l + 2].first;
        t.endLength = lines[l + 2].second;
        m_styles.push_back(t);
    }
}

int CMDictReader::readKeywordSection() {
    const int n = m_width;
    const bool v2 = m_width == 8;
    const uint64_t fixed = v2 ? 5 * 8 + 4 : 4 * 4;
    uint8_t head[44];
    if (readAt(m_keywordSectionPos, head, fixed) != 0) return -1;
    const uint8_t* p = head;
    m_keyNumBlocks = byteorder::beN(p, n);
    m_numEntries = byteorder::beN(p + n, n);
    p += 2 * n;
    if (v2) {
        m_keyInfoDecompSize = byteorder::beN(p, n);
        p += n;
    }
    m_keyInfoSize = byteorder::beN(p, n);
    m_keyBlocksSize = byteorder::beN(p + n, n);
    if (!v2) m_keyInfoDecompSize = m_keyInfoSize;

    const uint64_t infoPos = m_keywordSectionPos + fixed;
    if (infoPos > m_fileSize || m_keyInfoSize > m_fileSize - infoPos || m_keyInfoSize > kMdictMaxBlockSize + 8)
        return -1;
    m_keyBlocksPos = infoPos + m_keyInfoSize;

    std::vector<uint8_t> info(static_cast<size_t>(m_keyInfoSize));
    if (readAt(infoPos, info.data(), m_keyInfoSize) != 0) return -1;
    if (v2) {
        if (m_encrypted & 2) descrambleMdictKeyInfo(info.data(), info.size());
        std::vector<uint8_t> decoded;
        if (decodeMdictBlock(info.data(), info.size(), m_keyInfoDecompSize, &decoded) != 0) {
            m_failure = "the key index cannot be decoded";
            return -1;
        }
        info.swap(decoded);
    }

    const int s = v2 ? 2 : 1;
    const uint64_t t = v2 ? 1 : 0;
    const uint64_t c = m_utf16Keys ? 2 : 1;
    const uint64_t size = info.size();
    m_keyIndex.clear();
    uint64_t pos = 0, compSum = 0, decompSum = 0;
    auto need = [&](uint64_t bytes) { return bytes <= size && pos <= size - bytes; };
    while (pos < size) {
        if (!need(uint64_t(n) + s)) {
            std::printf(" error in read_keyword_sect; first_size : %d:\n", 0);
            return -1;
        }
        pos += n;
        uint64_t f = byteorder::beN(info.data() + pos, s);
        pos += s;
        if (!need((f + t) * c)) {
            std::printf(" error in read_keyword_sect; first_size : %d:\n", static_cast<int>(f));
            return -1;
        }
        pos += (f + t) * c;
        if (!need(uint64_t(s))) {
            std::printf(" error in read_keyword_sect; last_size : %d:\n", 0);
            return -1;
        }
        uint64_t l = byteorder::beN(info.data() + pos, s);
        pos += s;
        if (!need((l + t) * c + 2 * uint64_t(n))) {
            std::printf(" error in read_keyword_sect; last_size : %d:\n", static_cast<int>(l));
            return -1;
        }
        KEYWORD_INDEX_ITEM item;
        const uint8_t* key = info.data() + pos;
        item.keylen = l;
        item.key.assign(reinterpret_cast<const char*>(key), static_cast<size_t>(l * c));
        pos += (l + t) * c;
        item.comp_size = byteorder::beN(info.data() + pos, n);
        item.decomp_size = byteorder::beN(info.data() + pos + n, n);
        pos += 2 * n;
        if (item.comp_size > kMdictMaxStoredSize || item.decomp_size > kMdictMaxBlockSize) return -1;
        item.comp_offs = compSum;
        item.decomp_offs = decompSum;
        compSum += item.comp_size;  // both bounded above: no overflow
        decompSum += item.decomp_size;
        if (compSum > m_fileSize - m_keyBlocksPos) return -1;
        m_keyIndex.push_back(std::move(item));
    }
    if (m_keyIndex.size() != m_keyNumBlocks) {
        std::printf(" key_num_blocks != %d:\n", static_cast<int>(m_keyNumBlocks));
        return -1;
    }
    m_recordSectionPos = m_keyBlocksPos + compSum;
    return 0;
}

int CMDictReader::readRecordSection() {
    const int n = m_width;
    uint8_t head[32];
    if (readAt(m_recordSectionPos, head, 4 * uint64_t(n)) != 0) return -1;
    m_numRecordBlocks = byteorder::beN(head, n);
    m_numRecords = byteorder::beN(head + n, n);
    m_recordInfoSize = byteorder::beN(head + 2 * n, n);
    m_recordBlocksSize = byteorder::beN(head + 3 * n, n);
    const uint64_t tablePos = m_recordSectionPos + 4 * uint64_t(n);
    if (m_numRecordBlocks > (m_fileSize - tablePos) / (2 * uint64_t(n))) return -1;
    const uint64_t tableSize = 2 * uint64_t(n) * m_numRecordBlocks;
    m_recordBlocksPos = tablePos + tableSize;
    std::vector<uint8_t> table(static_cast<size_t>(tableSize));
    if (readAt(tablePos, table.data(), tableSize) != 0) return -1;
    m_recordIndex.clear();
    m_recordIndex.reserve(static_cast<size_t>(m_numRecordBlocks));
    uint64_t compSum = 0, decompSum = 0;
    for (uint64_t i = 0; i < m_numRecordBlocks; ++i) {
        REC_INDEX_ITEM item;
        item.comp_size = byteorder::beN(table.data() + 2 * n * i, n);
        item.decomp_size = byteorder::beN(table.data() + 2 * n * i + n, n);
        if (item.comp_size > kMdictMaxStoredSize || item.decomp_size > kMdictMaxBlockSize) return -1;
        item.comp_offs = compSum;
        item.decomp_offs = decompSum;
        compSum += item.comp_size;
        decompSum += item.decomp_size;
        if (compSum > m_fileSize - m_recordBlocksPos) return -1;
        m_recordIndex.push_back(item);
    }
    return 0;
}

int CMDictReader::readBlock(uint64_t pos, uint64_t storedSize, uint64_t decodedSize, std::vector<uint8_t>* out) {
    m_stored.resize(static_cast<size_t>(storedSize));
    if (readAt(pos, m_stored.data(), storedSize) != 0 ||
        decodeMdictBlock(m_stored.data(), m_stored.size(), decodedSize, out) != 0) {
        out->clear();
        return -1;
    }
    return 0;
}

const std::vector<DATA_ITEM>& CMDictReader::entries() const {
    static const std::vector<DATA_ITEM> kNone;
    return m_keyBlock ? m_keyBlock->entries : kNone;
}

void CMDictReader::parseKeyEntries(const uint8_t* b, size_t size, uint64_t decompOffs,
                                   std::vector<DATA_ITEM>* out) const {
    out->clear();
    size_t q = 0;
    while (q < size) {
        if (size - q < static_cast<size_t>(m_width)) break;
        DATA_ITEM e;
        e.recordOffset = byteorder::beN(b + q, m_width);
        q += static_cast<size_t>(m_width);
        e.keyPos = decompOffs + q;
        if (m_utf16Keys) {
            while (q + 1 < size && (b[q] | b[q + 1]) != 0) q += 2;
            q += 2;
        } else {
            while (q < size && b[q] != 0) ++q;
            q += 1;
        }
        out->push_back(e);
    }
}

int CMDictReader::loadKeyBlock(size_t index) {
    if (index >= m_keyIndex.size()) return -1;
    if (m_loadedKeyBlock == static_cast<int>(index)) return 0;
    m_loadedKeyBlock = -1;
    m_keyBlock = m_cache.find(CMdictBlockCache::kKeyBlock, index);
    if (m_keyBlock) {
        m_loadedKeyBlock = static_cast<int>(index);
        return 0;
    }
    const KEYWORD_INDEX_ITEM& item = m_keyIndex[index];
    auto block = std::make_shared<MDICT_DECODED_BLOCK>();
    if (readBlock(m_keyBlocksPos + item.comp_offs, item.comp_size, item.decomp_size, &block->bytes) != 0) return -1;
    parseKeyEntries(block->bytes.data(), block->bytes.size(), item.decomp_offs, &block->entries);
    block->entries.shrink_to_fit();
    m_keyBlock = block;
    m_cache.put(CMdictBlockCache::kKeyBlock, index, m_keyBlock);
    m_loadedKeyBlock = static_cast<int>(index);
    return 0;
}

int CMDictReader::loadRecordBlock(size_t index) {
    if (index >= m_recordIndex.size()) return -1;
    if (m_loadedRecordBlock == static_cast<int>(index)) return 0;
    m_loadedRecordBlock = -1;
    m_recordBlock = m_cache.find(CMdictBlockCache::kRecordBlock, index);
    if (!m_recordBlock) {
        const REC_INDEX_ITEM& item = m_recordIndex[index];
        auto block = std::make_shared<MDICT_DECODED_BLOCK>();
        if (readBlock(m_recordBlocksPos + item.comp_offs, item.comp_size, item.decomp_size, &block->bytes) != 0)
            return -1;
        m_recordBlock = block;
        m_cache.put(CMdictBlockCache::kRecordBlock, index, m_recordBlock);
    }
    m_loadedRecordBlock = static_cast<int>(index);
    return 0;
}

int CMDictReader::locateKeyBlock(uint64_t keyPos) {
    int index = blockHolding(m_keyIndex, m_loadedKeyBlock, keyPos);
    if (index < 0 || index == m_loadedKeyBlock) return index;
    return loadKeyBlock(static_cast<size_t>(index)) == 0 ? index : -1;
}

int CMDictReader::locateRecordBlock(uint64_t recordOffset) {
    int index = blockHolding(m_recordIndex, m_loadedRecordBlock, recordOffset);
    if (index < 0 || index == m_loadedRecordBlock) return index;
    return loadRecordBlock(static_cast<size_t>(index)) == 0 ? index : -1;
}

int CMDictReader::toUtf8(const uint8_t* text, size_t length, std::vector<char>* out) {
    out->clear();
    if (m_keyKind == kUtf16) {
        size_t units = 0;
        while (2 * units + 1 < length && (text[2 * units] | text[2 * units + 1]) != 0) ++units;
        if (units > 0x3FFFFFFF) return -1;
        int n = utf16leToUtf8(text, static_cast<int>(units), nullptr);
        out->resize(static_cast<size_t>(n) + 1);
        utf16leToUtf8(text, static_cast<int>(units), out->data());
        (*out)[static_cast<size_t>(n)] = '\0';
        return 0;
    }
    size_t bytes = 0;
    while (bytes < length && text[bytes] != 0) ++bytes;
    if (m_keyKind == kPlain) {
        out->assign(reinterpret_cast<const char*>(text), reinterpret_cast<const char*>(text) + bytes);
        out->push_back('\0');
        return 0;
    }
    if (bytes > 0x7FFFFFFF) return -1;
    const uint32_t len = static_cast<uint32_t>(bytes);
    // Converted in one pass into a buffer kept between calls: len bytes are
    // at most len characters.
    m_wide.resize(static_cast<size_t>(len) + 1);
    int count = m_keyKind == kBig5 ? big5ToWide(m_wide.data(), text, len) : gbkToWide(m_wide.data(), text, len);
    if (count < 1) return -1;
    int n = wideToUtf8(m_wide.data(), count, nullptr);
    out->resize(static_cast<size_t>(n) + 1);
    wideToUtf8(m_wide.data(), count, out->data());
    (*out)[static_cast<size_t>(n)] = '\0';
    return 0;
}

char* CMDictReader::keyText(uint64_t keyPos) {
    if (!m_open) return nullptr;
    int index = locateKeyBlock(keyPos);
    if (index < 0) return nullptr;
    const uint64_t start = keyPos - m_keyIndex[static_cast<size_t>(index)].decomp_offs;
    const std::vector<uint8_t>& bytes = m_keyBlock->bytes;
    if (toUtf8(bytes.data() + start, bytes.size() - start, &m_keyText) != 0) return nullptr;
    return m_keyText.data();
}

char* CMDictReader::recordText(uint64_t recordOffset) {
    if (!m_open) return nullptr;
    int index = locateRecordBlock(recordOffset);
    if (index < 0) return nullptr;
    const uint64_t start = recordOffset - m_recordIndex[static_cast<size_t>(index)].decomp_offs;
    const std::vector<uint8_t>& bytes = m_recordBlock->bytes;
    if (toUtf8(bytes.data() + start, bytes.size() - start, &m_recordText) != 0) return nullptr;
    return m_recordText.data();
}

uint8_t* CMDictReader::resourceAt(uint64_t recordOffset, uint64_t* available) {
    if (!m_open) return nullptr;
    int index = locateRecordBlock(recordOffset);
    if (index < 0) return nullptr;
    const uint64_t start = recordOffset - m_recordIndex[static_cast<size_t>(index)].decomp_offs;
    // The reader only hands out bytes to read; the block stays unchanged.
    uint8_t* bytes = const_cast<uint8_t*>(m_recordBlock->bytes.data());
    if (available) *available = m_recordBlock->bytes.size() - start;
    return bytes + start;
}

uint8_t* CMDictReader::resourceData(const char* name, uint64_t* size) {
    uint64_t keyPos = 0, offset = 0, next = 0, available = 0;
    if (findKeyWith(name, &keyPos, &offset, kResource) < 0) return nullptr;
    if (nextEntryOffset(&next) < 0 || next < offset) return nullptr;
    uint8_t* data = resourceAt(offset, &available);
    if (!data) return nullptr;
    if (size) *size = std::min(next - offset, available);
    return data;
}

void CMDictReader::keyForm(const char* key, Match match, std::string* out) const {
    const bool skip = match != kResource;
    const bool fold = !m_keyCaseSensitive;
    out->clear();
    for (; *key; ++key) {
        if (skip && isKeyPunct(*key)) continue;
        out->push_back(fold ? static_cast<char>(lower(*key)) : *key);
    }
}

void CMDictReader::buildKeyOrder(Match match) {
    KeyOrder& order = m_order[match == kResource ? 1 : 0];
    order = KeyOrder();
    order.built = true;
    std::vector<DATA_ITEM> entries;
    std::vector<uint8_t> bytes;
    std::vector<char> text;
    std::string form, previous;
    // The first pass only checks the order; a file out of order is read
    // again to index its keys (most such files show it in their first blocks).
    for (int pass = 0; pass < 2; ++pass) {
        const bool indexing = pass == 1;
        bool sorted = true, any = false;
        order.lastForm.clear();
        for (size_t k = 0; k < m_keyIndex.size() && (sorted || indexing); ++k) {
            const KEYWORD_INDEX_ITEM& item = m_keyIndex[k];
            // A block kept decoded is used as it is; the others are decoded
            // here and not kept, so that the pass leaves the cache as it was.
            const MdictBlockRef cached = m_cache.find(CMdictBlockCache::kKeyBlock, k);
            const uint8_t* b = nullptr;
            size_t size = 0;
            if (cached) {
                b = cached->bytes.data();
                size = cached->bytes.size();
                entries = cached->entries;
            } else if (readBlock(m_keyBlocksPos + item.comp_offs, item.comp_size, item.decomp_size, &bytes) == 0) {
                b = bytes.data();
                size = bytes.size();
                parseKeyEntries(b, size, item.decomp_offs, &entries);
            } else {
                sorted = false;  // its keys cannot be found: they are left out
                continue;
            }
            for (const DATA_ITEM& e : entries) {
                const uint64_t start = e.keyPos - item.decomp_offs;
                if (toUtf8(b + start, size - start, &text) != 0) {
                    sorted = false;
                    continue;
                }
                keyForm(text.data(), match, &form);
                if (any && form < previous) sorted = false;
                if (indexing) {
                    if (order.forms.size() + form.size() > UINT32_MAX) continue;
                    order.index.push_back(KeyOrder::Entry{e.keyPos, static_cast<uint32_t>(order.forms.size()),
                                                          static_cast<uint32_t>(form.size())});
                    order.forms += form;
                } else if (!sorted) {
                    break;
                }
                previous.swap(form);
                any = true;
            }
            if (!indexing) order.lastForm.push_back(previous);
        }
        if (!indexing && sorted) {
            order.sorted = true;
            return;
        }
    }
    order.lastForm.clear();
    order.lastForm.shrink_to_fit();
    order.index.shrink_to_fit();
    order.forms.shrink_to_fit();
    const std::string& forms = order.forms;
    std::sort(order.index.begin(), order.index.end(), [&forms](const KeyOrder::Entry& a, const KeyOrder::Entry& b) {
        int c = forms.compare(a.formOffset, a.formLength, forms, b.formOffset, b.formLength);
        return c != 0 ? c < 0 : a.keyPos < b.keyPos;
    });
}

namespace {

// How the form of a key relates to a query's form: the order of the two
// (<0, 0, >0) and whether the key's form begins with the query's.
struct FormOrder {
    int order;
    bool begins;
};

FormOrder compareForms(const char* key, size_t keyLength, const std::string& query) {
    const size_t n = std::min(keyLength, query.size());
    int c = std::memcmp(key, query.data(), n);
    if (c != 0) return FormOrder{c, false};
    return FormOrder{keyLength < query.size() ? -1 : (keyLength > query.size() ? 1 : 0), keyLength >= query.size()};
}

bool formMatches(const FormOrder& f, int exact) {
    return exact ? f.order == 0 : f.begins;
}

}  // namespace

int CMDictReader::selectEntry(uint64_t keyPos, uint64_t* recordOffset) {
    const int k = locateKeyBlock(keyPos);
    if (k < 0) return -1;
    const std::vector<DATA_ITEM>& list = entries();
    auto it = std::lower_bound(list.begin(), list.end(), keyPos,
                               [](const DATA_ITEM& e, uint64_t pos) { return e.keyPos < pos; });
    if (it == list.end() || it->keyPos != keyPos) return -1;
    if (recordOffset) *recordOffset = it->recordOffset;
    m_currentBlock = k;
    m_currentEntry = static_cast<uint32_t>(it - list.begin());
    return k;
}

int CMDictReader::findKeyWith(const char* query, uint64_t* keyPos, uint64_t* recordOffset, Match match) {
    m_currentBlock = -1;
    m_enumIndexed = false;
    m_matches.clear();
    if (!m_open || !query || !*query || m_keyIndex.empty()) return -1;
    KeyOrder& order = m_order[match == kResource ? 1 : 0];
    if (!order.built) buildKeyOrder(match);
    keyForm(query, match, &m_queryForm);
    const std::string& q = m_queryForm;
    const int exact = match != kPrefix;

    if (!order.sorted) {
        // The keys whose forms match, by key position.
        const std::string& forms = order.forms;
        auto formOf = [&forms](const KeyOrder::Entry& e) {
            return std::make_pair(forms.data() + e.formOffset, size_t(e.formLength));
        };
        auto it = std::lower_bound(order.index.begin(), order.index.end(), q, [&](const KeyOrder::Entry& e,
                                                                                  const std::string& v) {
            auto f = formOf(e);
            return compareForms(f.first, f.second, v).order < 0;
        });
        for (; it != order.index.end(); ++it) {
            auto f = formOf(*it);
            if (!formMatches(compareForms(f.first, f.second, q), exact)) break;
            m_matches.push_back(it->keyPos);
        }
        if (m_matches.empty()) return -1;
        if (!exact) std::sort(m_matches.begin(), m_matches.end());
        m_enumIndexed = true;
        m_matchCursor = 0;
        if (keyPos) *keyPos = m_matches[0];
        return selectEntry(m_matches[0], recordOffset);
    }

    // Sorted: the matches follow one another from the first key whose form is
    // not below the query's, which lies in the first block whose largest form
    // is not below it.
    auto first = std::lower_bound(order.lastForm.begin(), order.lastForm.end(), q);
    for (size_t k = static_cast<size_t>(first - order.lastForm.begin()); k < m_keyIndex.size(); ++k) {
        if (loadKeyBlock(k) != 0) return -1;
        const MdictBlockRef block = m_keyBlock;  // held while keyText runs
        for (size_t e = 0; e < block->entries.size(); ++e) {
            const DATA_ITEM entry = block->entries[e];
            const char* key = keyText(entry.keyPos);
            if (!key) return -1;
            keyForm(key, match, &m_entryForm);
            const FormOrder f = compareForms(m_entryForm.data(), m_entryForm.size(), q);
            if (f.order < 0) continue;
            if (!formMatches(f, exact)) return -1;
            if (keyPos) *keyPos = entry.keyPos;
            if (recordOffset) *recordOffset = entry.recordOffset;
            m_currentBlock = static_cast<int>(k);
            m_currentEntry = static_cast<uint32_t>(e);
            return m_currentBlock;
        }
    }
    return -1;
}

int CMDictReader::findKey(const char* query, uint64_t* keyPos, uint64_t* recordOffset, int exact) {
    return findKeyWith(query, keyPos, recordOffset, exact ? kExact : kPrefix);
}

int CMDictReader::findNextKeyWith(const char* query, uint64_t* keyPos, uint64_t* recordOffset, Match match) {
    if (!m_open || !query || !*query || m_currentBlock < 0) return -1;
    keyForm(query, match, &m_queryForm);
    if (m_enumIndexed) {
        if (m_matchCursor + 1 >= m_matches.size()) return -1;
        const uint64_t pos = m_matches[++m_matchCursor];
        const char* key = keyText(pos);
        if (!key) return -1;
        keyForm(key, match, &m_entryForm);
        if (!formMatches(compareForms(m_entryForm.data(), m_entryForm.size(), m_queryForm), match != kPrefix))
            return -1;
        if (keyPos) *keyPos = pos;
        return selectEntry(pos, recordOffset);
    }
    // Reading keys of other blocks may have replaced the entry list.
    if (m_loadedKeyBlock != m_currentBlock && loadKeyBlock(static_cast<size_t>(m_currentBlock)) != 0) return -1;
    ++m_currentEntry;
    if (m_currentEntry >= entries().size()) {
        ++m_currentBlock;
        m_currentEntry = 0;
        if (static_cast<uint64_t>(m_currentBlock) >= m_keyIndex.size()) {
            m_currentBlock = -1;
            return -1;
        }
        if (loadKeyBlock(static_cast<size_t>(m_currentBlock)) != 0) return -1;
    }
    if (entries().empty()) return -1;
    const DATA_ITEM entry = entries()[m_currentEntry];
    const char* key = keyText(entry.keyPos);
    if (!key) return -1;
    keyForm(key, match, &m_entryForm);
    if (!formMatches(compareForms(m_entryForm.data(), m_entryForm.size(), m_queryForm), match != kPrefix)) return -1;
    if (keyPos) *keyPos = entry.keyPos;
    if (recordOffset) *recordOffset = entry.recordOffset;
    return m_currentBlock;
}

int CMDictReader::findNextKey(const char* query, uint64_t* keyPos, uint64_t* recordOffset, int exact) {
    return findNextKeyWith(query, keyPos, recordOffset, exact ? kExact : kPrefix);
}

int CMDictReader::nextEntryOffset(uint64_t* next) {
    if (!m_open || m_currentBlock < 0) return -1;
    if (m_loadedKeyBlock != m_currentBlock && loadKeyBlock(static_cast<size_t>(m_currentBlock)) != 0) return -1;
    ++m_currentEntry;
    if (m_currentEntry >= entries().size()) {
        ++m_currentBlock;
        m_currentEntry = 0;
        if (static_cast<uint64_t>(m_currentBlock) < m_keyIndex.size()) {
            if (loadKeyBlock(static_cast<size_t>(m_currentBlock)) != 0) return -1;
        } else {
            m_keyBlock.reset();
            m_loadedKeyBlock = -1;
        }
    }
    if (!entries().empty()) {
        if (next) *next = entries()[m_currentEntry].recordOffset;
        return m_currentBlock;
    }
    if (!m_recordIndex.empty()) {
        if (next) *next = m_recordIndex.back().decomp_offs + m_recordIndex.back().decomp_size;
        return m_currentBlock;
    }
    return -1;
}

void CMDictReader::clearResults() {
    std::vector<MDICT_HIT>().swap(m_results);
}

void CMDictReader::addResult(uint64_t keyPos, uint64_t recordOffset) {
    if (m_results.capacity() == 0) m_results.reserve(1024);
    m_results.push_back(MDICT_HIT{m_instance, keyPos, recordOffset});
}

int CMDictReader::getResults(MDICT_HIT** list, uint32_t* count) {
    if (m_results.empty()) {
        if (list) *list = nullptr;
        if (count) *count = 0;
        return -1;
    }
    if (list) *list = m_results.data();
    if (count) *count = static_cast<uint32_t>(m_results.size());
    return 0;
}

int CMDictReader::search(const char* query, int exact, int max, uint32_t* more) {
    clearResults();
    int count = 0;
    uint64_t keyPos = 0, offset = 0;
    int r = findKey(query, &keyPos, &offset, exact);
    while (r >= 0) {
        addResult(keyPos, offset);
        ++count;
        if (max > 0 && count >= max) {
            if (more) *more = 1;
            return count;
        }
        r = findNextKey(query, &keyPos, &offset, exact);
    }
    return count;
}

int CMDictReader::searchText(const char* query, int max, uint32_t* more, const std::atomic<uint16_t>* cancel,
                             MdictProgress progress, void* user) {
    clearResults();
    int hits = 0;
    if (!m_open || !query) return 0;
    const size_t q = std::strlen(query);
    if (q == 0) return 0;
    for (size_t k = 0; k < m_keyIndex.size(); ++k) {
        if (loadKeyBlock(k) != 0) continue;
        const MdictBlockRef block = m_keyBlock;
        for (const DATA_ITEM& e : block->entries) {
            const char* text = recordText(e.recordOffset);
            if (text) {
                const size_t len = std::strlen(text);
                if (len >= q && std::search(text, text + len, query, query + q) != text + len) {
                    addResult(e.keyPos, e.recordOffset);
                    ++hits;
                }
            }
            if (max > 0 && hits >= max) {
                if (more) *more = 1;
                return hits;
            }
            if (progress) progress(user, hits, m_numEntries, hits);
            if (cancel && *cancel) {
                if (more) *more = 1;
                return hits;
            }
        }
    }
    return hits;
}

int CMDictReader::readHit(const MDICT_HIT* hit, char** key, char** text) {
    if (!hit) return -1;
    char* k = keyText(hit->keyPos);
    if (!k) return -1;
    if (key) *key = k;
    char* t = recordText(hit->recordOffset);
    if (!t) return -1;
    if (text) *text = t;
    return 0;
}

int CMDictReader::getHit(uint32_t index, char** key, char** text) {
    if (index >= m_results.size()) return -1;
    const MDICT_HIT hit = m_results[index];
    if (key) *key = keyText(hit.keyPos);
    if (text) *text = recordText(hit.recordOffset);
    return 0;
}

const STYLE_TOKEN* CMDictReader::style(uint32_t number) const {
    for (const STYLE_TOKEN& t : m_styles)
        if (t.number == number) return &t;
    return nullptr;
}

int CMDictReader::applyStyleSheet(const char* text, uint32_t /*length*/, char* out, uint32_t capacity) {
    // A piece that does not fit ends the output: nothing after it is added.
    CBoundedText w(out, capacity);
    auto put = [&w](const char* piece, size_t n) {
        if (!w.stopped()) w.append(piece, n);
    };
    if (!text) text = "";
    if (m_format == 'T') put("<pre>", 5);
    uint32_t current = 0;
    bool phonetic = false;
    const char* s = text;
    while (*s && !w.stopped()) {
        if (*s == '`' && std::isdigit(static_cast<unsigned char>(s[1]))) {
            if (current > 0) {
                phonetic = false;
                if (const STYLE_TOKEN* t = style(current)) put(m_styleSheet.data() + t->endOffset, t->endLength);
            }
            ++s;
            uint32_t number = 0;
            while (std::isdigit(static_cast<unsigned char>(*s))) {
                if (number < 100000) number = number * 10 + static_cast<uint32_t>(*s - '0');
                ++s;
            }
            if (*s == '`') ++s;
            current = number;
            if (current > 0) {
                phonetic = false;
                if (const STYLE_TOKEN* t = style(current)) {
                    const char* b = m_styleSheet.data() + t->beginOffset;
                    const char* e = b + t->beginLength;
                    for (const char* p = b; p < e;) {
                        if (static_cast<size_t>(e - p) >= kPhoneticAttributeLength &&
                            strncasecmp(p, kPhoneticAttribute, kPhoneticAttributeLength) == 0) {
                            phonetic = true;
                            put(b, static_cast<size_t>(p - b));
                            p += kPhoneticAttributeLength;
                            while (p < e && *p != '"') ++p;
                            if (p < e) ++p;
                            b = p;
                        } else {
                            ++p;
                        }
                    }
                    put(b, static_cast<size_t>(e - b));
                }
            }
            continue;
        }
        if (!phonetic) {
            if (strncasecmp(s, kPhoneticAttribute, kPhoneticAttributeLength) == 0) {
                phonetic = true;
                s += kPhoneticAttributeLength;
                while (*s && *s != '"') ++s;
                if (*s) ++s;
                const char* b = s;
                while (*s && *s != '>') ++s;
                put(b, static_cast<size_t>(s - b));
                continue;
            }
            put(s, 1);
            ++s;
            continue;
        }
        if (strncasecmp(s, "</font>", 7) == 0) {
            phonetic = false;
            put(s, 1);
            ++s;
            continue;
        }
        if (const char* m = phoneticText(static_cast<unsigned char>(*s)))
            put(m, std::strlen(m));
        else
            put(s, 1);
        ++s;
    }
    if (current > 0)
        if (const STYLE_TOKEN* t = style(current)) put(m_styleSheet.data() + t->endOffset, t->endLength);
    if (m_format == 'T') put("</pre>", 6);
    return w.stopped() ? 0 : 1;
}

void CMDictReader::formatInfo(char* buffer, uint32_t size, uint32_t /*unused*/) {
    if (!buffer || size == 0) return;
    CBoundedText w(buffer, size);
    const uint32_t limit = size > 255 ? size - 255 : 0;
    auto line = [&](const char* fmt, auto... args) {
        // No line follows one that did not fit or the text reaching the limit.
        if (w.stopped() || (w.length() > 0 && w.length() >= limit)) return;
        char text[1024];
        int n = std::snprintf(text, sizeof text, fmt, args...);
        if (n < 0) return;
        if (static_cast<size_t>(n) >= sizeof text) {
            // A long value (a title) is cut; the line still ends with CR LF.
            n = sizeof text - 1;
            text[n - 2] = '\r';
            text[n - 1] = '\n';
        }
        w.append(text, static_cast<size_t>(n));
    };
    line("%s", "[MDict]\r\n");
    line("GeneratedByEngineVersion = %.1f\r\n", m_generatedVersion);
    line("RequiredEngineVersion = %.1f\r\n", m_requiredVersion);
    line("Encrypted = %d\r\n", m_encrypted);
    line("Encoding = %s\r\n", m_encoding.c_str());
    line("Compact = %d\r\n", m_compact);
    line("KeyCaseSensitive = %d\r\n", m_keyCaseSensitive);
    if (m_format)
        line("Format = %c\r\n", m_format);
    else
        line("%s", "Format = \r\n");
    if (m_hasTitle) line("Title = %s\r\n", m_title.c_str());
    if (m_hasRegisterBy) line("RegisterBy = %s\r\n", m_registerBy.c_str());
    if (m_hasRegCode) line("RegCode = %s\r\n", m_regCode.c_str());
    line("Total number of records = %llu\r\n", static_cast<unsigned long long>(m_numRecords));
    if (!m_failure.empty()) line("Unsupported = %s\r\n", m_failure.c_str());
}

void CMDictReader::dumpKeys() {
    if (!m_open) return;
    for (size_t k = 0; k < m_keyIndex.size(); ++k) {
        if (loadKeyBlock(k) != 0) continue;
        const MdictBlockRef block = m_keyBlock;
        for (const DATA_ITEM& e : block->entries)
            if (const char* key = keyText(e.keyPos)) std::printf("%s\n", key);
    }
}

void CMDictReader::dumpKeyIndex() {
    for (const KEYWORD_INDEX_ITEM& k : m_keyIndex) {
        std::string key = k.key.substr(0, std::strlen(k.key.c_str()));
        std::printf("comp_size=%lld decomp_size=%lld comp_offs=%lld decomp_offs=%lld key=%s keylen=%d\n",
                    static_cast<long long>(k.comp_size), static_cast<long long>(k.decomp_size),
                    static_cast<long long>(k.comp_offs), static_cast<long long>(k.decomp_offs), key.c_str(),
                    static_cast<int>(k.keylen));
    }
}

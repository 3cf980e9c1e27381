// Complex-search definition file reader.
#include "builder/complex/CComplexDef.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "builder/CParseTag0.h"
#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"

namespace {

[[noreturn]] void refuse(const char* what, int line) {
    char msg[160];
    std::snprintf(msg, sizeof msg, "%s (line %d)(loadComplexDef)\r\n", what, line);
    throw std::runtime_error(msg);
}

// The attribute key of a tag, when it has one.
bool attributeOf(const TAG_ITEM& tag, const char* key, std::string* out) {
    const size_t n = std::strlen(key);
    for (const TAG_ATTR_ITEM& a : tag.attr) {
        if (a.name == nullptr) break;
        if (static_cast<size_t>(a.nameLen) != n || strncasecmp(a.name, key, n) != 0) continue;
        out->assign(a.value ? a.value : "", a.value ? static_cast<size_t>(a.valueLen) : 0);
        return true;
    }
    return false;
}

// Blanks at both ends removed.
std::string trimmed(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
    return s.substr(a, b - a);
}

// Text cut to at most limit bytes without splitting a two-byte character.
std::string cutText(const std::string& s, size_t limit) {
    size_t i = 0;
    while (i < s.size()) {
        size_t step = jclib::isSjisLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
        if (i + step > limit) break;
        i += step;
    }
    return s.substr(0, i);
}

// Line numbers of positions met in ascending order.
struct LineCounter {
    const char* data;
    size_t at = 0;
    int line = 1;
    int lineOf(size_t pos) {
        for (; at < pos; ++at)
            if (data[at] == '\n') ++line;
        return line;
    }
};

}  // namespace

void CComplexDef::load(const char* path) {
    FilePtr f(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!f) throw std::runtime_error("Complex definition file not found(loadComplexDef)\r\n");
    std::vector<char> data;
    char buf[8192];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (data.size() + got > kMaxFileSize)
            throw std::runtime_error("Complex definition file too large(loadComplexDef)\r\n");
        data.insert(data.end(), buf, buf + got);
    }
    if (std::ferror(f.get())) throw std::runtime_error("Complex definition file not readable(loadComplexDef)\r\n");
    parse(data.data(), data.size());
}

bool CComplexDef::isUtf8(const char* data, size_t size) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(data);
    if (size >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) return true;
    bool multi = false;
    for (size_t i = 0; i < size && !multi; ++i) multi = s[i] >= 0x80;
    if (!multi || size > 0x7FFFFFFF || !isUtf8Text(data, static_cast<int>(size))) return false;
    // Valid UTF-8 that is valid Shift_JIS as well stays Shift_JIS.
    for (size_t i = 0; i < size;) {
        const unsigned char b = s[i];
        if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
            ++i;
        } else if (jclib::isSjisLead(b) && i + 1 < size && s[i + 1] >= 0x40 && s[i + 1] <= 0xFC && s[i + 1] != 0x7F) {
            i += 2;
        } else {
            return true;
        }
    }
    return false;
}

void CComplexDef::parse(const char* data, size_t size) {
    m_defs.clear();
    if (size > kMaxFileSize) throw std::runtime_error("Complex definition file too large(loadComplexDef)\r\n");
    std::vector<unsigned char> converted;
    if (isUtf8(data, size)) {
        // Read as the builder's Shift_JIS working text.
        if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
            data += 3;
            size -= 3;
        }
        converted.resize(size + 4);
        const int n = utf8ToSjis(data, static_cast<int>(size), converted.data(), converted.size());
        data = reinterpret_cast<const char*>(converted.data());
        size = static_cast<size_t>(n);
    }
    CParseTag0 tok;
    tok.reset();
    // Open elements, innermost last: the definition, the field, up to two
    // candidate groups and a keyword.
    COMPLEX_DEF* def = nullptr;
    COMPLEX_FIELD* field = nullptr;
    std::vector<COMPLEX_CANDIDATE*> groups;  // open CATEGORY / SUBCATEGORY
    std::vector<int> groupTags;
    bool inKeyword = false;
    std::string keyword;
    size_t candidates = 0;

    auto addCandidate = [&](const std::string& label, int line) -> COMPLEX_CANDIDATE* {
        if (++candidates > COMPLEX_MAX_CANDIDATES) refuse("too many candidates in one field", line);
        std::vector<COMPLEX_CANDIDATE>& list = groups.empty() ? field->candidates : groups.back()->children;
        list.push_back(COMPLEX_CANDIDATE());
        list.back().label = label;
        return &list.back();
    };
    auto endKeyword = [&](int line) {
        inKeyword = false;
        std::string word = cutText(trimmed(keyword), COMPLEX_MAX_NAME);
        if (word.empty()) refuse("<KEYWORD> without a word", line);
        addCandidate(word, line);
    };
    auto closeGroupsTo = [&](size_t depth) {
        while (groups.size() > depth) {
            groups.pop_back();
            groupTags.pop_back();
        }
    };

    LineCounter lines{data};
    size_t pos = 0;
    while (pos < size) {
        TAG_ITEM tag;
        int start = 0;
        int used =
            tok.parseTag(data + pos, &tag, static_cast<int>(size - pos > 0x7FFFFFFF ? 0x7FFFFFFF : size - pos), &start);
        if (used <= 0) break;
        const size_t tokenAt = pos + static_cast<size_t>(start);
        const int line = lines.lineOf(tokenAt);
        pos += static_cast<size_t>(used);
        if (tag.code == TAG_TEXT) {
            if (inKeyword && tokenAt < pos) {
                if (keyword.size() < 4 * COMPLEX_MAX_NAME) keyword.append(data + tokenAt, pos - tokenAt);
                keyword += ' ';
            }
            continue;
        }
        if (inKeyword && tag.code != TAG_KEYWORD_END) endKeyword(line);
        std::string name;
        const bool hasName = attributeOf(tag, "name", &name);
        name = trimmed(name);
        const bool selfClosing = tag.isEndTag != 0;
        switch (tag.code) {
            case TAG_COMPLEX:
                if (def != nullptr) refuse("<COMPLEX> inside <COMPLEX>", line);
                if (m_defs.size() >= COMPLEX_MAX_SEARCHES) refuse("more than 10 complex searches", line);
                m_defs.push_back(COMPLEX_DEF());
                def = &m_defs.back();
                def->title = cutText(name, COMPLEX_TITLE_BYTES);
                if (selfClosing) refuse("<COMPLEX> without fields", line);
                break;
            case TAG_COMPLEX_END:
                if (def == nullptr) refuse("</COMPLEX> without <COMPLEX>", line);
                if (def->fields.empty()) refuse("<COMPLEX> without fields", line);
                closeGroupsTo(0);
                field = nullptr;
                def = nullptr;
                break;
            case TAG_GROUP:
                if (def == nullptr) refuse("<GROUP> outside <COMPLEX>", line);
                if (field != nullptr) refuse("<GROUP> inside <GROUP>", line);
                if (def->fields.size() >= COMPLEX_MAX_FIELDS) refuse("more than 5 fields in one complex search", line);
                if (!hasName || name.empty()) refuse("<GROUP> without a name", line);
                def->fields.push_back(COMPLEX_FIELD());
                field = &def->fields.back();
                field->label = cutText(name, COMPLEX_LABEL_BYTES);
                {
                    std::string type;
                    field->bookIndex = attributeOf(tag, "type", &type) && strcasecmp(type.c_str(), "keyword") == 0;
                }
                candidates = 0;
                if (selfClosing) {
                    field->names.push_back(cutText(name, COMPLEX_MAX_NAME));
                    field = nullptr;
                }
                break;
            case TAG_GROUP_END:
                if (field == nullptr) refuse("</GROUP> without <GROUP>", line);
                if (field->names.empty()) field->names.push_back(cutText(field->label, COMPLEX_MAX_NAME));
                closeGroupsTo(0);
                field = nullptr;
                break;
            case TAG_ATTR:
                if (field == nullptr) refuse("<ATTR> outside <GROUP>", line);
                if (!hasName || name.empty()) refuse("<ATTR> without a name", line);
                field->names.push_back(cutText(name, COMPLEX_MAX_NAME));
                break;
            case TAG_CATEGORY:
            case TAG_SUBCATEGORY: {
                const bool sub = tag.code == TAG_SUBCATEGORY;
                if (field == nullptr)
                    refuse(sub ? "<SUBCATEGORY> outside <GROUP>" : "<CATEGORY> outside <GROUP>", line);
                if (sub) {
                    // Only inside a CATEGORY, one level deep.
                    if (!groupTags.empty() && groupTags.back() == TAG_SUBCATEGORY)
                        refuse("<SUBCATEGORY> inside <SUBCATEGORY>", line);
                    if (groupTags.empty()) refuse("<SUBCATEGORY> outside <CATEGORY>", line);
                } else {
                    closeGroupsTo(0);
                }
                if (!hasName || name.empty())
                    refuse(sub ? "<SUBCATEGORY> without a name" : "<CATEGORY> without a name", line);
                COMPLEX_CANDIDATE* c = addCandidate(cutText(name, COMPLEX_MAX_NAME), line);
                if (!selfClosing) {
                    groups.push_back(c);
                    groupTags.push_back(tag.code);
                }
                break;
            }
            case TAG_CATEGORY_END:
                closeGroupsTo(0);
                break;
            case TAG_SUBCATEGORY_END:
                if (!groupTags.empty() && groupTags.back() == TAG_SUBCATEGORY) closeGroupsTo(groups.size() - 1);
                break;
            case TAG_KEYWORD:
                if (field == nullptr) refuse("<KEYWORD> outside <GROUP>", line);
                keyword = name;
                if (selfClosing)
                    endKeyword(line);
                else
                    inKeyword = true;
                break;
            case TAG_KEYWORD_END:
                if (inKeyword) endKeyword(line);
                break;
            default:
                // Comments, declarations and other tags carry nothing here.
                break;
        }
    }
    if (inKeyword) endKeyword(lines.lineOf(size));
    if (def != nullptr && def->fields.empty()) refuse("<COMPLEX> without fields", lines.lineOf(size));
    // A definition that defines nothing is refused like a faulty one: the
    // book would silently have no multi search.
    if (m_defs.empty()) refuse("no <COMPLEX> in the definition", lines.lineOf(size));
    for (COMPLEX_DEF& d : m_defs)
        for (COMPLEX_FIELD& f : d.fields)
            if (f.names.empty()) f.names.push_back(cutText(f.label, COMPLEX_MAX_NAME));
}

// Delimited text reader.
#include "builder/sources/CCSVParser.h"

#include <cctype>
#include <stdexcept>

#include "builder/CEBBook.h"
#include "builder/ConvertOpt.h"
#include "builder/navigation/NavigationEntries.h"
#include "builder/sources/CHTMLParser.h"
#include "builder/sources/entrywriter.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/escapecodes.h"
#include "foundation/codes/jclib.h"

namespace {

// Records whose fault is named in the log, one line each; the rest are
// counted in one line at the end of the source.
const long kReportedRecords = 20;

std::vector<std::string> splitAt(const std::string& text, char c) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(c, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return parts;
}

// The value of a tag's attribute (name in lower case), quoted or not;
// empty when the tag has none.
std::string attributeValue(const std::string& tag, const char* name) {
    std::string lower = tag;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string key = std::string(name) + "=";
    size_t at = 0;
    while ((at = lower.find(key, at)) != std::string::npos) {
        if (at > 0 && !std::isspace(static_cast<unsigned char>(lower[at - 1]))) {
            ++at;
            continue;
        }
        at += key.size();
        if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
            const char q = tag[at];
            size_t end = tag.find(q, at + 1);
            return tag.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        }
        size_t end = at;
        while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end]))) ++end;
        return tag.substr(at, end - at);
    }
    return std::string();
}

// Closes a reference: the end code with a placeholder position (the start of
// the source until the link is resolved) and the link registered. An empty
// target wrote no reference and closes nothing.
void endReference(CEBBook* book, CBlockStream* body, const std::string& target, int sourceNo,
                  const BLOCK_POS& unresolved) {
    if (target.empty()) return;
    body->writeCode(EB_END_REFERENCE);
    BLOCK_POS site;
    body->tell(&site);
    body->writeBcd(unresolved.block, 4);
    body->writeBcd(unresolved.offset, 2);
    book->addLink(target.data(), static_cast<int>(target.size()), &site, sourceNo, LINK_ANCHOR);
}

void message(CEBBook* book, const std::string& text) {
    CEBBook::postMessage(book, text.c_str());
}

std::string lineMessage(const char* what, const char* path, long line) {
    return std::string(what) + " in " + path + " (Line=" + std::to_string(line) + ") (parseCSV)\r\n";
}

}  // namespace

bool CCSVParser::parseFieldSpec(const char* text, FieldSpec* spec, std::string* error) {
    *spec = FieldSpec();
    if (text == nullptr || *text == 0) {
        *error = "empty field spec";
        return false;
    }
    bool haveFields = false;
    for (const std::string& piece : splitAt(text, ';')) {
        if (piece.empty()) continue;
        size_t eq = piece.find('=');
        if (eq == std::string::npos) {
            *error = "unknown item \"" + piece + "\" in field spec";
            return false;
        }
        const std::string key = piece.substr(0, eq), value = piece.substr(eq + 1);
        if (key == "enc") {
            if (value == "utf-8")
                spec->encoding = kUtf8;
            else if (value == "utf-16")
                spec->encoding = kUtf16;
            else if (value == "shift_jis")
                spec->encoding = kShiftJis;
            else {
                *error = "unknown encoding \"" + value + "\" in field spec";
                return false;
            }
        } else if (key == "delim") {
            if (value != "," && value != "\t" && value != "|") {
                *error = "unknown delimiter \"" + value + "\" in field spec";
                return false;
            }
            spec->delimiter = value[0];
        } else if (key == "fields") {
            std::vector<std::string> tokens = splitAt(value, '|');
            // The final "|" ends the list rather than adding an empty column.
            if (tokens.size() > 1 && tokens.back().empty()) tokens.pop_back();
            spec->roles.clear();
            static const struct {
                const char* token;
                Role role;
            } kTypes[] = {{"", kUnused},         {"-", kUnused},  {"headword", kHeadword}, {"meaning", kMeaning},
                          {"keyword", kKeyword}, {"kana", kKana}, {"html", kHtml},         {"id", kId}};
            for (const std::string& t : tokens) {
                bool known = false;
                for (const auto& type : kTypes) {
                    if (t == type.token) {
                        spec->roles.push_back(type.role);
                        known = true;
                        break;
                    }
                }
                if (!known) {
                    *error = "unknown field type \"" + t + "\" in field spec";
                    return false;
                }
            }
            haveFields = true;
        } else {
            *error = "unknown key \"" + key + "\" in field spec";
            return false;
        }
    }
    if (!haveFields) {
        *error = "no fields in field spec";
        return false;
    }
    return true;
}

bool CCSVParser::splitRecord(const std::string& text, char delimiter, std::vector<std::string>* fields, bool resume) {
    bool quoted = resume && !fields->empty();
    if (quoted) {
        fields->back() += "\r\n";
    } else {
        fields->clear();
        fields->emplace_back();
    }
    size_t i = 0;
    bool atStart = !quoted;
    while (i < text.size()) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    fields->back() += '"';
                    i += 2;
                } else {
                    quoted = false;
                    ++i;
                }
                continue;
            }
        } else if (c == delimiter) {
            fields->emplace_back();
            atStart = true;
            ++i;
            continue;
        } else if (c == '"' && atStart) {
            quoted = true;
            atStart = false;
            ++i;
            continue;
        }
        atStart = false;
        // Whole characters, so that a trail byte equal to the delimiter
        // ("|" is one) never splits a field.
        size_t n = sjisCharLength(text, i);
        fields->back().append(text, i, n);
        i += n;
    }
    return !quoted;
}

void CCSVParser::parseCSV(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* body, int sourceNo,
                          const char* fields) {
    m_entries = m_skipped = 0;
    FieldSpec spec;
    std::string error;
    body->tell(&m_sourceStart);
    beginSource(book, body);
    if (!parseFieldSpec(fields, &spec, &error)) {
        if (book != nullptr) book->failSource(source, error);
        endSource(book, body, &m_progress);
        return;
    }
    bool utf16 = false;
    FilePtr file(openText(source->path, &utf16));
    if (!file) {
        endSource(book, body, &m_progress);
        return;
    }
    SourceEncoding encoding = spec.encoding == kUtf16  ? kSourceUtf16
                              : spec.encoding == kUtf8 ? kSourceUtf8
                                                       : kSourceShiftJis;
    // A UTF-16 mark says what the file is, whatever the spec says.
    if (utf16) encoding = kSourceUtf16;
    CSourceLines lines(file.get(), encoding, book, "parseCSV");

    std::string line;
    std::vector<std::string> cells;
    while (lines.next(&line)) {
        const long firstLine = lines.lineNumber();
        size_t recordSize = line.size();
        bool complete = splitRecord(line, spec.delimiter, &cells, false);
        // A quoted field may hold line breaks: the record goes on.
        while (!complete && recordSize < CSourceLines::kMaxLine && lines.next(&line)) {
            recordSize += line.size() + 2;
            complete = splitRecord(line, spec.delimiter, &cells, true);
        }
        if (!complete) {
            message(book, lineMessage("quoted field without its closing quote", source->path, firstLine));
        }
        if (recordSize == 0) continue;
        writeRecord(book, opt, body, spec, cells, source, sourceNo, firstLine);
        entryProgress(book, filePos(file.get()), source->fileSize, &m_progress);
    }
    if (m_skipped > kReportedRecords) {
        message(book, std::to_string(m_skipped - kReportedRecords) + " more records without a headword in " +
                          source->path + " (parseCSV)\r\n");
    }
    file.reset();
    endSource(book, body, &m_progress);
}

void CCSVParser::writeRecord(CEBBook* book, ConvertOpt* opt, CBlockStream* body, const FieldSpec& spec,
                             const std::vector<std::string>& cells, SOURCE_INFO* source, int sourceNo, long line) {
    static const std::string kEmpty;
    auto cell = [&](size_t column) -> const std::string& { return column < cells.size() ? cells[column] : kEmpty; };
    size_t head = spec.roles.size();
    std::string kana;
    for (size_t c = 0; c < spec.roles.size(); ++c) {
        if (spec.roles[c] == kHeadword && head == spec.roles.size() && !cell(c).empty()) head = c;
        if (spec.roles[c] == kKana && kana.empty()) kana = cell(c);
    }
    if (head == spec.roles.size()) {
        if (++m_skipped <= kReportedRecords)
            message(book, lineMessage("record without a headword", source->path, line));
        return;
    }
    ++m_entries;
    const std::string& word = cell(head);
    const int wordLen = static_cast<int>(word.size());
    const char* stored = nullptr;
    BLOCK_POS pos;
    SEARCH_KEY_ENTRY* entry = registerHead(book, body, word.data(), wordLen, nullptr, 0, sourceNo, &stored, &pos);
    beginHeadKeyword(body);
    body->writeText(word.data(), wordLen, 1, 0);
    if (!kana.empty()) {
        body->writeText("\x81\x79", 2, 1, 0);  // 【
        body->writeText(kana.data(), static_cast<int>(kana.size()), 1, 0);
        body->writeText("\x81\x7A", 2, 1, 0);  // 】
    }
    endHeadKeyword(body, opt);

    bool firstBody = true;
    for (size_t c = 0; c < spec.roles.size(); ++c) {
        const std::string& text = cell(c);
        if (text.empty()) continue;
        const int len = static_cast<int>(text.size());
        switch (spec.roles[c]) {
            case kHeadword:
                if (c != head) {
                    const char* extra = book->addStringT(text.data(), text.size());
                    book->addTitle(stored, wordLen, extra, len, pos, sourceNo, 1, 1);
                }
                break;
            case kKana:
                book->addKanaEntry(stored, wordLen, text.data(), len, pos, sourceNo, 96);
                break;
            case kKeyword:
                for (const std::string& k : splitAt(text, ';'))
                    if (!k.empty())
                        book->addKeywordEntry(stored, wordLen, k.data(), static_cast<int>(k.size()), pos, sourceNo, 2);
                break;
            case kMeaning:
            case kHtml:
                if (!firstBody) body->writeCode(EB_NEWLINE);
                firstBody = false;
                if (spec.roles[c] == kMeaning)
                    body->writeText(text.data(), len, 1, 1);
                else
                    writeInlineHTML(book, body, text, opt->ebType == 1, sourceNo, m_sourceStart);
                bodyRun(book, entry, stored, wordLen, text.data(), len, pos, sourceNo);
                break;
            case kId:
                // The entry is an anchor that links of other sources reach.
                book->addAnchor(text.data(), static_cast<int>(text.size()), &pos, sourceNo);
                break;
            case kUnused:
                break;
        }
    }
    body->writeCode(EB_NEWLINE);
}

void CCSVParser::writeInlineHTML(CEBBook* book, CBlockStream* body, const std::string& html, bool epwing, int sourceNo,
                                 const BLOCK_POS& unresolved) {
    struct Element {
        const char* name;
        unsigned begin, end;  // escape codes, 0 for none
        int decoration;       // EB_BEGIN_DECORATION kind, 0 for none
        bool lineBreak;       // a line break before the element's text
    };
    static const Element kElements[] = {
        {"b", 0, 0, EB_DECORATION_BOLD, false},
        {"strong", 0, 0, EB_DECORATION_BOLD, false},
        {"i", 0, 0, EB_DECORATION_ITALIC, false},
        {"em", 0, 0, EB_DECORATION_ITALIC, false},
        {"sub", EB_BEGIN_SUBSCRIPT, EB_END_SUBSCRIPT, 0, false},
        {"sup", EB_BEGIN_SUPERSCRIPT, EB_END_SUPERSCRIPT, 0, false},
        {"nobr", EB_BEGIN_NO_BREAK, EB_END_NO_BREAK, 0, false},
        {"br", 0, 0, 0, true},
        {"p", 0, 0, 0, true},
        {"div", 0, 0, 0, true},
        {"li", 0, 0, 0, true},
        {"tr", 0, 0, 0, true},
    };
    size_t i = 0;
    bool started = false;            // text written: a block element then breaks the line
    std::vector<unsigned> open;      // end codes of the spans still open
    std::vector<std::string> links;  // targets of the references still open
    auto close = [&](unsigned code) {
        for (size_t k = open.size(); k-- > 0;) {
            if (open[k] != code) continue;
            // Spans opened inside this one end with it.
            while (open.size() > k) {
                body->writeCode(open.back());
                open.pop_back();
            }
            return;
        }
    };
    while (i < html.size()) {
        // "<" and ">" are never the second byte of a Shift_JIS character.
        size_t lt = html.find('<', i);
        size_t textEnd = lt == std::string::npos ? html.size() : lt;
        if (textEnd > i) {
            body->writeText(html.data() + i, static_cast<int>(textEnd - i), 1, 1);
            started = true;
        }
        if (textEnd >= html.size()) break;
        size_t gt = html.find('>', textEnd);
        if (gt == std::string::npos) {
            // An unclosed "<" is text.
            body->writeText("&lt;", 4, 1, 0);
            i = textEnd + 1;
            continue;
        }
        std::string tag = html.substr(textEnd + 1, gt - textEnd - 1);
        i = gt + 1;
        bool closing = !tag.empty() && tag[0] == '/';
        if (closing) tag.erase(0, 1);
        size_t nameEnd = 0;
        while (nameEnd < tag.size() && std::isalnum(static_cast<unsigned char>(tag[nameEnd]))) ++nameEnd;
        std::string name = tag.substr(0, nameEnd);
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (name == "a") {
            if (!closing) {
                std::string href = attributeValue(tag, "href");
                const bool internal = !href.empty() && !isExternalTarget(href) && links.empty();
                if (internal) body->writeCode(EB_BEGIN_REFERENCE);
                links.push_back(internal ? href : std::string());
            } else if (!links.empty()) {
                endReference(book, body, links.back(), sourceNo, unresolved);
                links.pop_back();
            }
            continue;
        }
        for (const Element& e : kElements) {
            if (name != e.name) continue;
            if (e.lineBreak) {
                if (!closing && started) body->writeCode(EB_NEWLINE);
                break;
            }
            if (e.decoration != 0 && !epwing) break;
            const unsigned endCode = e.decoration != 0 ? static_cast<unsigned>(EB_END_DECORATION) : e.end;
            if (closing) {
                close(endCode);
            } else {
                if (e.decoration != 0) {
                    body->writeCode(EB_BEGIN_DECORATION);
                    body->writeWord16(static_cast<unsigned>(e.decoration));
                } else {
                    body->writeCode(e.begin);
                }
                open.push_back(endCode);
            }
            break;
        }
    }
    while (!links.empty()) {
        endReference(book, body, links.back(), sourceNo, unresolved);
        links.pop_back();
    }
    while (!open.empty()) {
        body->writeCode(open.back());
        open.pop_back();
    }
}

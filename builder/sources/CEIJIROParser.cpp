// EIJIRO text reader.
#include "builder/sources/CEIJIROParser.h"

#include <stdexcept>

#include "builder/CEBBook.h"
#include "builder/ConvertOpt.h"
#include "builder/sources/entrywriter.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/escapecodes.h"

namespace {

const std::string kLineMark = "\x81\xA1";                       // ■
const std::string kExampleMark = "\x81\xA1\x81\x45";            // ■・
const std::string kNoteMark = "\x81\x9F";                       // ◆
const std::string kItemSeparator = "\x81\x41";                  // 、
const std::string kPronunciation = "\x81\x79\x94\xAD\x89\xB9";  // 【発音
const std::string kKanaItem = "\x81\x79\x81\x97\x81\x7A";       // 【＠】
const std::string kYomiOpen = "\x81\x6F";                       // ｛
const std::string kYomiClose = "\x81\x70";                      // ｝
const std::string kItemOpen = "\x81\x79";                       // 【
const long kReportedLines = 20;

std::string trimSpaces(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

// Splits text at every place where one of the two marks starts; the pieces
// keep their leading mark.
std::vector<std::string> splitAtMarks(const std::string& text, const std::string& a, const std::string& b) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); i += sjisCharLength(text, i)) {
        if (i > start && (text.compare(i, a.size(), a) == 0 || text.compare(i, b.size(), b) == 0)) {
            pieces.push_back(text.substr(start, i - start));
            start = i;
        }
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// Whether the last character of s is the single byte c (not the trail byte
// of a pair).
bool endsWithByte(const std::string& s, char c) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < s.size(); i += sjisCharLength(s, i)) last = i;
    return last != std::string::npos && last + 1 == s.size() && s[last] == c;
}

// The values of the 【＠】 items among the "、"-separated items of text.
void collectKana(const std::string& text, std::vector<std::string>* kana) {
    size_t at = 0;
    while ((at = findSjis(text, kKanaItem, at)) != std::string::npos) {
        at += kKanaItem.size();
        size_t end = findSjis(text, kItemSeparator, at);
        kana->push_back(trimSpaces(text.substr(at, end == std::string::npos ? end : end - at)));
    }
}

}  // namespace

bool CEIJIROParser::splitLine(const std::string& text, Line* line) {
    *line = Line();
    if (!startsWith(text, kLineMark) || startsWith(text, kExampleMark)) return false;
    size_t colon = findSjis(text, " : ", kLineMark.size());
    if (colon == std::string::npos) return false;
    std::string head = text.substr(kLineMark.size(), colon - kLineMark.size());
    // "headword  {label}": the label is the last brace pair closing the head.
    if (endsWithByte(head, '}')) {
        size_t open = head.rfind(" {");
        if (open != std::string::npos) {
            line->partOfSpeech = head.substr(open + 2, head.size() - open - 3);
            head.erase(open);
        }
    }
    line->headword = trimSpaces(head);
    if (line->headword.empty()) return false;
    line->key = applyYomi(line->headword, 0);
    if (line->key.empty()) return false;
    line->reading = readingOf(line->headword);

    std::vector<std::string> pieces = splitAtMarks(text.substr(colon + 3), kNoteMark, kExampleMark);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const std::string& p = pieces[i];
        if (i > 0 && startsWith(p, kExampleMark)) {
            line->examples.push_back(trimSpaces(p.substr(kExampleMark.size())));
        } else if (i > 0 && startsWith(p, kNoteMark)) {
            line->notes.push_back(p.substr(kNoteMark.size()));
            collectKana(line->notes.back(), &line->kana);
        } else {
            line->translation += p;
        }
    }
    line->translation = trimSpaces(line->translation);
    // The headword's own line: a list of items right after " : ".
    line->items = startsWith(line->translation, kItemOpen);
    if (line->items) collectKana(line->translation, &line->kana);
    return true;
}

std::string CEIJIROParser::readingOf(const std::string& headword) {
    const size_t open = findSjis(headword, kYomiOpen);
    if (open == std::string::npos || open == 0) return std::string();
    const size_t from = open + kYomiOpen.size();
    const size_t close = findSjis(headword, kYomiClose, from);
    if (close == std::string::npos || close + kYomiClose.size() != headword.size()) return std::string();
    return trimSpaces(headword.substr(from, close - from));
}

std::string CEIJIROParser::filterNote(const std::string& note, const ConvertOpt& opt) {
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t end = findSjis(note, kItemSeparator, start);
        std::string item = note.substr(start, end == std::string::npos ? end : end - start);
        bool drop =
            (!opt.eijiPronon && startsWith(item, kPronunciation)) || (!opt.eijiKana && startsWith(item, kKanaItem));
        if (!drop && !item.empty()) {
            if (!out.empty()) out += kItemSeparator;
            out += item;
        }
        if (end == std::string::npos) break;
        start = end + kItemSeparator.size();
    }
    return trimSpaces(out);
}

std::string CEIJIROParser::applyYomi(const std::string& text, int mode) {
    if (mode != 0) return text;
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, kYomiOpen.size(), kYomiOpen) == 0) {
            size_t close = findSjis(text, kYomiClose, i + kYomiOpen.size());
            if (close != std::string::npos) {
                i = close + kYomiClose.size();
                continue;
            }
        }
        size_t n = sjisCharLength(text, i);
        out.append(text, i, n);
        i += n;
    }
    return out;
}

// Writes text with the readings as the options want them.
void CEIJIROParser::writeText(CBlockStream* body, const std::string& text, const ConvertOpt& opt) {
    const std::string t = applyYomi(text, opt.eijiYomi);
    if (opt.eijiYomi != 1) {
        body->writeText(t.data(), static_cast<int>(t.size()), 1, 0);
        return;
    }
    size_t i = 0;
    while (i < t.size()) {
        size_t open = findSjis(t, kYomiOpen, i);
        size_t close = open == std::string::npos ? open : findSjis(t, kYomiClose, open + kYomiOpen.size());
        if (close == std::string::npos) {
            body->writeText(t.data() + i, static_cast<int>(t.size() - i), 1, 0);
            return;
        }
        if (open > i) body->writeText(t.data() + i, static_cast<int>(open - i), 1, 0);
        const size_t from = open + kYomiOpen.size();
        body->writeCode(EB_BEGIN_SUPERSCRIPT);
        body->writeText(t.data() + from, static_cast<int>(close - from), 1, 0);
        body->writeCode(EB_END_SUPERSCRIPT);
        i = close + kYomiClose.size();
    }
}

// Registers the entry of the line's headword and writes its head: the key is
// the headword without its reading, the heading and the head follow
// eijiYomi, the reading is a kana key.
void CEIJIROParser::writeHead(CEBBook* book, ConvertOpt* opt, CBlockStream* body, const Line& line, int sourceNo,
                              const char** stored, int* storedLen, BLOCK_POS* pos, SEARCH_KEY_ENTRY** entry) {
    const std::string& heading = opt->eijiYomi == 0 ? line.key : line.headword;
    const bool ownKey = line.key != heading;
    *storedLen = static_cast<int>(heading.size());
    *entry = registerHead(book, body, heading.data(), *storedLen, ownKey ? line.key.data() : nullptr,
                          ownKey ? static_cast<int>(line.key.size()) : 0, sourceNo, stored, pos);
    beginHeadKeyword(body);
    writeText(body, line.headword, *opt);
    endHeadKeyword(body, opt);
    if (!line.reading.empty() && (opt->idx[IDX_WORD_KANA] || opt->idx[IDX_ENDWORD_KANA]))
        book->addKanaEntry(*stored, *storedLen, line.reading.data(), static_cast<int>(line.reading.size()), *pos,
                           sourceNo, 96);
}

void CEIJIROParser::parse(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* body, int sourceNo) {
    m_entries = m_skipped = 0;
    bool utf16 = false;
    FilePtr file(beginTextSource(book, body, source->path, &utf16));
    if (!file) {
        book->failSource(source, "no EIJIRO entry");
        return;
    }
    // Without a mark, text that is well-formed UTF-8 is UTF-8, as plain text.
    CSourceLines lines(file.get(), textEncoding(file.get()), book, "CEIJIROParser");

    std::string text, current;
    const char* stored = nullptr;
    int storedLen = 0;
    BLOCK_POS pos;
    SEARCH_KEY_ENTRY* entry = nullptr;
    bool entryText = false;  // the entry has body text
    Line line;
    while (lines.next(&text)) {
        if (text.empty()) continue;
        if (!splitLine(text, &line)) {
            if (++m_skipped <= kReportedLines) {
                CEBBook::postMessage(book, (std::string("not an EIJIRO line in ") + source->path +
                                            " (Line=" + std::to_string(lines.lineNumber()) + ") (CEIJIROParser)\r\n")
                                               .c_str());
            }
            continue;
        }
        // A list of items keeps the items the options keep; other text stays
        // as written.
        const bool filtered = line.items && (findSjis(line.translation, kPronunciation) != std::string::npos ||
                                             findSjis(line.translation, kKanaItem) != std::string::npos);
        const std::string translation = filtered ? filterNote(line.translation, *opt) : line.translation;
        const std::string label =
            opt->eijiPartOfSpeech && !line.partOfSpeech.empty() ? "{" + line.partOfSpeech + "} " : std::string();
        std::vector<std::string> notes;
        for (const std::string& note : line.notes) notes.push_back(filterNote(note, *opt));
        bool hasText = !label.empty() || !translation.empty() || !line.examples.empty();
        for (const std::string& note : notes) hasText = hasText || !note.empty();

        if (m_entries == 0 || line.headword != current) {
            // A new headword: the entry before it ends, a new one starts.
            if (m_entries > 0) body->writeCode(EB_NEWLINE);
            current = line.headword;
            writeHead(book, opt, body, line, sourceNo, &stored, &storedLen, &pos, &entry);
            ++m_entries;
            entryText = false;
        }
        if (hasText) {
            // Each source line that gives text is a line of the entry's body.
            if (entryText) body->writeCode(EB_NEWLINE);
            entryText = true;
            if (!label.empty()) writeText(body, label, *opt);
            writeText(body, translation, *opt);
            bodyRun(book, entry, stored, storedLen, translation.data(), static_cast<int>(translation.size()), pos,
                    sourceNo);
            auto follow = [&](const std::string& mark, const std::string& what) {
                if (what.empty()) return;
                if (opt->eijiBreak)
                    body->writeCode(EB_NEWLINE);
                else
                    body->writeText(" ", 1, 1, 0);
                writeText(body, mark + what, *opt);
            };
            for (const std::string& note : notes) follow(kNoteMark, note);
            for (const std::string& example : line.examples) {
                follow(kExampleMark.substr(2), example);
                bodyRun(book, entry, stored, storedLen, example.data(), static_cast<int>(example.size()), pos,
                        sourceNo);
            }
        }
        if (opt->eijiKana)
            for (const std::string& k : line.kana)
                book->addKanaEntry(stored, storedLen, k.data(), static_cast<int>(k.size()), pos, sourceNo, 96);
        entryProgress(book, filePos(file.get()), source->fileSize, &m_progress);
    }
    if (m_skipped > kReportedLines) {
        CEBBook::postMessage(book, (std::to_string(m_skipped - kReportedLines) +
                                    " more lines that are not EIJIRO lines in " + source->path + " (CEIJIROParser)\r\n")
                                       .c_str());
    }
    if (m_entries > 0) body->writeCode(EB_NEWLINE);
    file.reset();
    endSource(book, body, &m_progress);
    // A source of which nothing became an entry is not in the book.
    if (m_entries == 0) book->failSource(source, "no EIJIRO entry");
}

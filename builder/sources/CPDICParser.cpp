// PDIC sources: two-line and one-line text (Shift_JIS, UTF-16 with the mark
// FF FE, or UTF-8 with its mark or found well-formed) and binary PDIC
// dictionaries through CPDicReader.
#include "builder/sources/CPDICParser.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/sources/entrywriter.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBlockStream.h"
#include "foundation/book/escapecodes.h"
#include "foundation/codes/jclib.h"
#include "foundation/pdic/CPDicReader.h"

namespace {

// ---- notation tables ----

struct Tables {
    std::vector<NOTATION_ROW> phonetic;
    std::vector<NOTATION_ROW> latin;
    char single[256][2];

    Tables() {
        for (int i = 0; i < 256; ++i) {
            single[i][0] = static_cast<char>(i);
            single[i][1] = 0;
        }
        static const char* const twoByte[][2] = {
            {"a$", "&agrave;"},       {"a@", "&aacute;"},       {"e$", "&egrave;"},       {"e@", "&eacute;"},
            {"i$", "&igrave;"},       {"i@", "&iacute;"},       {"o$", "&ograve;"},       {"o@", "&oacute;"},
            {"u$", "&ugrave;"},       {"u@", "&uacute;"},       {"y@", "&yacute;"},       {"Q$", "&#xE001;"},
            {"Q@", "&#x01FD;"},       {"\x8D\x40", "&#xE003;"}, {"\x8D\x24", "&#xE002;"}, {"\xAB\x24", "&#xE004;"},
            {"\xAB\x40", "&#xE005;"}, {"\xC3\x24", "&#xE006;"}, {"\xC3\x40", "&#xE007;"}, {"A$", "&#xE008;"},
            {"A@", "&#xE009;"}};
        for (const auto& r : twoByte) phonetic.push_back({r[0], 2, r[1], 0});
        struct Special {
            int code;
            const char* text;
        };
        static const Special specials[] = {
            {0x21, "&#x0022;"}, {0x22, "&inodot;"}, {0x24, "`"},        {0x27, "'"},        {0x29, "~"},
            {0x40, "&acute;"},  {0x41, "&#x0251;"}, {0x44, "&eth;"},    {0x45, "&#x025B;"}, {0x4E, "&eng;"},
            {0x4F, "&oslash;"}, {0x51, "&aelig;"},  {0x53, "&#x0283;"}, {0x54, "&#x03B8;"}, {0x55, "&#x028A;"},
            {0x5A, "&#x0292;"}, {0x81, "&#x0252;"}, {0x8D, "&#x0254;"}, {0x8F, "&acute;"},  {0x90, "&acute;"},
            {0x96, "|"},        {0x98, "`"},        {0x99, "`"},        {0xAB, "&#x0259;"}, {0xB4, "&#x028E;"},
            {0xBE, "j"},        {0xBF, "&oelig;"},  {0xC3, "&#x028C;"}, {0xCE, "&#x025C;"}, {0xD6, "-"},
            {0xDB, "&acute;"},  {0xDD, "`"},        {0xDF, "^"},        {0xE2, "~"},        {0xE6, "^"},
            {0xE9, "^"},        {0xF0, "&hstrok;"}, {0xF9, "&#x02D0;"}};
        auto oneByte = [&](int c) {
            const char* text = " ";
            for (const Special& s : specials)
                if (s.code == c) text = s.text;
            phonetic.push_back({single[c], 1, text, 0});
        };
        for (int c = 0x21; c <= 0x2B; ++c) oneByte(c);
        oneByte(0x2D);
        for (int c = 0x30; c <= 0x5A; ++c) oneByte(c);
        oneByte(0x5F);
        oneByte(0x60);
        for (int c = 0x7B; c <= 0x7E; ++c) oneByte(c);
        for (int c = 0x80; c <= 0xFF; ++c) oneByte(c);

        static const Special cp1252[] = {{0x83, "&fnof;"},   {0x8A, "&Scaron;"}, {0x8C, "&OElig;"},  {0x8E, "&Zcaron;"},
                                         {0x9A, "&scaron;"}, {0x9C, "&oelig;"},  {0x9E, "&zcaron;"}, {0x9F, "&Yuml;"}};
        for (const Special& s : cp1252) latin.push_back({single[s.code], 1, s.text, 0});
        static const char* const names[96] = {
            "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
            "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
            "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
            "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
            "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
            "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
            "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
            "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
            "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
            "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
        for (int i = 0; i < 96; ++i) {
            latinNames[i] = std::string("&") + names[i] + ";";
            latin.push_back({single[0xA0 + i], 1, latinNames[i].c_str(), 0});
        }
        for (int i = 0; i < static_cast<int>(phonetic.size()); ++i)
            phoneticByFirst[static_cast<unsigned char>(phonetic[i].key[0])].push_back(i);
        for (int i = 0; i < static_cast<int>(latin.size()); ++i)
            latinByFirst[static_cast<unsigned char>(latin[i].key[0])].push_back(i);
    }

    // The rows of a whole built-in table by the first byte of their key, in
    // table order (null for any other table): the match at a character is
    // looked for among a few rows instead of all of them.
    const std::vector<int>* rowsByFirst(const NOTATION_ROW* table, int rows) const {
        if (table == phonetic.data() && rows == static_cast<int>(phonetic.size())) return phoneticByFirst;
        if (table == latin.data() && rows == static_cast<int>(latin.size())) return latinByFirst;
        return nullptr;
    }

    std::string latinNames[96];
    std::vector<int> phoneticByFirst[256];
    std::vector<int> latinByFirst[256];
};

const Tables& tables() {
    static const Tables t;
    return t;
}

}  // namespace

CPDICParser::CPDICParser() : m_progress(0) {}

CPDICParser::~CPDICParser() = default;

const NOTATION_ROW* CPDICParser::notationTable(int which, int* rows) {
    const Tables& t = tables();
    const std::vector<NOTATION_ROW>* v = which == 1 ? &t.phonetic : which == 2 ? &t.latin : nullptr;
    if (rows) *rows = v ? static_cast<int>(v->size()) : 0;
    return v ? v->data() : nullptr;
}

int CPDICParser::findTableRow(const char* text, int length, const NOTATION_ROW* table, int rows) {
    if (text == nullptr || table == nullptr) return -1;
    auto matches = [&](int i) {
        return table[i].keyLen <= length && std::memcmp(table[i].key, text, static_cast<size_t>(table[i].keyLen)) == 0;
    };
    if (const std::vector<int>* byFirst = tables().rowsByFirst(table, rows)) {
        // Every key of a built-in table has at least one byte.
        if (length < 1) return -1;
        for (int i : byFirst[static_cast<unsigned char>(text[0])])
            if (matches(i)) return i;
        return -1;
    }
    for (int i = 0; i < rows; ++i)
        if (matches(i)) return i;
    return -1;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes of a hexadecimal reference "&#xH..H;" (1 to 8 digits) at text, or 0.
int hexReferenceLength(const char* text, int length) {
    if (length < 5 || text[0] != '&' || text[1] != '#' || (text[2] != 'x' && text[2] != 'X')) return 0;
    int i = 3;
    while (i < length && i < 11 && hexDigit(text[i]) >= 0) ++i;
    return i > 3 && i < length && text[i] == ';' ? i + 1 : 0;
}

// Bytes of the unmatched character at text: a Shift_JIS pair stays one
// character, so that no row is ever matched at its second byte (which would
// tear it apart); a reference stays whole too.
int unmatchedLength(const char* text, int length) {
    const int ref = hexReferenceLength(text, length);
    if (ref > 0) return ref;
    return ::sjisCharLength(reinterpret_cast<const unsigned char*>(text), length);
}

// Names of the tables' replacements that the entity table does not hold.
const struct {
    const char* name;
    uint32_t codePoint;
} kMoreNames[] = {
    {"Zcaron", 0x17D}, {"zcaron", 0x17E}, {"inodot", 0x131}, {"eng", 0x14B}, {"hstrok", 0x127},
};

// The code point of a whole reference ("&name;", "&#xH;", "&#D;"), or 0.
uint32_t referenceCodePoint(const char* text, size_t n) {
    if (n < 3 || text[0] != '&' || text[n - 1] != ';') return 0;
    const char* name = text + 1;
    const size_t len = n - 2;
    if (name[0] == '#') {
        const bool hex = len > 1 && (name[1] == 'x' || name[1] == 'X');
        uint32_t value = 0;
        size_t i = hex ? 2 : 1;
        if (i >= len) return 0;
        for (; i < len; ++i) {
            const int d = hex ? hexDigit(name[i]) : (name[i] >= '0' && name[i] <= '9' ? name[i] - '0' : -1);
            if (d < 0 || value > 0x10FFFF) return 0;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
        }
        return value <= 0x10FFFF ? value : 0;
    }
    if (uint16_t v = lookupEntity(name, len)) return v;
    for (const auto& m : kMoreNames)
        if (std::strlen(m.name) == len && std::memcmp(m.name, name, len) == 0) return m.codePoint;
    return 0;
}

}  // namespace

CPDICParser::RowTexts::RowTexts(CEBBook* book, const NOTATION_ROW* table, int rows)
    : m_book(book),
      m_table(table),
      m_texts(static_cast<size_t>(rows > 0 ? rows : 0)),
      m_made(static_cast<size_t>(rows > 0 ? rows : 0), false) {}

const char* CPDICParser::RowTexts::text(int row) {
    const size_t r = static_cast<size_t>(row);
    if (!m_made[r]) {
        m_texts[r] = characterOf(m_book, m_table[row].replacement);
        m_made[r] = true;
    }
    return m_texts[r].c_str();
}

std::string CPDICParser::RowTexts::characterOf(CEBBook* book, const char* replacement) {
    const size_t n = std::strlen(replacement);
    uint32_t cp = referenceCodePoint(replacement, n);
    if (cp == 0 || book == nullptr) return std::string(replacement, n);
    // The JIS X 0208 character where there is one (Latin and Greek too),
    // else a reference whose gaiji is reserved now.
    char out[16];
    const int k = book->ucsToSjis(out, sizeof out, &cp, 1, 1);
    return std::string(out, static_cast<size_t>(k > 0 ? k : 0));
}

int CPDICParser::convertByTable(const char* text, int length, char* out, int outSize, const NOTATION_ROW* table,
                                int rows, RowTexts* texts) {
    int n = 0;
    int i = 0;
    while (i < length && n < outSize) {
        int r = hexReferenceLength(text + i, length - i) > 0 ? -1 : findTableRow(text + i, length - i, table, rows);
        if (r >= 0) {
            const char* replacement = texts != nullptr ? texts->text(r) : table[r].replacement;
            int rl = static_cast<int>(std::strlen(replacement));
            if (n + rl > outSize) break;
            std::memcpy(out + n, replacement, static_cast<size_t>(rl));
            n += rl;
            i += table[r].keyLen;
        } else {
            int cl = unmatchedLength(text + i, length - i);
            if (n + cl > outSize) break;
            std::memcpy(out + n, text + i, static_cast<size_t>(cl));
            n += cl;
            i += cl;
        }
    }
    if (n < outSize) out[n] = 0;
    return n;
}

void CPDICParser::writeByTable(CBlockStream* writer, const char* text, int length, const NOTATION_ROW* table, int rows,
                               RowTexts* texts) {
    int i = 0;
    while (i < length) {
        int r = hexReferenceLength(text + i, length - i) > 0 ? -1 : findTableRow(text + i, length - i, table, rows);
        if (r >= 0) {
            const char* replacement = texts != nullptr ? texts->text(r) : table[r].replacement;
            writer->writeText(replacement, static_cast<int>(std::strlen(replacement)), 1, 1);
            i += table[r].keyLen;
        } else {
            int cl = unmatchedLength(text + i, length - i);
            writer->writeText(text + i, cl, 1, 1);
            i += cl;
        }
    }
}

void CPDICParser::parsePDICText(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer,
                                int sourceNo) {
    bool utf16 = false;
    FilePtr file(beginTextSource(book, writer, source->path, &utf16));
    if (!file) return;
    CSourceLines lines(file.get(), textEncoding(file.get()), book, "parsePDICText");
    std::string word, body;
    while (lines.next(&word)) {
        if (word.empty()) continue;
        // The body line; at the end of the file the entry has none (next
        // leaves the body empty).
        bool more = lines.next(&body);
        writeTextEntry(book, opt, writer, word.data(), static_cast<int>(word.size()), body, sourceNo, file.get(),
                       source->fileSize, &m_progress);
        if (!more) break;
    }
    file.reset();
    endSource(book, writer, &m_progress);
}

void CPDICParser::parsePDIC1LINE(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer,
                                 int sourceNo) {
    bool utf16 = false;
    FilePtr file(beginTextSource(book, writer, source->path, &utf16));
    if (!file) return;
    CSourceLines lines(file.get(), textEncoding(file.get()), book, "parsePDIC1LINE");
    std::string line, body;
    while (lines.next(&line)) {
        if (line.empty()) continue;
        size_t cut = line.find(" /// ");
        size_t wordLen = cut == std::string::npos ? line.size() : cut;
        if (wordLen == 0) {
            // No headword: the line is skipped as an empty one would be.
            continue;
        }
        body.clear();
        if (cut != std::string::npos) {
            const std::string rest = line.substr(cut + 5);
            for (size_t i = 0; i < rest.size(); ++i) {
                if (rest.compare(i, 3, " \\ ") == 0) {
                    body += " \r\n";
                    i += 2;
                } else {
                    body += rest[i];
                }
            }
        }
        writeTextEntry(book, opt, writer, line.data(), static_cast<int>(wordLen), body, sourceNo, file.get(),
                       source->fileSize, &m_progress);
    }
    file.reset();
    endSource(book, writer, &m_progress);
}

void CPDICParser::parsePDICDic(CEBBook* book, ConvertOpt* opt, SOURCE_INFO* source, CBlockStream* writer,
                               int sourceNo) {
    beginSource(book, writer);
    CPDicReader reader;
    if (reader.open(source->path) != 0) {
        // A PDIC text file or any other file named as a dictionary is a
        // failed source, not a book without entries.
        if (book != nullptr) book->failSource(source, "not a PDIC dictionary");
        endSource(book, writer, &m_progress);
        return;
    }
    // A damaged first block does not lose the dictionary: the walk below
    // passes it over and goes on with the next index entry.
    reader.seekIndex(0);
    const int kWord = 1024, kMeaning = 128000, kPron = 1000, kSjis = 256000;
    std::unique_ptr<uint32_t[]> word(new (std::nothrow) uint32_t[kWord + 1]);
    std::unique_ptr<uint32_t[]> meaning(new (std::nothrow) uint32_t[kMeaning + 1]);
    std::unique_ptr<uint32_t[]> example(new (std::nothrow) uint32_t[kMeaning + 1]);
    std::unique_ptr<uint32_t[]> pron(new (std::nothrow) uint32_t[kPron + 1]);
    std::unique_ptr<char[]> sjis(new (std::nothrow) char[kSjis + 1]);
    std::unique_ptr<char[]> conv(new (std::nothrow) char[kSjis + 1]);
    if (!word || !meaning || !example || !pron || !sjis || !conv)
        throw std::runtime_error("memory allocate error!!(parsePDICDic)");

    auto length = [](const uint32_t* s, int cap) {
        int n = 0;
        while (n < cap && s[n] != 0) ++n;
        return n;
    };
    int pTitleRows = 0, pPronRows = 0, pBodyRows = 0, pExRows = 0;
    auto pRows = [](int which) {
        int n = 0;
        notationTable(which, &n);
        return n;
    };
    const NOTATION_ROW* tTitle = notationTable(opt->pdicTitle, &pTitleRows);
    const NOTATION_ROW* tPron = notationTable(opt->pdicPronon, &pPronRows);
    const NOTATION_ROW* tBody = notationTable(opt->pdicHonbun, &pBodyRows);
    const NOTATION_ROW* tEx = notationTable(opt->pdicYorei, &pExRows);
    // Each table's replacements as characters of this book (both fields of
    // one table share one set, so that a character takes one gaiji).
    RowTexts phoneticTexts(book, notationTable(1, nullptr), pRows(1));
    RowTexts latinTexts(book, notationTable(2, nullptr), pRows(2));
    auto textsOf = [&](int which) { return which == 1 ? &phoneticTexts : which == 2 ? &latinTexts : nullptr; };
    RowTexts* xTitle = textsOf(opt->pdicTitle);
    RowTexts* xPron = textsOf(opt->pdicPronon);
    RowTexts* xBody = textsOf(opt->pdicHonbun);
    RowTexts* xEx = textsOf(opt->pdicYorei);
    const bool v6 = reader.majorVersion() >= 6;
    int64_t done = 0;
    char display[2049], key[2049];
    // Each damaged block reports once and is passed over; more reports than
    // blocks would mean the walk does not advance.
    int damaged = 0;
    const int maxDamaged = reader.indexCount() + 1;
    for (;;) {
        int level = 0;
        int rc = reader.nextEntry(word.get(), kWord, meaning.get(), kMeaning, example.get(), kMeaning, pron.get(),
                                  kPron, &level, nullptr, 0);
        if (rc == 1) break;
        if (rc != 0) {
            if (++damaged > maxDamaged) break;
            continue;
        }
        int wl = length(word.get(), kWord);
        int tab = -1;
        if (v6)
            for (int i = 0; i < wl && i < 1024; ++i)
                if (word[i] == '\t') {
                    tab = i;
                    break;
                }
        int dl, kl = 0;
        if (tab >= 0) {
            dl = book->ucsToSjis(display, sizeof display, word.get() + tab + 1, wl - tab - 1, 0);
            kl = book->ucsToSjis(key, sizeof key, word.get(), tab, 0);
            if (dl <= 0 && kl > 0) {
                // "key TAB" with nothing after it: the key is all the
                // headword there is.
                std::memcpy(display, key, static_cast<size_t>(kl));
                dl = kl;
                kl = 0;
            }
        } else {
            dl = book->ucsToSjis(display, sizeof display, word.get(), wl, 0);
        }
        if (dl <= 0) continue;
        const char* shown = display;
        int shownLen = dl;
        if (tTitle != nullptr) {
            shownLen = convertByTable(display, dl, conv.get(), 1024, tTitle, pTitleRows, xTitle);
            shown = conv.get();
        }
        // The entry head with the converted word, the heading written
        // through the same table.
        BLOCK_POS pos;
        const char* h = nullptr;
        SEARCH_KEY_ENTRY* e = registerHead(book, writer, shown, shownLen, key, kl, sourceNo, &h, &pos);
        beginHeadKeyword(writer);
        if (tTitle != nullptr)
            writeByTable(writer, display, dl, tTitle, pTitleRows, xTitle);
        else
            writer->writeText(display, dl, 1, 0);
        endHeadKeyword(writer, opt);
        done += dl;
        auto section = [&](const uint32_t* text, int cap, const NOTATION_ROW* table, int rows, RowTexts* texts,
                           bool index) {
            int n = length(text, cap);
            if (n == 0) return 0;
            int sl = book->ucsToSjis(sjis.get(), kSjis + 1, text, n, 0);
            if (table != nullptr)
                writeByTable(writer, sjis.get(), sl, table, rows, texts);
            else
                writer->writeText(sjis.get(), sl, 1, 1);
            if (index && e != nullptr) book->autoIndexText(sjis.get(), sl, h, shownLen, pos, sourceNo);
            done += sl;
            return sl;
        };
        if (opt->eijiPronon && length(pron.get(), kPron) > 0) {
            writer->writeText("/", 1, 1, 0);
            section(pron.get(), kPron, tPron, pPronRows, xPron, false);
            writer->writeText("/", 1, 1, 0);
            writer->writeCode(EB_NEWLINE);
        }
        section(meaning.get(), kMeaning, tBody, pBodyRows, xBody, true);
        writer->writeCode(EB_NEWLINE);
        if (section(example.get(), kMeaning, tEx, pExRows, xEx, true) > 0) writer->writeCode(EB_NEWLINE);
        entryProgress(book, done, source->fileSize, &m_progress);
    }
    endSource(book, writer, &m_progress);
}

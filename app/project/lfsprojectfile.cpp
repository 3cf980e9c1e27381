#include "app/project/lfsprojectfile.h"

#include <optional>
#include <vector>

#include "app/project/BookSet.h"
#include "app/project/projectoptions.h"
#include "foundation/codes/jclib.h"
#include "platform/UITextFile.h"

namespace {

// Book kind names (UTF-8) and their book type ids; any other name is 0x60.
const struct {
    const char* name;
    int type;
} kBookKinds[] = {
    {"国語辞典", 0x00},     {"漢和辞典", 0x10}, {"英和辞典", 0x20}, {"和英辞典", 0x30},
    {"現代用語辞典", 0x40}, {"百科事典", 0x50}, {"一般書物", 0x60}, {"類語辞典", 0x70},
};

// Source type names and their codes; any other name is 0.
const struct {
    const char* name;
    int type;
} kSourceKinds[] = {
    {"JEPAX", 1}, {"PDIC", 2}, {"EIJIRO", 3}, {"PLAIN", 4}, {"PDIC1", 5}, {"PDICB", 6},
};

// Index keys and the indexDef bit that the value 1 sets.
const struct {
    const char* key;
    int bit;
} kIndexKeys[] = {
    {"WordSearchHyoki", 1}, {"WordSearchKana", 2}, {"EndWordSearchHyoki", 4}, {"EndWordSearchKana", 8},
    {"KeywordSearch", 16},  {"ComplexSearch", 32}, {"MenuSearch", 64},        {"CrossSearch", 128},
};

const char kNoValue[] = "_";

std::vector<std::string> splitFields(const std::string& value) {
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t at = value.find(';'); at != std::string::npos; at = value.find(';', from)) {
        fields.push_back(value.substr(from, at - from));
        from = at + 1;
    }
    fields.push_back(value.substr(from));
    return fields;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t end = text.find_first_of("\r\n", from);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(from, end - from));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
        from = end + 1;
    }
    return lines;
}

class LegacyReader {
public:
    explicit LegacyReader(BookSet* set) : m_set(set) {}
    void line(const std::string& line);

private:
    void book(const std::vector<std::string>& fields);
    void source(const std::vector<std::string>& fields);
    void option(const std::string& key, const std::string& value);

    BookSet* m_set;
    std::optional<std::string> m_copyright, m_gaijiFont, m_gaijiMap, m_indexFile;
};

// Field number n (from 1) of a line, or "_" when the line has none.
const std::string& field(const std::vector<std::string>& fields, size_t n) {
    static const std::string kMissing = kNoValue;
    return n <= fields.size() ? fields[n - 1] : kMissing;
}

// Field number n, or empty when the line has none.
std::string textField(const std::vector<std::string>& fields, size_t n) {
    return n <= fields.size() ? fields[n - 1] : std::string();
}

// A field where "_" stands for none.
std::string optionalField(const std::vector<std::string>& fields, size_t n) {
    const std::string& value = field(fields, n);
    return value == kNoValue ? std::string() : value;
}

void LegacyReader::line(const std::string& line) {
    if (line.empty() || line[0] == '#') return;
    size_t eq = line.find('=');
    if (eq == std::string::npos) return;
    const std::string key = line.substr(0, eq);
    size_t second = line.find('=', eq + 1);
    const std::string value = line.substr(eq + 1, second == std::string::npos ? std::string::npos : second - eq - 1);

    if (key == "Book") {
        book(splitFields(value));
        return;
    }
    if (key == "Source") {
        source(splitFields(value));
        return;
    }
    if (key == "Copyright") m_copyright = value;
    if (key == "GaijiFile") m_gaijiFont = value;
    if (key == "GaijiMapFile") m_gaijiMap = value;
    if (key == "IndexFile") m_indexFile = value;
    if (key == "StopWord") m_set->setTextOption(&ConvertOpt::stopWord, value);
    if (key == "EBType") m_set->setEbType(leadingInteger(value) != 0 ? 0 : 1);
    if (key == "Size") {
        std::vector<std::string> fields = splitFields(value);
        if (fields.size() >= 4) m_set->getConvertOpt()->maxStringT = static_cast<uint32_t>(leadingInteger(fields[3]));
    }
    for (const auto& index : kIndexKeys)
        if (key == index.key && leadingInteger(value) == 1) m_set->setIndexDef(m_set->indexDef() | index.bit);
    option(key, value);
}

void LegacyReader::option(const std::string& key, const std::string& value) {
    const ProjectOption* option = findProjectOption(key);
    if (option == nullptr || !option->legacyKey) return;
    ConvertOpt* opt = m_set->getConvertOpt();
    if (option->kind == OPTION_FLAG) setProjectOptionFlag(opt, *option, leadingInteger(value) != 0);
    if (option->kind == OPTION_NUMBER) setProjectOptionNumber(opt, *option, leadingInteger(value));
    if (option->kind == OPTION_TEXT) m_set->setTextOption(option->textField, value);
}

void LegacyReader::book(const std::vector<std::string>& fields) {
    BookInfo book;
    book.setBookTitle(textField(fields, 1));
    book.setDirName(textField(fields, 2));
    book.setCopyright(optionalField(fields, 4));
    book.setComplexDef(optionalField(fields, 5));
    for (int slot = 0; slot < FONT_SLOTS; ++slot) {
        const std::string& name = field(fields, 6 + static_cast<size_t>(slot));
        if (name != kNoValue) book.setFontName(slot, name);
    }
    book.setBookTypeID(0x60);
    for (const auto& kind : kBookKinds)
        if (field(fields, 3) == kind.name) book.setBookTypeID(kind.type);
    if (m_gaijiFont) book.setGaijiFont(*m_gaijiFont);
    if (m_gaijiMap) book.setGaijiMap(*m_gaijiMap);
    if (m_indexFile) book.setIndexFile(*m_indexFile);
    if (book.copyright().empty() && m_copyright) book.setCopyright(*m_copyright);
    m_set->getBookArray().push_back(std::move(book));
}

void LegacyReader::source(const std::vector<std::string>& fields) {
    std::vector<BookInfo>& books = m_set->getBookArray();
    if (books.empty()) return;
    SourceInfo source;
    source.setInFile(textField(fields, 1));
    source.setTitle(optionalField(fields, 2));
    for (const auto& kind : kSourceKinds)
        if (field(fields, 4) == kind.name) source.setSourceTypeID(kind.type);
    books.back().getSource().push_back(std::move(source));
}

}  // namespace

size_t decodeShiftJisChar(const unsigned char* p, size_t available, std::string* utf8) {
    if (available == 0 || p[0] == 0) return 0;
    unsigned int code = p[0];
    size_t length = 1;
    if (jclib::isSjisLead(p[0])) {
        if (available < 2 || !jclib::isSjisTrail(p[1])) return 0;
        code = (code << 8) | p[1];
        length = 2;
    }
    uint32_t c = sjisToUnicode(code);
    if (c == 0) return 0;
    char bytes[4];
    utf8->append(bytes, static_cast<size_t>(wideToUtf8(&c, 1, bytes)));
    return length;
}

bool readLFSProject(BookSet* set, const std::string& path, std::string* error) {
    std::string text;
    bool ok = UIReadTextFile(path, decodeShiftJisChar, &text, error);
    set->setIndexDef(0);
    set->initConvOpt();
    set->getBookArray().clear();
    // What the file before this one gave is no refusal of this one.
    set->clearRefusedValues();
    if (ok) {
        LegacyReader reader(set);
        for (const std::string& line : splitLines(text)) reader.line(line);
    }
    set->setCorrentBook(set->getBookArray().empty() ? -1 : 0);
    set->setCorrentSource(-1);
    return ok;
}

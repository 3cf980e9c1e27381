#include "app/dialogs/TextWizardViewController.h"

#include <cstdio>

#include "app/project/BookSet.h"
#include "builder/sources/sourcetext.h"
#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"

namespace {

const int kLineUnits = 1024;  // first line read: 1023 bytes or UTF-16 units at most

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    if (separator.empty()) return {text};
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    parts.push_back(text.substr(start));
    return parts;
}

int indexOf(const std::vector<std::string>& list, const std::string& value) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == value) return static_cast<int>(i);
    return -1;
}

// UTF-16 units, one character each; false for a surrogate.
bool unitsToUtf8(const int* units, std::string* text) {
    std::vector<uint16_t> u;
    for (const int* p = units; *p != 0; ++p) {
        if (*p >= 0xD800 && *p <= 0xDFFF) return false;
        u.push_back(static_cast<uint16_t>(*p));
    }
    std::vector<char> out(u.size() * 3 + 1);
    int n = jclib::utf16ToUtf8(u.data(), static_cast<int>(u.size()), out.data());
    text->assign(out.data(), static_cast<size_t>(n));
    return true;
}

bool sjisToUtf8Text(const std::string& bytes, std::string* text) {
    // Every byte that is no Shift_JIS character refuses the line.
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (jclib::isSjisLead(c)) {
            if (i + 1 >= bytes.size() || !jclib::isSjisTrail(static_cast<unsigned char>(bytes[i + 1]))) return false;
            ++i;
        } else if (c >= 0x80 && !(c >= 0xA1 && c <= 0xDF)) {
            return false;
        }
    }
    // The decoder ends at a NUL byte: the text between NUL bytes is decoded
    // piece by piece and the NUL bytes kept.
    text->clear();
    std::vector<char> out(bytes.size() * 3 + 1);
    for (size_t start = 0; start <= bytes.size();) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) end = bytes.size();
        int n = ::sjisToUtf8(reinterpret_cast<const unsigned char*>(bytes.data() + start),
                             static_cast<int>(end - start), out.data(), out.size());
        text->append(out.data(), static_cast<size_t>(n));
        if (end < bytes.size()) text->push_back('\0');
        start = end + 1;
    }
    return true;
}

}  // namespace

TextWizardViewController::TextWizardViewController()
    : encoding("encoding"), delimiter("delimiter"), type("type"), fieldList("fieldList") {
    fieldList.addColumn("name");
    fieldList.addColumn("type");
    fieldList.setDataSource(this);
    fieldList.setDelegate(this);
    for (UIComboBox* combo : {&encoding, &delimiter, &type})
        combo->setSelectionDidChange([this](UIComboBox* c) { comboBoxSelectionDidChange(c); });
}

void TextWizardViewController::viewDidLoad() {
    m_fieldstype.clear();
    encoding.removeAllItems();
    for (const char* item : {"UTF-8", "UTF-16", "Shift_JIS"}) encoding.addItem(item);
    delimiter.removeAllItems();
    for (const char* item : {",", "TAB", "|"}) delimiter.addItem(item);
    type.removeAllItems();
    for (const char* item : {"-", "headword", "meaning", "keyword", "reading(kana)", "html", "id"}) type.addItem(item);
    encoding.selectItemAtIndex(2);
    delimiter.selectItemAtIndex(1);
    encodingStr = {"utf-8", "utf-16", "shift_jis"};
    delimStr = {",", "\t", "|"};
    typeStr = {"-", "headword", "meaning", "keyword", "kana", "html", "id"};
    m_bookset = BookSet::sharedBookSet();
    if (!m_bookset->csvFields().empty()) decodeFields();
    if (!m_bookset->csvPath().empty()) recognizeHeader();
    fieldList.reloadData();
}

void TextWizardViewController::decodeFields() {
    const std::string& spec = m_bookset->csvFields();
    if (spec.empty()) return;
    int enc = 0, delim = 0;
    for (const std::string& piece : split(spec, ";")) {
        std::vector<std::string> kv = split(piece, "=");
        if (kv.size() != 2) continue;
        if (kv[0] == "enc") {
            enc = indexOf(encodingStr, kv[1]);
            if (enc < 0) enc = 0;
        } else if (kv[0] == "delim") {
            delim = indexOf(delimStr, kv[1]);
            if (delim < 0) delim = 0;
        } else if (kv[0] == "fields") {
            std::vector<std::string> types = split(kv[1], "|");
            // The final "|" ends the list; it does not open one more column.
            if (!types.empty() && types.back().empty()) types.pop_back();
            for (std::string& t : types)
                if (t.empty()) t = "-";
            m_fieldstype = types;
        }
        encoding.selectItemAtIndex(enc);
        delimiter.selectItemAtIndex(delim);
    }
}

void TextWizardViewController::encodeFields() {
    int enc = encoding.indexOfSelectedItem();
    int delim = delimiter.indexOfSelectedItem();
    std::string spec = "enc=" + encodingStr[static_cast<size_t>(enc < 0 ? 0 : enc)] +
                       ";delim=" + delimStr[static_cast<size_t>(delim < 0 ? 0 : delim)] + ";fields=";
    for (const std::string& t : m_fieldstype) spec += (t == "-" ? std::string() : t) + "|";
    m_bookset->setCsvFields(spec);
}

void TextWizardViewController::recognizeHeader() {
    m_fieldsname.clear();
    FilePtr file(std::fopen(m_bookset->csvPath().c_str(), "rb"));
    if (!file) return;
    unsigned char mark[2];
    if (std::fread(mark, 1, 2, file.get()) != 2) return;
    std::rewind(file.get());
    std::string text;
    bool bom = mark[0] == 0xFF && mark[1] == 0xFE;
    if (bom) encoding.selectItemAtIndex(1);
    if (bom || encoding.indexOfSelectedItem() == 1) {
        std::vector<int> units(kLineUnits);
        if (readUTF16Line(units.data(), kLineUnits, file.get()) == nullptr) return;
        if (!unitsToUtf8(units.data(), &text)) return;
    } else {
        // The line's bytes as read, NUL bytes included.
        std::string bytes;
        for (int c; bytes.size() + 1 < static_cast<size_t>(kLineUnits) && (c = std::fgetc(file.get())) != EOF;) {
            bytes.push_back(static_cast<char>(c));
            if (c == '\n') break;
        }
        if (bytes.empty()) return;
        bool ok = encoding.indexOfSelectedItem() == 0 ? ::isUtf8Text(bytes.data(), static_cast<int>(bytes.size())) != 0
                                                      : sjisToUtf8Text(bytes, &text);
        if (!ok) return;
        if (encoding.indexOfSelectedItem() == 0) text = bytes;
    }
    int delim = delimiter.indexOfSelectedItem();
    m_fieldsname = split(text, delimStr[static_cast<size_t>(delim < 0 ? 0 : delim)]);
    if (m_fieldstype.empty()) m_fieldstype.assign(m_fieldsname.size(), "-");
}

int TextWizardViewController::numberOfRowsInTableView(UITableView*) {
    return static_cast<int>(m_fieldsname.size());
}

std::string TextWizardViewController::tableViewObjectValue(UITableView*, const std::string& column, int row,
                                                           bool* found) {
    *found = false;
    if (row < 0) return std::string();
    size_t r = static_cast<size_t>(row);
    if (column == "name" && r < m_fieldsname.size()) {
        *found = true;
        return m_fieldsname[r];
    }
    if (column == "type" && r < m_fieldstype.size()) {
        *found = true;
        return m_fieldstype[r];
    }
    return std::string();
}

void TextWizardViewController::tableViewSelectionDidChange(UITableView*) {
    int row = fieldList.selectedRow();
    if (row < 0) return;
    // A row without a type entry shows no type, so that any choice for it is
    // a change of the combo and is stored.
    type.selectItemAtIndex(static_cast<size_t>(row) < m_fieldstype.size()
                               ? indexOf(typeStr, m_fieldstype[static_cast<size_t>(row)])
                               : -1);
}

void TextWizardViewController::comboBoxSelectionDidChange(UIComboBox* combo) {
    if (combo == &type) {
        int row = fieldList.selectedRow();
        int item = type.indexOfSelectedItem();
        if (row >= 0 && static_cast<size_t>(row) < m_fieldsname.size() && item >= 0) {
            // A column without a type entry gets one (and the columns before it too).
            if (m_fieldstype.size() <= static_cast<size_t>(row)) m_fieldstype.resize(static_cast<size_t>(row) + 1, "-");
            m_fieldstype[static_cast<size_t>(row)] = typeStr[static_cast<size_t>(item)];
        }
    }
    fieldList.reloadData();
}

void TextWizardViewController::OnOK() {
    encodeFields();
    dismissController();
}

void TextWizardViewController::OnCancel() {
    dismissController();
}

void TextWizardViewController::OnReload() {
    if (!m_bookset->csvPath().empty()) recognizeHeader();
    fieldList.reloadData();
}

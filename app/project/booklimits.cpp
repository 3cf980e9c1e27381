#include "app/project/booklimits.h"

#include "foundation/codes/jclib.h"

namespace {

// The geta mark, which the conversion also writes for characters it cannot map.
const char kGetaUtf8[] = "\xE3\x80\x93";

size_t countUtf8Geta(const std::string& text) {
    size_t n = 0;
    for (size_t at = text.find(kGetaUtf8); at != std::string::npos; at = text.find(kGetaUtf8, at + 3)) ++n;
    return n;
}

size_t countSjisGeta(const std::string& sjis) {
    size_t n = 0;
    for (size_t i = 0; i < sjis.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(sjis[i]);
        if (jclib::isSjisLead(c) && i + 1 < sjis.size()) {
            if (c == 0x81 && static_cast<unsigned char>(sjis[i + 1]) == 0xAC) ++n;
            ++i;
        }
    }
    return n;
}

const char* const kFontSlotNames[FONT_SLOTS] = {"8x16", "16x16", "12x24", "24x24", "16x30", "32x30", "24x48", "48x48"};

}  // namespace

bool shiftJISText(const std::string& utf8, std::string* sjis) {
    sjis->clear();
    if (utf8.empty()) return true;
    if (!::isUtf8Text(utf8.data(), static_cast<int>(utf8.size())) || utf8.find('\0') != std::string::npos) return false;
    *sjis = toShiftJIS(utf8);
    return countSjisGeta(*sjis) == countUtf8Geta(utf8);
}

std::string toShiftJIS(const std::string& utf8) {
    // Every character of UTF-8 text takes at most as many bytes in Shift_JIS.
    std::string out(utf8.size() + 1, '\0');
    int n =
        ::utf8ToSjis(utf8.data(), static_cast<int>(utf8.size()), reinterpret_cast<unsigned char*>(&out[0]), out.size());
    out.resize(static_cast<size_t>(n));
    return out;
}

bool validDirName(const std::string& name) {
    if (name.empty() || name.size() > kMaxDirNameBytes) return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::string upperCaseDirName(std::string name) {
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

bool findBookFieldProblem(const BookInfo& book, const std::function<std::string(const std::string&)>& expand,
                          BookFieldProblem* problem) {
    auto fail = [problem](BookField field, const std::string& message, int slot = -1) {
        problem->field = field;
        problem->fontSlot = slot;
        problem->message = message;
        return true;
    };
    std::string sjis;
    if (!shiftJISText(book.bookTitle(), &sjis))
        return fail(BOOK_FIELD_TITLE, "title has characters without a Shift_JIS form");
    if (sjis.size() > kMaxTitleBytes) return fail(BOOK_FIELD_TITLE, "title longer than 80 bytes in Shift_JIS");
    if (!book.dirName().empty() && !validDirName(book.dirName()))
        return fail(BOOK_FIELD_DIRNAME, "directory name not 1 to 8 letters, digits or _");
    const struct {
        BookField field;
        const std::string& path;
        const char* name;
    } paths[] = {
        {BOOK_FIELD_GAIJIMAP, book.gaijiMap(), "gaiji map"},
        {BOOK_FIELD_GAIJIFONT, book.gaijiFont(), "gaiji font"},
        {BOOK_FIELD_COPYRIGHT, book.copyright(), "copyright"},
        {BOOK_FIELD_COMPLEX, book.complexDef(), "complex definition"},
        {BOOK_FIELD_KEYWORD, book.indexFile(), "keyword file"},
    };
    for (const auto& p : paths) {
        if (p.path.empty()) continue;
        if (expand(p.path).size() > kMaxPathBytes)
            return fail(p.field, std::string(p.name) + " path longer than 255 bytes");
    }
    for (int slot = 0; slot < FONT_SLOTS; ++slot) {
        const std::string& name = book.fontName(slot);
        if (name.empty()) continue;
        if (!shiftJISText(name, &sjis) || sjis.size() > kMaxFontNameBytes || name.find('/') != std::string::npos ||
            name.find('\\') != std::string::npos || name == "." || name == "..")
            return fail(BOOK_FIELD_FONT,
                        std::string(kFontSlotNames[slot]) + " gaiji font name not a file name of at most 8 bytes",
                        slot);
    }
    if (book.hanStart() > 0xFFFF) return fail(BOOK_FIELD_HANSTART, "narrow gaiji start code above FFFF");
    if (book.zenStart() > 0xFFFF) return fail(BOOK_FIELD_ZENSTART, "wide gaiji start code above FFFF");
    return false;
}

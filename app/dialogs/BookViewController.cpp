#include "app/dialogs/BookViewController.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "app/notificationnames.h"
#include "app/project/BookSet.h"
#include "app/project/booklimits.h"
#include "app/project/projectpaths.h"
#include "platform/UIBundle.h"
#include "platform/UINotificationCenter.h"
#include "platform/UIOpenPanel.h"

namespace {

const char* const kKinds[] = {"KOKUGO", "KANWA", "EIWA", "WAEI", "YOGO", "HYAKKA", "IPPAN", "RUIGO"};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

// A start code as typed: base 16, leading blanks, a sign and "0x" taken;
// no digits give 0; the value is cut to 32 bits.
uint32_t parseHex(const std::string& text) {
    return static_cast<uint32_t>(std::strtoll(text.c_str(), nullptr, 16));
}

// True for a start code parseHex reads whole: blanks, an optional sign and
// "0x", at least one hex digit, blanks. An empty field (the default codes)
// counts as one too.
bool isHexField(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) return true;
    if (text[i] == '+' || text[i] == '-') ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    const size_t digits = i;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == digits) return false;
    return text.find_first_not_of(" \t", i) == std::string::npos;
}

}  // namespace

BookViewController::BookViewController() : kindOfBook("kindOfBook") {}

UITextField* BookViewController::fontField(int slot) {
    UITextField* fields[FONT_SLOTS] = {&gai8x16,  &gai16x16, &gai12x24, &gai24x24,
                                       &gai16x30, &gai32x30, &gai24x48, &gai48x48};
    return slot >= 0 && slot < FONT_SLOTS ? fields[slot] : nullptr;
}

void BookViewController::viewDidLoad() {
    kindOfBook.removeAllItems();
    for (const char* kind : kKinds) kindOfBook.addItem(kind);
    m_bookset = BookSet::sharedBookSet();
    if (m_bookset->correntBook() == -1) {
        gai8x16.setStringValue("GAI16H00");
        gai16x16.setStringValue("GAI16F00");
        separateHonmon.setState(UIStateOff);
        kindOfBook.selectItemAtIndex(6);
        hanStart.setStringValue("A121");
        zenStart.setStringValue("B121");
        return;
    }
    const BookInfo* selected = m_bookset->selectedBook();
    if (selected == nullptr) return;
    const BookInfo& book = *selected;
    bookTitle.setStringValue(book.bookTitle());
    dirName.setStringValue(book.dirName());
    gaijiMap.setStringValue(book.gaijiMap());
    gaijiFont.setStringValue(book.gaijiFont());
    copyright.setStringValue(book.copyright());
    complexindex.setStringValue(book.complexDef());
    keywordFile.setStringValue(book.indexFile());
    for (int slot = 0; slot < FONT_SLOTS; ++slot) fontField(slot)->setStringValue(book.fontName(slot));
    hanStart.setStringValue(hex(book.hanStart()));
    zenStart.setStringValue(hex(book.zenStart()));
    separateHonmon.setState(book.separateMMData() ? UIStateOn : UIStateOff);
    int type = book.bookTypeID();
    if (type >= 0 && type <= 0x70 && type % 16 == 0) kindOfBook.selectItemAtIndex(type / 16);
}

void BookViewController::OnOK() {
    m_refusal = "empty";
    if (bookTitle.stringValue().empty()) {
        makeFirstResponder(&bookTitle);
        return;
    }
    if (dirName.stringValue().empty()) {
        makeFirstResponder(&dirName);
        return;
    }
    // A start code that is no number is refused, not taken as 0.
    const struct {
        UITextField* field;
        const char* what;
    } codes[] = {{&hanStart, "narrow"}, {&zenStart, "wide"}};
    for (const auto& c : codes) {
        if (isHexField(c.field->stringValue())) continue;
        makeFirstResponder(c.field);
        m_refusal =
            std::string(c.what) + " gaiji start code \"" + c.field->stringValue() + "\" is not a hexadecimal number";
        return;
    }
    m_refusal.clear();
    BookInfo edited;
    BookInfo* selected = m_bookset->selectedBook();
    bool adding = m_bookset->correntBook() == -1;
    if (!adding && selected == nullptr) return;
    if (!adding) edited = *selected;
    edited.setBookTitle(bookTitle.stringValue());
    edited.setDirName(upperCaseDirName(dirName.stringValue()));
    edited.setGaijiMap(gaijiMap.stringValue());
    edited.setGaijiFont(gaijiFont.stringValue());
    edited.setCopyright(copyright.stringValue());
    edited.setComplexDef(complexindex.stringValue());
    edited.setIndexFile(keywordFile.stringValue());
    for (int slot = 0; slot < FONT_SLOTS; ++slot) edited.setFontName(slot, fontField(slot)->stringValue());
    edited.setHanStart(parseHex(hanStart.stringValue()));
    edited.setZenStart(parseHex(zenStart.stringValue()));
    int kind = kindOfBook.indexOfSelectedItem();
    edited.setBookTypeID(kind >= 0 ? 16 * kind : 0x60);
    edited.setSeparateMMData(separateHonmon.state() == UIStateOn);

    // A value a build cannot take is refused like an empty one.
    const std::string base = m_bookset->basePath();
    const std::string app = UIBundle::mainBundle().resourcePath();
    BookFieldProblem problem;
    if (findBookFieldProblem(
            edited, [&](const std::string& p) { return toAbsPath(p, base, app); }, &problem)) {
        UITextField* fields[] = {nullptr,       &bookTitle,   &dirName, &gaijiMap, &gaijiFont, &copyright,
                                 &complexindex, &keywordFile, nullptr,  &hanStart, &zenStart};
        makeFirstResponder(problem.field == BOOK_FIELD_FONT ? fontField(problem.fontSlot) : fields[problem.field]);
        m_refusal = problem.message;
        return;
    }
    if (adding) {
        auto& books = m_bookset->getBookArray();
        books.push_back(edited);
        m_bookset->setCorrentBook(static_cast<int>(books.size()) - 1);
    } else {
        *selected = edited;
    }
    UINotificationCenter::defaultCenter().post(kReloadBookNotification, this);
    dismissController();
}

void BookViewController::OnCancel() {
    dismissController();
}

void BookViewController::choosePath(UITextField* field) {
    UIOpenPanel panel;
    panel.setDirectory(UIOpenPanel::homeDirectory() + "/Documents");
    if (panel.runModal() == UIModalOK) field->setStringValue(panel.path());
}

void BookViewController::selectGaijiMap() {
    choosePath(&gaijiMap);
}
void BookViewController::selectGaijiFont() {
    choosePath(&gaijiFont);
}
void BookViewController::selectCopyright() {
    choosePath(&copyright);
}
void BookViewController::selectComplex() {
    choosePath(&complexindex);
}
void BookViewController::selectKeyword() {
    choosePath(&keywordFile);
}

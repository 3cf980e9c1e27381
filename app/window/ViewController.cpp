// ViewController: start-up, the book and source lists, the option tabs and
// the project commands. The runs are in ViewControllerRuns.cpp.
#include "app/window/ViewController.h"

#include <cstdio>
#include <cstdlib>

#include "app/notificationnames.h"
#include "app/project/BookSet.h"
#include "app/project/openproject.h"
#include "app/project/projectoptions.h"
#include "app/project/projectpaths.h"
#include "foundation/codes/jclib.h"
#include "platform/UIBundle.h"
#include "platform/UIDocumentController.h"
#include "platform/UINotificationCenter.h"
#include "platform/UIOpenPanel.h"
#include "platform/UISavePanel.h"

namespace {

// Index selection bits of tab 1.
const struct {
    UICheckBox ViewController::*box;
    int bit;
} kIndexBoxes[] = {
    {&ViewController::prefixHyoki, 0x01}, {&ViewController::prefixKana, 0x02},   {&ViewController::suffixHyoki, 0x04},
    {&ViewController::suffixKana, 0x08},  {&ViewController::keywordIndex, 0x10}, {&ViewController::complexIndex, 0x20},
    {&ViewController::menuIndex, 0x40},   {&ViewController::crossIndex, 0x80},
};

// Options shown by check boxes, by tab.
const struct {
    const char* name;
    int tab;
    UICheckBox ViewController::*box;
} kCheckOptions[] = {
    {"delBlank", 2, &ViewController::delBlank},         {"delSym", 2, &ViewController::delSym},
    {"refAuto", 2, &ViewController::refAuto},           {"autoWord", 2, &ViewController::autoWord},
    {"autoEWord", 2, &ViewController::autoEWord},       {"autoKana", 2, &ViewController::autoKana},
    {"omitHeader", 2, &ViewController::omitHeader},     {"topMenu", 2, &ViewController::topMenu},
    {"singleLine", 2, &ViewController::singleLine},     {"hyokiSep", 2, &ViewController::hyokiSep},
    {"subTitle", 2, &ViewController::subTitle},         {"HTagIndex", 2, &ViewController::HTagIndex},
    {"HTagMenu", 2, &ViewController::HTagMenu},         {"DTTagIndex", 2, &ViewController::DTTagIndex},
    {"autoUniGaiji", 2, &ViewController::autoUniGaiji}, {"makeFig", 3, &ViewController::makeFig},
    {"inlineImg", 3, &ViewController::inlineImg},       {"eijiPartOfSpeech", 3, &ViewController::eijiPartOfSpeech},
    {"eijiBreak", 3, &ViewController::eijiBreak},       {"eijiKana", 3, &ViewController::eijiKana},
    {"withHeader", 3, &ViewController::withHeader},     {"optMono", 3, &ViewController::optMono},
};

// Options shown by text fields: texts, or numbers shown as "%d".
const struct {
    const char* name;
    int tab;
    UITextField ViewController::*field;
} kFieldOptions[] = {
    {"stopWord", 2, &ViewController::stopWord},     {"delChars", 2, &ViewController::delChars},
    {"kanaSep1", 2, &ViewController::kanaSep1},     {"kanaSep2", 2, &ViewController::kanaSep2},
    {"leftMargin", 3, &ViewController::leftMargin}, {"indent", 3, &ViewController::indent},
    {"tableWidth", 3, &ViewController::tableWidth}, {"maxStringT", 3, &ViewController::maxStringT},
};

// Options chosen in combo boxes; the item's index is the value.
const struct {
    const char* name;
    int tab;
    UIComboBox ViewController::*combo;
} kComboOptions[] = {
    {"srchUnit", 2, &ViewController::srchUnit},     {"eijiYomi", 3, &ViewController::eijiYomi},
    {"pdicTitle", 3, &ViewController::pdicTitle},   {"pdicPronon", 3, &ViewController::pdicPronon},
    {"pdicHonbun", 3, &ViewController::pdicHonbun}, {"pdicYorei", 3, &ViewController::pdicYorei},
};

// The int of a flag or number option, by name.
int optionValue(const ConvertOpt& opt, const char* name) {
    return projectOptionNumber(opt, *findProjectOption(name));
}

void setOptionValue(ConvertOpt* opt, const char* name, int32_t value) {
    setProjectOptionNumber(opt, *findProjectOption(name), value);
}

void fillCombo(UIComboBox* combo, std::initializer_list<const char*> items) {
    combo->removeAllItems();
    for (const char* item : items) combo->addItem(item);
}

}  // namespace

ViewController::ViewController(UIApplication* app)
    : ebType({{"EB", 0}, {"EPWING", 1}}),
      titleOrder({{"", 1}, {"", 0}}),
      srchUnit("srchUnit"),
      eijiYomi("eijiYomi"),
      pdicTitle("pdicTitle"),
      pdicPronon("pdicPronon"),
      pdicHonbun("pdicHonbun"),
      pdicYorei("pdicYorei"),
      bookTableView("bookTableView"),
      sourceTableView("sourceTableView"),
      m_app(app),
      m_bookset(BookSet::sharedBookSet()) {
    for (const char* id : {"1", "2", "3"}) tabView.addTabItem(id);
    tabView.setDidSelect([this](UITabView*, const std::string& identifier) {
        commitOptionTab(tabid);
        tabid = std::atoi(identifier.c_str());
    });
    bookTableView.addColumn("book");
    sourceTableView.addColumn("source");
    for (UITableView* table : {&bookTableView, &sourceTableView}) {
        table->setDataSource(this);
        table->setDelegate(this);
    }
}

ViewController::~ViewController() {
    UINotificationCenter::defaultCenter().removeObserver(this);
}

void ViewController::viewDidLoad() {
    tabid = 1;
    typedef void (ViewController::*Handler)(const UINotification*);
    const struct {
        const char* name;
        Handler handler;
    } observed[] = {
        {kReloadBookNotification, &ViewController::reloadBook},
        {kReloadSourceNotification, &ViewController::reloadSource},
        {kShowMessageNotification, &ViewController::showMessageOnMainThread},
        {kInvalidateBooksetNotification, &ViewController::invalidateBookSet},
        {kAddBookNotification, &ViewController::addBook},
        {kDeleteBookNotification, &ViewController::deleteBook},
        {kEditBookNotification, &ViewController::editBook},
        {kAddSourceNotification, &ViewController::addSource},
        {kDeleteSourceNotification, &ViewController::deleteSource},
        {kEditSourceNotification, &ViewController::editSource},
        {kDoConvertNotification, &ViewController::doConvert},
        {kAbortNotification, &ViewController::abort},
        {kNewDocumentNotification, &ViewController::newDocument},
        {kOpenDocumentNotification, &ViewController::openDocument},
        {kSaveDocumentNotification, &ViewController::saveDocument},
        {kSaveDocumentAsNotification, &ViewController::saveDocumentAs},
        {kOpenFileNotification, &ViewController::openFile},
        {kMakeCatalogNotification, &ViewController::makeCatalog},
    };
    UINotificationCenter& center = UINotificationCenter::defaultCenter();
    for (const auto& o : observed) {
        Handler h = o.handler;
        center.addObserver(this, o.name, nullptr, [this, h](const UINotification& n) { (this->*h)(&n); });
    }
    fillCombo(&eijiYomi, {"remove", "ruby", "original"});
    for (UIComboBox* c : {&pdicTitle, &pdicPronon, &pdicHonbun, &pdicYorei})
        fillCombo(c, {"NONE", "SILIPA93", "LATIN1"});
    fillCombo(&srchUnit, {"section", "paragraph"});
    invalidateBookSet(nullptr);
    definitionPath.clear();
    setTitle("Lexforge");
}

// ---- lists ----

void ViewController::reloadBook(const UINotification*) {
    bookTableView.reloadData();
}

void ViewController::reloadSource(const UINotification*) {
    sourceTableView.reloadData();
}

int ViewController::numberOfRowsInTableView(UITableView* table) {
    if (table->identifier() == "bookTableView") return static_cast<int>(m_bookset->getBookArray().size());
    if (table->identifier() == "sourceTableView") {
        const BookInfo* book = m_bookset->selectedBook();
        return book ? static_cast<int>(book->getSource().size()) : 0;
    }
    return 0;
}

std::string ViewController::tableViewObjectValue(UITableView*, const std::string& column, int row, bool* found) {
    *found = false;
    const auto& books = m_bookset->getBookArray();
    if (row < 0) return std::string();
    if (column == "book" && row < static_cast<int>(books.size())) {
        *found = true;
        return books[static_cast<size_t>(row)].bookTitle();
    }
    const BookInfo* book = m_bookset->selectedBook();
    if (column == "source" && book != nullptr) {
        const auto& sources = book->getSource();
        if (row < static_cast<int>(sources.size())) {
            *found = true;
            return sources[static_cast<size_t>(row)].inFile();
        }
    }
    return std::string();
}

void ViewController::tableViewSelectionDidChange(UITableView*) {
    int old = m_bookset->correntBook();
    m_bookset->setCorrentBook(bookTableView.selectedRow());
    m_bookset->setCorrentSource(sourceTableView.selectedRow());
    if (bookTableView.selectedRow() != old) sourceTableView.reloadData();
}

void ViewController::addBook(const UINotification*) {
    m_bookset->setCorrentBook(-1);
    showBookViewController();
}

void ViewController::editBook(const UINotification*) {
    if (m_bookset->correntBook() == -1) return;
    showBookViewController();
}

void ViewController::deleteBook(const UINotification*) {
    if (m_bookset->selectedBook() == nullptr) return;
    auto& books = m_bookset->getBookArray();
    books.erase(books.begin() + m_bookset->correntBook());
    m_bookset->setCorrentBook(-1);
    UINotificationCenter::defaultCenter().post(kReloadBookNotification);
}

void ViewController::addSource(const UINotification*) {
    if (m_bookset->correntBook() == -1) return;
    m_bookset->setCorrentSource(-1);
    showSourceViewController();
}

void ViewController::editSource(const UINotification*) {
    if (m_bookset->correntBook() == -1 || m_bookset->correntSource() == -1) return;
    showSourceViewController();
}

void ViewController::deleteSource(const UINotification*) {
    if (m_bookset->selectedSource() == nullptr) return;
    auto& sources = m_bookset->selectedBook()->getSource();
    sources.erase(sources.begin() + m_bookset->correntSource());
    m_bookset->setCorrentSource(-1);
    UINotificationCenter::defaultCenter().post(kReloadSourceNotification);
}

void ViewController::moveRow(UITableView* table, int from, int to) {
    BookInfo* book = m_bookset->selectedBook();
    bool books = table == &bookTableView;
    if (!books && (table != &sourceTableView || book == nullptr)) return;
    auto move = [&](auto& list) {
        int n = static_cast<int>(list.size());
        if (from < 0 || from >= n || to < 0 || to >= n) return false;
        auto item = list[static_cast<size_t>(from)];
        list.erase(list.begin() + from);
        list.insert(list.begin() + to, item);
        return true;
    };
    if (books ? !move(m_bookset->getBookArray()) : !move(book->getSource())) return;
    table->deselectAll();
    table->reloadData();
    table->selectRow(to);
}

std::vector<ViewController::OptionControl> ViewController::optionControls() {
    std::vector<OptionControl> controls = {
        {"basePath", 1, nullptr, &basePath, nullptr, nullptr, false},
        {"outputPath", 1, nullptr, &outputPath, nullptr, nullptr, false},
        {"ebType", 1, nullptr, nullptr, nullptr, &ebType, false},
    };
    const char* const indexNames[] = {"prefixHyoki",  "prefixKana",   "suffixHyoki", "suffixKana",
                                      "keywordIndex", "complexIndex", "menuIndex",   "crossIndex"};
    for (size_t i = 0; i < sizeof kIndexBoxes / sizeof kIndexBoxes[0]; ++i)
        controls.push_back({indexNames[i], 1, &(this->*kIndexBoxes[i].box), nullptr, nullptr, nullptr, false});
    for (int tab : {2, 3}) {
        for (const auto& c : kCheckOptions)
            if (c.tab == tab) controls.push_back({c.name, tab, &(this->*c.box), nullptr, nullptr, nullptr, false});
        for (const auto& f : kFieldOptions)
            if (f.tab == tab)
                controls.push_back({f.name, tab, nullptr, &(this->*f.field), nullptr, nullptr,
                                    findProjectOption(f.name)->kind != OPTION_TEXT});
        if (tab == 2) controls.push_back({"titleOrder", 2, nullptr, nullptr, nullptr, &titleOrder, false});
        for (const auto& c : kComboOptions)
            if (c.tab == tab) controls.push_back({c.name, tab, nullptr, nullptr, &(this->*c.combo), nullptr, false});
    }
    return controls;
}

void ViewController::doubleActionBook() {
    m_bookset->setCorrentBook(bookTableView.selectedRow());
    if (m_bookset->correntBook() == -1)
        addBook(nullptr);
    else
        editBook(nullptr);
}

void ViewController::doubleActionSource() {
    m_bookset->setCorrentSource(sourceTableView.selectedRow());
    if (m_bookset->correntSource() == -1)
        addSource(nullptr);
    else
        editSource(nullptr);
}

void ViewController::showBookViewController() {
    showDialog(kBookWindowController);
}

void ViewController::showSourceViewController() {
    showDialog(kSourceWindowController);
}

void ViewController::showDialog(const char* identifier) {
    myController = UIStoryboard(kMainStoryboard).instantiateControllerWithIdentifier(identifier);
    if (myController) presentViewControllerAsModalWindow(myController->contentViewController());
}

// ---- option tabs ----

void ViewController::invalidateBookSet(const UINotification*) {
    basePath.setStringValue(m_bookset->basePath());
    outputPath.setStringValue(m_bookset->outputPath());
    ebType.selectCellWithTag(m_bookset->ebType() == 1 ? 1 : 0);
    int bits = m_bookset->indexDef();
    if (bits != 0) {
        for (const auto& b : kIndexBoxes) (this->*b.box).setState((bits & b.bit) ? UIStateOn : UIStateOff);
    } else {
        prefixHyoki.setState(UIStateOn);
        prefixKana.setState(UIStateOn);
        menuIndex.setState(UIStateOn);
    }
    const ConvertOpt& opt = *m_bookset->getConvertOpt();
    for (const auto& c : kCheckOptions) (this->*c.box).setState(optionValue(opt, c.name) ? UIStateOn : UIStateOff);
    for (const auto& f : kFieldOptions) {
        const ProjectOption* option = findProjectOption(f.name);
        if (option->kind == OPTION_TEXT) {
            const char* text = opt.*(option->textField);
            std::string value = text ? text : "";
            if (::isUtf8Text(value.data(), static_cast<int>(value.size()))) (this->*f.field).setStringValue(value);
        } else {
            char number[16];
            std::snprintf(number, sizeof number, "%d", static_cast<int>(projectOptionNumber(opt, *option)));
            (this->*f.field).setStringValue(number);
        }
    }
    // A value that is no item's index selects no item.
    for (const auto& c : kComboOptions) (this->*c.combo).selectItemAtIndex(optionValue(opt, c.name));
    titleOrder.selectCellWithTag(opt.titleOrder != 0 ? 1 : 0);
    // The rows highlighted before belong to the project that was replaced:
    // both lists start without a selection, so that the model's book and
    // source follow the rows highlighted from here on.
    sourceTableView.deselectAll();
    bookTableView.deselectAll();
    bookTableView.reloadData();
    sourceTableView.reloadData();
    m_bookset->setCorrentBook(-1);
    m_bookset->setCorrentSource(-1);
    if (!m_bookset->getBookArray().empty()) bookTableView.selectRow(0);
}

void ViewController::setBookset() {
    m_bookset->setBasePath(basePath.stringValue());
    std::string out = outputPath.stringValue();
    if (!out.empty() && out.back() != '/') out += '/';
    m_bookset->setOutputPath(out);
    m_bookset->setEbType(ebType.selectedTag());
    int bits = 0;
    for (const auto& b : kIndexBoxes)
        if ((this->*b.box).state() == UIStateOn) bits |= b.bit;
    m_bookset->setIndexDef(bits);
}

void ViewController::commitOptionTab(int tab) {
    ConvertOpt* opt = m_bookset->getConvertOpt();
    for (const auto& c : kCheckOptions)
        if (c.tab == tab) setOptionValue(opt, c.name, (this->*c.box).state() == UIStateOn ? 1 : 0);
    for (const auto& f : kFieldOptions) {
        if (f.tab != tab) continue;
        const ProjectOption* option = findProjectOption(f.name);
        const std::string& text = (this->*f.field).stringValue();
        if (option->kind == OPTION_TEXT)
            m_bookset->setTextOption(option->textField, text);
        else
            setProjectOptionNumber(opt, *option, leadingInteger(text));
    }
    // With no item selected the option keeps its value: -1 is no value of
    // any of these options.
    for (const auto& c : kComboOptions) {
        int index = (this->*c.combo).indexOfSelectedItem();
        if (c.tab == tab && index >= 0) setOptionValue(opt, c.name, index);
    }
    if (tab == 2) opt->titleOrder = titleOrder.selectedTag();
}

void ViewController::selectBasePath() {
    chooseFolder(&basePath);
}

void ViewController::selectOutputPath() {
    chooseFolder(&outputPath);
}

void ViewController::chooseFolder(UITextField* field) {
    UIOpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(false);
    panel.setDirectory(UIOpenPanel::homeDirectory() + "/Documents");
    if (panel.runModal() == UIModalOK) field->setStringValue(panel.path());
}

std::string ViewController::toAbsPath(const std::string& path) const {
    return ::toAbsPath(path, m_bookset->basePath(), UIBundle::mainBundle().resourcePath());
}

// ---- project commands ----

void ViewController::newDocument(const UINotification*) {
    showFront();
    m_bookset->clear();
    invalidateBookSet(nullptr);
    definitionPath.clear();
}

void ViewController::readProject(const std::string& path) {
    std::string error;
    m_openOK = openProjectFile(m_bookset, path, &definitionPath, &error);
    if (!m_openOK) appendText("can't open the project: " + error + "\n");
    invalidateBookSet(nullptr);
}

void ViewController::openDocument(const UINotification*) {
    showFront();
    UIOpenPanel panel;
    panel.setAllowedFileTypes({"lfx", "lfs", "xml"});
    if (panel.runModal() != UIModalOK) return;
    readProject(panel.path());
    UIDocumentController::sharedDocumentController().noteNewRecentDocumentURL(panel.path());
}

void ViewController::openFile(const UINotification* notification) {
    if (notification == nullptr) return;
    auto it = notification->userInfo.find(kFilenameKey);
    if (it == notification->userInfo.end() || it->second.empty()) return;
    readProject(it->second);
}

void ViewController::writeProject() {
    setBookset();
    commitOptionTab(tabid);
    std::string error;
    m_saveOK = m_bookset->saveXMLFile(definitionPath, &error);
    if (!m_saveOK) appendText("can't save the project: " + error + "\n");
}

void ViewController::saveDocument(const UINotification*) {
    if (definitionPath.empty()) {
        saveDocumentAs(nullptr);
        return;
    }
    writeProject();
}

void ViewController::saveDocumentAs(const UINotification*) {
    UISavePanel panel;
    panel.setAllowedFileTypes({"lfx"});
    if (panel.runModal() != UIModalOK) return;
    definitionPath = panel.path();
    writeProject();
}

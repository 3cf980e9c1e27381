#include "app/dialogs/SourceViewController.h"

#include "app/notificationnames.h"
#include "app/project/BookSet.h"
#include "app/project/projectpaths.h"
#include "platform/UIBundle.h"
#include "platform/UINotificationCenter.h"
#include "platform/UIOpenPanel.h"

namespace {

// The delimited-text type, described by a CSV field spec.
const int kDelimitedText = 9;

}  // namespace

SourceViewController::SourceViewController()
    : sourceType({{"HTML", 0},
                  {"JEPAX markup", 1},
                  {"PDIC text", 2},
                  {"EIJIRO", 3},
                  {"Plain text", 4},
                  {"PDIC one line", 5},
                  {"PDIC dictionary", 6},
                  {"HTML/XML", 7},
                  {"Delimited text", 9}}) {}

void SourceViewController::viewDidLoad() {
    m_bookset = BookSet::sharedBookSet();
    m_bookset->setCsvPath("");
    m_bookset->setCsvFields("");
    int book = m_bookset->correntBook();
    int source = m_bookset->correntSource();
    auto& books = m_bookset->getBookArray();
    if (source == -1 || book == -1) {
        sourceType.selectCellWithTag(0);
        return;
    }
    if (book < 0 || book >= static_cast<int>(books.size())) return;
    auto& sources = books[static_cast<size_t>(book)].getSource();
    if (source < 0 || source >= static_cast<int>(sources.size())) return;
    const SourceInfo& s = sources[static_cast<size_t>(source)];
    sourcePath.setStringValue(s.inFile());
    sourceTitle.setStringValue(s.title());
    sourceType.selectCellWithTag(s.sourceTypeID());
    m_bookset->setCsvFields(s.fields());
}

void SourceViewController::OnOK() {
    if (sourcePath.stringValue().empty()) {
        makeFirstResponder(&sourcePath);
        return;
    }
    auto& books = m_bookset->getBookArray();
    int book = m_bookset->correntBook();
    if (book >= 0 && book < static_cast<int>(books.size())) {
        auto& sources = books[static_cast<size_t>(book)].getSource();
        int index = m_bookset->correntSource();
        SourceInfo* s = nullptr;
        if (index == -1) {
            sources.emplace_back();
            s = &sources.back();
            m_bookset->setCorrentSource(static_cast<int>(sources.size()) - 1);
        } else if (index >= 0 && index < static_cast<int>(sources.size())) {
            s = &sources[static_cast<size_t>(index)];
        }
        if (s != nullptr) {
            s->setInFile(sourcePath.stringValue());
            s->setTitle(sourceTitle.stringValue());
            s->setSourceTypeID(sourceType.selectedTag());
            s->setFields(sourceType.selectedTag() == kDelimitedText ? m_bookset->csvFields() : std::string());
        }
    }
    UINotificationCenter::defaultCenter().post(kReloadSourceNotification, this);
    dismissController();
}

void SourceViewController::OnCancel() {
    dismissController();
}

void SourceViewController::OnTextWizard() {
    m_bookset->setCsvPath(toAbsPath(sourcePath.stringValue()));
    if (sourceType.selectedTag() != kDelimitedText) return;
    myController = UIStoryboard(kMainStoryboard).instantiateControllerWithIdentifier(kTextWizardWindowController);
    if (myController) presentViewControllerAsModalWindow(myController->contentViewController());
}

void SourceViewController::selectSourcePath() {
    UIOpenPanel panel;
    panel.setDirectory(m_bookset->basePath());
    if (panel.runModal() == UIModalOK) sourcePath.setStringValue(panel.path());
}

std::string SourceViewController::toAbsPath(const std::string& path) const {
    return ::toAbsPath(path, m_bookset->basePath(), UIBundle::mainBundle().resourcePath());
}

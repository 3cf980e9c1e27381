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
    if (m_bookset->correntSource() == -1 || m_bookset->correntBook() == -1) {
        sourceType.selectCellWithTag(0);
        return;
    }
    const SourceInfo* selected = m_bookset->selectedSource();
    if (selected == nullptr) return;
    const SourceInfo& s = *selected;
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
    if (BookInfo* book = m_bookset->selectedBook()) {
        SourceInfo* s = m_bookset->selectedSource();
        if (m_bookset->correntSource() == -1) {
            auto& sources = book->getSource();
            sources.emplace_back();
            s = &sources.back();
            m_bookset->setCorrentSource(static_cast<int>(sources.size()) - 1);
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

// ViewController: the build and catalog runs, abort and the log.

#include "app/notificationnames.h"
#include "app/project/BookSet.h"
#include "app/project/booklimits.h"
#include "app/project/projectoptions.h"
#include "app/window/RunPlan.h"
#include "app/window/ViewController.h"
#include "builder/CEPWing.h"
#include "foundation/pathutil.h"
#include "platform/UIApplication.h"
#include "platform/UIBundle.h"
#include "platform/UINotificationCenter.h"
#include "platform/UIThread.h"

namespace {

const char* orNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace

void ViewController::showMessage(const char* text) {
    UINotificationCenter::defaultCenter().post(kShowMessageNotification, nullptr, {{kMessageKey, text ? text : ""}});
}

void ViewController::showMessageOnMainThread(const UINotification* notification) {
    auto it = notification->userInfo.find(kMessageKey);
    if (it == notification->userInfo.end() || it->second.empty()) return;
    std::string text = it->second;
    if (m_app == nullptr) {
        appendText(text);
        return;
    }
    m_app->performOnMainThread([this, text] { appendText(text); });
}

void ViewController::appendText(const std::string& text) {
    textView.selectAll();
    textView.setSelectedRange(UIRange{textView.selectedRange().length, 0});
    textView.insertText(text);
}

void ViewController::clearLog() {
    textView.setString("");
}

void ViewController::setOptions(CEPWing* epwing, const ConvertOpt& opt) {
    if (epwing == nullptr) return;
    for (const DriverOption& o : driverIntOptions(opt)) epwing->setIntOption(o.name, o.value);
    if (opt.maxStringT > 256000000u) epwing->setIntOption("maxStringT", static_cast<int>(opt.maxStringT));
    // The texts are kept in UTF-8 by the project and in Shift_JIS by the book
    // writer.
    const struct {
        const char* name;
        const char* text;
    } texts[] = {{"stopWord", opt.stopWord},
                 {"delChars", opt.delChars},
                 {"arrowCode", opt.arrowCode},
                 {"kanaSep1", opt.kanaSep1},
                 {"kanaSep2", opt.kanaSep2}};
    for (const auto& t : texts)
        if (t.text != nullptr) epwing->setStringOption(t.name, toShiftJIS(t.text).c_str());
}

RunResult ViewController::lastRun() const {
    std::lock_guard<std::mutex> g(m_resultLock);
    return m_lastRun;
}

bool ViewController::runProgress(int* percent, std::string* book) {
    std::lock_guard<std::mutex> g(m_runLock);
    if (m_epwing == nullptr) return false;
    *percent = m_epwing->getProgress();
    *book = m_currentBook;
    return true;
}

std::unique_ptr<RunPlan> ViewController::prepareRun() {
    if (m_running) {
        appendText("A run is under way: this one is not started.\n");
        return nullptr;
    }
    if (outputPath.stringValue().empty()) {
        makeFirstResponder(&outputPath);
        return nullptr;
    }
    setBookset();
    commitOptionTab(tabid);
    if (m_bookset->outputPath().empty()) return nullptr;
    {
        std::string field, why;
        if (!m_bookset->refusedValues().empty()) {
            const BookSet::RefusedValue& r = m_bookset->refusedValues().front();
            field = r.field;
            why = "the project's " + r.field + " \"" + r.value + "\" is not accepted (" + r.accepted + ")";
        }
        if (!field.empty() || findOptionRangeProblem(*m_bookset->getConvertOpt(), &field, &why)) {
            appendText("Not started: " + why + ".\n");
            std::lock_guard<std::mutex> g(m_resultLock);
            m_lastRun = RunResult();
            m_lastRun.refused = true;
            m_lastRun.refusedField = field;
            m_lastRun.failures = 1;
            return nullptr;
        }
    }
    std::unique_ptr<RunPlan> plan(new RunPlan(*m_bookset, UIBundle::mainBundle().resourcePath()));
    // A relative output folder is the project's, as "$(BASE)" is: it lies
    // beside the project file, wherever the program was started.
    if (plan->outputPath[0] != '/' && !definitionPath.empty()) {
        const std::string folder = pathDirName(definitionPath);
        plan->outputPath =
            (folder.empty() && definitionPath[0] != '/' ? std::string(".") : folder) + "/" + plan->outputPath;
    }
    {
        std::lock_guard<std::mutex> g(m_resultLock);
        m_lastRun = RunResult();
    }
    if (!plan->refusal.empty()) {
        appendText("Not started: " + plan->refusal + ".\n");
        std::lock_guard<std::mutex> g(m_resultLock);
        m_lastRun.refused = true;
        m_lastRun.failures = 1;
        return nullptr;
    }
    appendText("start.\n");
    bAbort = false;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_abortPending = false;
    }
    m_running = true;
    return plan;
}

CEPWing* ViewController::startDriver(const RunPlan& plan) {
    CEPWing* epwing = new CEPWing;
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_epwing = epwing;
        m_currentBook.clear();
    }
    epwing->init();
    setOptions(epwing, plan.options);
    epwing->setMessageCallback(showMessage);
    // The output folder is made here, so that a run that builds no book
    // still has a place for its catalog.
    makeDirectories(plan.outputPath.c_str());
    epwing->setOutput(plan.outputPath.c_str(), plan.ebType);
    return epwing;
}

bool ViewController::stopDriver(CEPWing* epwing) {
    const bool written = epwing->closeCatalog();
    epwing->term();
    {
        std::lock_guard<std::mutex> g(m_runLock);
        m_epwing = nullptr;
    }
    delete epwing;
    return written;
}

void ViewController::finishRun(bool aborted, int failures) {
    {
        std::lock_guard<std::mutex> g(m_resultLock);
        m_lastRun.finished = true;
        m_lastRun.aborted = aborted;
        m_lastRun.failures = failures;
    }
    showMessage(aborted ? "Aborted.\n" : "Done.\n");
    m_running = false;
}

void ViewController::doConvert(const UINotification*) {
    std::shared_ptr<RunPlan> plan = prepareRun();
    if (!plan) return;
    UIThread::detachNewThread([this, plan] { makeDictionary(plan); });
}

void ViewController::makeDictionary(std::shared_ptr<RunPlan> plan) {
    CEPWing* epwing = startDriver(*plan);
    const std::string hex8 = UIBundle::mainBundle().resourcePath() + "/hex/8x16.hex";
    const std::string hex16 = UIBundle::mainBundle().resourcePath() + "/hex/16x16.hex";
    int failures = 0;
    for (const PlannedBook& book : plan->books) {
        if (!book.problem.empty()) {
            showMessage("\n");
            showMessage(("book \"" + book.name + "\" skipped: " + book.problem + "\n").c_str());
            ++failures;
            continue;
        }
        {
            std::lock_guard<std::mutex> g(m_runLock);
            m_currentBook = book.dirName;
        }
        int rc = epwing->newBook(book.title.c_str(), book.dirName.c_str(), book.bookTypeID, orNull(book.gaijiFont),
                                 orNull(book.gaijiMap), orNull(book.complexDef), orNull(book.indexFile), book.fontMask,
                                 book.fontNames, plan->indexDef, book.separateMMData, book.hanStart, book.zenStart);
        showMessage("\n");
        if (rc != 0) {
            // The driver has said why; nothing more goes to this book.
            showMessage(("book \"" + book.name + "\" could not be started: not in the catalog\n").c_str());
            ++failures;
            continue;
        }
        {
            std::lock_guard<std::mutex> g(m_runLock);
            m_bookUnderWay = true;
            if (m_abortPending) {
                m_abortPending = false;
                epwing->abort();
            }
        }
        epwing->loadHexFont(hex8.c_str());
        epwing->loadHexFont(hex16.c_str());
        int sourceFailures = 0;
        for (const PlannedSource& source : book.sources) {
            if (!source.problem.empty()) {
                showMessage(source.path.c_str());
                showMessage((" : " + source.problem + ", not added\n").c_str());
                epwing->leaveOutSource();
                ++sourceFailures;
                continue;
            }
            rc = epwing->addSource(source.path.c_str(), orNull(source.title), source.type, orNull(source.fields));
            showMessage(source.path.c_str());
            if (rc != 0) {
                showMessage(" : can't open source file, not added\n");
                ++sourceFailures;
            } else {
                showMessage("\n");
            }
        }
        failures += sourceFailures;
        if (!book.copyright.empty()) epwing->setCopyright(book.copyright.c_str());
        const BookResult built = epwing->makeBook();
        {
            std::lock_guard<std::mutex> g(m_runLock);
            m_bookUnderWay = false;
        }
        // A book cut short is one failure (and not in the catalog); each
        // source or part the book writer left out is one more.
        if (!built.written || built.aborted) {
            ++failures;
            showMessage(
                ("book \"" + book.name + "\" " + (built.aborted ? "aborted" : "failed") + ": not in the catalog\n")
                    .c_str());
        }
        failures += built.failedSources + built.failedParts;
    }
    if (!stopDriver(epwing)) ++failures;
    finishRun(bAbort, failures);
}

void ViewController::makeCatalog(const UINotification*) {
    std::unique_ptr<RunPlan> plan = prepareRun();
    if (!plan) return;
    CEPWing* epwing = startDriver(*plan);
    int failures = 0;
    for (const PlannedBook& book : plan->books) {
        if (!book.problem.empty()) {
            showMessage(("book \"" + book.name + "\" skipped: " + book.problem + "\n").c_str());
            ++failures;
            continue;
        }
        if (epwing->addCatalogBook(book.title.c_str(), book.dirName.c_str(), book.bookTypeID, book.fontMask,
                                   book.fontNames, book.separateMMData) != 0) {
            showMessage(("book \"" + book.name + "\" could not be listed: skipped\n").c_str());
            ++failures;
        }
    }
    if (!stopDriver(epwing)) ++failures;
    finishRun(bAbort, failures);
}

void ViewController::abort(const UINotification*) {
    {
        std::lock_guard<std::mutex> g(m_runLock);
        if (m_epwing != nullptr && m_bookUnderWay)
            m_epwing->abort();
        else if (m_running)
            m_abortPending = true;
    }
    bAbort = true;
}

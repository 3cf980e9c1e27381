// The main window's controller: the project's two lists (books, and the
// sources of the selected book), the three option tabs, the project commands,
// the build and catalog runs with their log, and the dialogs it shows. It
// observes the window layer's notifications and acts on them; everything but
// the build itself runs on the main thread.
//
// The controls are the view's own (this stand-in has no separate window to
// own them); the front end and the tests play the user on them.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/UICheckBox.h"
#include "platform/UIComboBox.h"
#include "platform/UIMatrix.h"
#include "platform/UITabView.h"
#include "platform/UITableView.h"
#include "platform/UITableViewDataSource.h"
#include "platform/UITableViewDelegate.h"
#include "platform/UITextField.h"
#include "platform/UITextView.h"
#include "platform/UIViewController.h"

class BookSet;
class CEPWing;
class RunPlan;
class UIApplication;
class UIWindowController;
struct ConvertOpt;
struct UINotification;

// How the last build or catalog run ended.
struct RunResult {
    bool finished = false;  // the run wrote its closing line
    bool aborted = false;   // it closed with "Aborted."
    bool refused = false;   // it was refused before it started
    int failures = 0;       // books and sources that were not built or added
};

class ViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    // app: the main loop that log lines are handed to; null appends them at
    // once on the calling thread (for use without a main loop).
    explicit ViewController(UIApplication* app = nullptr);
    ~ViewController() override;

    void viewDidLoad() override;

    // ---- tab 1: the project ----
    UITextField basePath, outputPath;
    UIMatrix ebType;  // EB (tag 0), EPWING (tag 1)
    UICheckBox prefixHyoki, prefixKana, suffixHyoki, suffixKana, keywordIndex, complexIndex, menuIndex, crossIndex;
    // ---- tab 2 ----
    UITextField stopWord, delChars, kanaSep1, kanaSep2;
    UICheckBox delBlank, delSym, refAuto, autoWord, autoEWord, autoKana, omitHeader, topMenu, singleLine, hyokiSep,
        subTitle, HTagIndex, HTagMenu, DTTagIndex, autoUniGaiji;
    UIMatrix titleOrder;  // tags 1 and 0
    UIComboBox srchUnit;
    // ---- tab 3 ----
    UICheckBox makeFig, inlineImg, eijiPartOfSpeech, eijiBreak, eijiKana, withHeader, optMono;
    UITextField leftMargin, indent, tableWidth, maxStringT;
    UIComboBox eijiYomi, pdicTitle, pdicPronon, pdicHonbun, pdicYorei;
    // ---- the rest of the window ----
    UITabView tabView;  // items "1", "2", "3"
    UITableView bookTableView, sourceTableView;
    UITextView textView;  // the log

    int tabid = 1;
    std::string definitionPath;
    std::shared_ptr<UIWindowController> myController;

    // ---- notification handlers ----
    void reloadBook(const UINotification*);
    void reloadSource(const UINotification*);
    void showMessageOnMainThread(const UINotification* notification);
    void invalidateBookSet(const UINotification*);
    void addBook(const UINotification*);
    void deleteBook(const UINotification*);
    void editBook(const UINotification*);
    void addSource(const UINotification*);
    void deleteSource(const UINotification*);
    void editSource(const UINotification*);
    void doConvert(const UINotification*);
    void abort(const UINotification*);
    void newDocument(const UINotification*);
    void openDocument(const UINotification*);
    void saveDocument(const UINotification*);
    void saveDocumentAs(const UINotification*);
    void openFile(const UINotification* notification);
    void makeCatalog(const UINotification*);

    // ---- other actions of the window ----
    void clearLog();
    void doubleActionBook();
    void doubleActionSource();
    void selectBasePath();
    void selectOutputPath();
    void showFront() {}
    void appendText(const std::string& text);

    // ---- the option tabs ----
    void setBookset();              // tab 1 -> project
    void commitOptionTab(int tab);  // tab 2 or 3 -> option record
    // The option record -> the driver, by name (the ints, maxStringT when it
    // is above 256000000, and the five texts in Shift_JIS).
    static void setOptions(CEPWing* epwing, const ConvertOpt& opt);

    // The controls of the three tabs by name (the option's name, or the
    // control's for tab 1), in tab order, as the command line reaches them.
    struct OptionControl {
        const char* name;
        int tab;
        UICheckBox* box;
        UITextField* field;
        UIComboBox* combo;
        UIMatrix* matrix;
        bool number;  // a field that holds an integer
    };
    std::vector<OptionControl> optionControls();

    // A row of a list dragged to another place (from and to are rows; to
    // counts the rows without the dragged one): the book or the source of the
    // selected book moves there and stays selected. Out-of-range rows do
    // nothing.
    void moveRow(UITableView* table, int from, int to);

    // The path forms of the project expanded (see projectpaths.h).
    std::string toAbsPath(const std::string& path) const;

    // The message callback of the driver: posts the text to the log.
    static void showMessage(const char* text);

    // ---- state for the front end ----
    bool isRunning() const { return m_running; }
    RunResult lastRun() const;
    // The driver's percentage of the book under way and its directory name;
    // false when no build runs.
    bool runProgress(int* percent, std::string* book);
    bool lastOpenSucceeded() const { return m_openOK; }
    bool lastSaveSucceeded() const { return m_saveOK; }

    // ---- table data source and delegate ----
    int numberOfRowsInTableView(UITableView* table) override;
    std::string tableViewObjectValue(UITableView* table, const std::string& columnIdentifier, int row,
                                     bool* found) override;
    void tableViewSelectionDidChange(UITableView* table) override;

private:
    void showBookViewController();
    void showSourceViewController();
    void showDialog(const char* identifier);
    // Puts the folder chosen in an open panel into field.
    void chooseFolder(UITextField* field);
    void readProject(const std::string& path);
    void writeProject();
    // Checks and commits what a run needs; the plan, or null when no run starts.
    std::unique_ptr<RunPlan> prepareRun();
    void makeDictionary(std::shared_ptr<RunPlan> plan);
    CEPWing* startDriver(const RunPlan& plan);
    // Writes the catalog and deletes the driver; false when the catalog
    // could not be written.
    bool stopDriver(CEPWing* epwing);
    void finishRun(bool aborted, int failures);

    UIApplication* m_app;
    BookSet* m_bookset;
    // The driver of the run under way. m_runLock guards it between abort on
    // the main thread and its deletion at the end of the run.
    std::mutex m_runLock;
    CEPWing* m_epwing = nullptr;
    std::string m_currentBook;
    // A book is being built: an abort goes to the driver at once; before the
    // first book it waits for it (the driver clears its flag on each new book).
    bool m_bookUnderWay = false;
    bool m_abortPending = false;
    std::atomic<bool> bAbort{false};
    std::atomic<bool> m_running{false};
    mutable std::mutex m_resultLock;
    RunResult m_lastRun;
    bool m_openOK = true;
    bool m_saveOK = true;
};

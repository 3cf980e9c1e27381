// Packwell's window controller: keeps the file list, answers the list's table
// view, chooses the output folder, and runs shrink, expand and the checksum
// check over the list, with a log line per file in the text view.
#pragma once

#include "platform/UIApplicationDelegate.h"
#include "platform/UITableViewDataSource.h"
#include "platform/UITableViewDelegate.h"

#include <functional>
#include <string>
#include <vector>

class CZComp;
class UICheckBox;
class UISlider;
class UITableView;
class UITextField;
class UITextView;

class AppController : public UITableViewDataSource, public UITableViewDelegate, public UIApplicationDelegate {
public:
    AppController();
    ~AppController() override;
    AppController(const AppController&) = delete;
    AppController& operator=(const AppController&) = delete;

    // Controls, connected by the main window that creates them.
    UITextView* textView;
    UITableView* tableView;
    UICheckBox* keepOriginalCheck;
    UICheckBox* copyTreeCheck;
    UICheckBox* speedUpCheck;
    UICheckBox* cryptCheck;
    // When on, shrink and expand replace existing output files; when off an
    // existing output is refused with a failure line naming it.
    UICheckBox* overwriteCheck;
    UISlider* zipLevelSlider;
    UITextField* outputPath;
    // The file list: one entry per file, each a list holding its path and,
    // for a file found in a folder walk, the folder chosen. Copy tree keeps a
    // file's path below that folder (a file chosen alone keeps its name).
    std::vector<std::vector<std::string>> fileListArray;
    int selectedItem;
    // Options of the last shrink or expand run.
    int m_speedUp;
    int m_keepOriginal;
    int m_copyTree;
    int m_zipLevel;
    int m_crypt;
    int m_overwrite;

    void awakeFromNib() {}

    // Actions; the sender is ignored.
    void selectOutPath(void* sender);
    void addList(void* sender);
    void delList(void* sender);
    void clearList(void* sender);
    void shrink(void* sender);
    void expand(void* sender);
    void crccheck(void* sender);

    // EPWING version hint of a book file from its book's catalog (0 unknown).
    int GetEPWINGVer(const std::string& path);
    // A path as the log (and every message) shows it: control characters
    // and the backslash are written as escapes (\n, \t, \r, \\, \xNN), so
    // that a file name cannot begin a log line of its own.
    static std::string logText(const std::string& text);
    // Adds text at the end of the log.
    void appendText(const std::string& text);

    // Files that failed in the last run (failure lines and " Failure !").
    int lastRunFailures() const { return m_failures; }

    // Two files of the list that one run would write to one output file.
    struct OutputCollision {
        std::string first, second, output;
    };
    // The first such pair for a shrink (expanding false) or expand run with
    // the window's present controls; false when every output is its own.
    // A run refuses to start when there is one: it logs the refusal and
    // writes nothing.
    bool findOutputCollision(bool expanding, OutputCollision* found);

    // Table view data source and delegate.
    int numberOfRowsInTableView(UITableView* table) override;
    std::string tableViewObjectValue(UITableView* table, const std::string& columnIdentifier, int row,
                                     bool* found) override;
    void tableViewSelectionDidChange(UITableView* table) override;

    // Application delegate: closing the window quits.
    bool applicationShouldTerminateAfterLastWindowClosed(UIApplication*) override { return true; }

private:
    void logLine(const std::string& text);
    void redrawLog();
    void copyOptions();
    std::string successLine(const char* path, long long before, long long after) const;
    void logFailure(const char* work, int code, const char* outputPath);
    // One shrink or expand run over the file list; run does one file (path,
    // output folder or null, EPWING version hint) and returns 0 or -1.
    void runFileList(const char* verb, const char* work, bool expanding,
                     const std::function<int(CZComp&, const char*, const char*, int)>& run);
    std::string entryPath(size_t row) const;
    std::string treeRootOf(size_t row) const;
    bool collisionIn(CZComp& comp, bool expanding, bool copyTree, const char* outDir, OutputCollision* found);

    int m_failures;
};

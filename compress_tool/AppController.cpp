#include "compress_tool/AppController.h"

#include "foundation/pathutil.h"
#include "foundation/storage/CZComp.h"
#include "foundation/storage/CZOutputFile.h"
#include "foundation/storage/CZio.h"
#include "foundation/storage/ebzipformat.h"
#include "platform/UICheckBox.h"
#include "platform/UIDirectoryEnumerator.h"
#include "platform/UIOpenPanel.h"
#include "platform/UISlider.h"
#include "platform/UITableView.h"
#include "platform/UITextField.h"
#include "platform/UITextView.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace {

// Paths travel in 256-byte buffers: at most 255 bytes and a terminating zero.
const size_t kPathBuffer = 256;

// A folder that cannot be listed (one a folder walk had to pass over).
bool isUnreadableFolder(const char* path) {
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    DIR* d = opendir(path);
    if (d) closedir(d);
    return d == nullptr;
}

// Copies text into a path buffer; false (nothing copied) when it does not fit.
bool toPathBuffer(const std::string& text, char* buf) {
    if (text.size() >= kPathBuffer || text.find('\0') != std::string::npos) return false;
    memcpy(buf, text.c_str(), text.size() + 1);
    return true;
}

bool isOn(const UICheckBox* box) {
    return box && box->state() == UIStateOn;
}

// Same file on disk.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string AppController::logText(const std::string& text) {
    std::string out;
    for (unsigned char ch : text) {
        if (ch == '\\') {
            out += "\\\\";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\t') {
            out += "\\t";
        } else if (ch == '\r') {
            out += "\\r";
        } else if (ch < 0x20 || ch == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", ch);
            out += hex;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

AppController::AppController()
    : textView(nullptr),
      tableView(nullptr),
      keepOriginalCheck(nullptr),
      copyTreeCheck(nullptr),
      speedUpCheck(nullptr),
      cryptCheck(nullptr),
      overwriteCheck(nullptr),
      zipLevelSlider(nullptr),
      outputPath(nullptr),
      selectedItem(-1),
      m_speedUp(0),
      m_keepOriginal(0),
      m_copyTree(0),
      m_zipLevel(0),
      m_crypt(0),
      m_overwrite(0),
      m_failures(0) {}

AppController::~AppController() = default;

// ---- log ----

void AppController::appendText(const std::string& text) {
    if (!textView) return;
    textView->selectAll();
    textView->setSelectedRange(UIRange{textView->string().size(), 0});
    textView->insertText(text);
}

void AppController::logLine(const std::string& text) {
    appendText(text);
    if (!textView) return;
    textView->selectAll();
    textView->setSelectedRange(UIRange{textView->string().size(), 0});
    textView->insertNewline();
}

void AppController::redrawLog() {
    if (textView) textView->display();
}

std::string AppController::successLine(const char* path, long long before, long long after) const {
    double percent = before != 0 ? static_cast<double>(after) * 100.0 / static_cast<double>(before) : 0.0;
    char numbers[128];
    snprintf(numbers, sizeof numbers, "  %lld -> %lld (%3.2f%%)", before, after, percent);
    return std::string(" >> ") + logText(path) + numbers;
}

void AppController::logFailure(const char* work, int code, const char* outputPath) {
    std::string reason = zcompErrorText(code);
    if (code == ZCOMP_ERR_EXISTS) reason += std::string(" ") + logText(outputPath);
    logLine(std::string("failed in the ") + work + "!\t(" + reason + ")");
    ++m_failures;
}

// ---- runs ----

void AppController::copyOptions() {
    m_speedUp = isOn(speedUpCheck) ? 1 : 0;
    m_keepOriginal = isOn(keepOriginalCheck) ? 1 : 0;
    m_copyTree = isOn(copyTreeCheck) ? 1 : 0;
    m_overwrite = isOn(overwriteCheck) ? 1 : 0;
}

std::string AppController::entryPath(size_t row) const {
    return fileListArray[row].empty() ? std::string() : fileListArray[row][0];
}

std::string AppController::treeRootOf(size_t row) const {
    return fileListArray[row].size() > 1 ? fileListArray[row][1] : pathDirName(entryPath(row));
}

bool AppController::collisionIn(CZComp& comp, bool expanding, bool copyTree, const char* outDir,
                                OutputCollision* found) {
    std::map<std::string, size_t> outputs;  // output -> the row that writes it
    for (size_t i = 0; i < fileListArray.size(); ++i) {
        const std::string path = entryPath(i);
        char pathBuf[kPathBuffer];
        // What cannot be worked on fails on its own in the run.
        if (!toPathBuffer(path, pathBuf) || isUnreadableFolder(pathBuf)) continue;
        comp.setTreeRoot(treeRootOf(i));
        std::string output;
        if (comp.plannedOutput(pathBuf, outDir, static_cast<unsigned>(GetEPWINGVer(path)), copyTree ? 1 : 0, expanding,
                               &output) != 0 ||
            output.empty())
            continue;
        auto placed = outputs.emplace(output, i);
        if (placed.second) continue;
        const std::string first = entryPath(placed.first->second);
        // One file listed twice is worked on twice, as listed.
        if (first == path || sameFile(first, path)) continue;
        *found = OutputCollision{first, path, output};
        return true;
    }
    return false;
}

bool AppController::findOutputCollision(bool expanding, OutputCollision* found) {
    char outDir[kPathBuffer] = "";
    if (!toPathBuffer(outputPath ? outputPath->stringValue() : std::string(), outDir)) return false;
    CZComp comp;
    return collisionIn(comp, expanding, isOn(copyTreeCheck), outDir[0] ? outDir : nullptr, found);
}

// Logs "<verb>\t<path>" for each file of the list, then either "failed in
// the <work>!" with the reason, or the output path with the book file's size
// before and after (the compressed size first when expanding). A file whose
// output would be the file itself is left alone and logged as skipped, a
// file that is no book file is copied or left as it is and logged so; neither
// is a failure. A folder in the list that cannot be read is one that a
// folder walk had to pass over. When two files would be written to one
// output the run is refused before anything is written.
void AppController::runFileList(const char* verb, const char* work, bool expanding,
                                const std::function<int(CZComp&, const char*, const char*, int)>& run) {
    m_failures = 0;
    char outDir[kPathBuffer] = "";
    std::string outText = outputPath ? outputPath->stringValue() : std::string();
    bool outOk = toPathBuffer(outText, outDir);

    std::unique_ptr<CZComp> comp(new CZComp);
    comp->setOverwrite(m_overwrite != 0);
    OutputCollision clash;
    if (outOk && collisionIn(*comp, expanding, m_copyTree != 0, outDir[0] ? outDir : nullptr, &clash)) {
        logLine(std::string(verb) + " refused: " + logText(clash.first) + " and " + logText(clash.second) +
                " would both be written to " + logText(clash.output) +
                (m_copyTree ? std::string() : std::string(" (copy tree keeps their folders apart)")) +
                "; nothing was written");
        ++m_failures;
        return;
    }
    for (size_t i = 0; i < fileListArray.size(); ++i) {
        const std::string path = entryPath(i);
        char pathBuf[kPathBuffer];
        bool pathOk = toPathBuffer(path, pathBuf);
        logLine(verb + std::string("\t") + logText(path));
        redrawLog();
        if (!pathOk || !outOk) {
            logFailure(work, ZCOMP_ERR_ARGUMENT, "");
            continue;
        }
        if (isUnreadableFolder(pathBuf)) {
            logFailure(work, ZCOMP_ERR_UNREADABLE, "");
            continue;
        }
        comp->setTreeRoot(treeRootOf(i));
        int rc = run(*comp, pathBuf, outDir[0] ? outDir : nullptr, GetEPWINGVer(path));
        const ZCOMP_RESULT* info = comp->getInfo();
        if (rc != 0 && info->errorCode == ZCOMP_SKIPPED_SELF) {
            logLine(" >> " + logText(path) + "  skipped (the output would be the file itself)");
        } else if (rc != 0 && info->errorCode == ZCOMP_KEPT_AS_IS) {
            logLine(" >> " + logText(info->outputPath) + "  " + zcompErrorText(ZCOMP_KEPT_AS_IS));
        } else if (rc != 0) {
            logFailure(work, info->errorCode, info->outputPath);
        } else if (expanding) {
            logLine(successLine(info->outputPath, info->outputSize, info->inputSize));
        } else {
            logLine(successLine(info->outputPath, info->inputSize, info->outputSize));
        }
    }
    comp.reset();
    logLine("done!");
}

void AppController::shrink(void*) {
    copyOptions();
    m_zipLevel = zipLevelSlider ? zipLevelSlider->intValue() : 0;
    m_crypt = isOn(cryptCheck) ? 1 : 0;
    const unsigned flags = (m_speedUp == 1 && m_crypt == 0) ? 63 : 0;
    runFileList("shrink", "compression", false, [&](CZComp& comp, const char* path, const char* outDir, int version) {
        return comp.compress(path, outDir, static_cast<unsigned>(m_zipLevel), static_cast<unsigned>(version),
                             static_cast<unsigned>(m_keepOriginal), static_cast<unsigned>(m_copyTree), flags);
    });
}

void AppController::expand(void*) {
    copyOptions();
    m_crypt = isOn(cryptCheck) ? 1 : 0;
    runFileList("expand", "expansion", true, [&](CZComp& comp, const char* path, const char* outDir, int version) {
        return comp.expand(path, outDir, static_cast<unsigned>(version), static_cast<unsigned>(m_keepOriginal),
                           static_cast<unsigned>(m_copyTree));
    });
}

// Checks every EBZip file of the list. Files in another form are passed
// over without a line (so are folders that can be read), except those named
// ".ebz": a compressed file whose header is gone. Every file that could not
// be checked (gone, not readable, a folder that could not be read, an EBZip
// file too short or damaged to open or of a form no reader knows, or an
// ".ebz" file that is not EBZip) gets a failure line and counts as a
// failure.
void AppController::crccheck(void*) {
    m_failures = 0;
    std::unique_ptr<CZio> zio(new CZio);
    for (size_t i = 0; i < fileListArray.size(); ++i) {
        const std::string path = entryPath(i);
        const std::string head = "CRC Check\t" + logText(path);
        char pathBuf[kPathBuffer];
        if (!toPathBuffer(path, pathBuf)) {
            // Never cut: an over-long path is refused.
            logLine(head);
            logFailure("CRC check", ZCOMP_ERR_ARGUMENT, "");
            continue;
        }
        struct stat st;
        int problem = 0;
        if (stat(pathBuf, &st) != 0) {
            problem = ZCOMP_ERR_NO_INPUT;
        } else if (isUnreadableFolder(pathBuf) || (S_ISREG(st.st_mode) && access(pathBuf, R_OK) != 0)) {
            problem = ZCOMP_ERR_UNREADABLE;
        } else if (!S_ISREG(st.st_mode)) {
            // Only a regular file can be opened as a book file (opening a
            // FIFO would wait for a writer).
            continue;
        }
        if (problem) {
            logLine(head);
            logFailure("CRC check", problem, "");
            continue;
        }
        // An EBZip file that cannot be opened (cut short, damaged header),
        // and a file named as one that is not, does not pass its check.
        const bool opened = zio->open(pathBuf, 0) == 0;
        const bool isEbzip = opened && zio->state()->mode == ZIO_EBZIP;
        if (isEbzip) {
            logLine(head);
            int rc = zio->checkCRC();
            logLine(std::string("-> ") + (rc == 0 ? " Success !" : " Failure !"));
            if (rc != 0) ++m_failures;
        } else if (ebzip::hasEbzName(path) || (!opened && ebzip::hasMagic(pathBuf))) {
            logLine(head);
            logLine("->  Failure !");
            ++m_failures;
        }
        zio->close();
    }
    zio.reset();
    logLine("done!");
}

int AppController::GetEPWINGVer(const std::string& path) {
    if (path.size() >= kPathBuffer) return 0;
    return CZComp::epwingVersionOf(path.c_str());
}

// ---- list ----

void AppController::selectOutPath(void*) {
    UIOpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(true);
    panel.setDirectory(UIOpenPanel::homeDirectory());
    if (panel.runModal() != UIModalOK) return;
    struct stat st;
    if (stat(panel.path().c_str(), &st) == 0 && S_ISDIR(st.st_mode) && outputPath)
        outputPath->setStringValue(panel.path());
}

void AppController::addList(void*) {
    UIOpenPanel panel;
    panel.setCanChooseDirectories(true);
    panel.setCanChooseFiles(true);
    panel.setDirectory(UIOpenPanel::homeDirectory());
    if (panel.runModal() == UIModalOK) {
        const std::string chosen = panel.path();
        struct stat st;
        if (stat(chosen.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                UIDirectoryEnumerator walk(chosen);
                std::string rel;
                while (walk.next(&rel)) {
                    std::string full = chosen + "/" + rel;
                    struct stat fs;
                    // Packwell's own temporary files (of a run that was cut
                    // short) are no input.
                    if (CZOutputFile::isTemporaryName(pathFileName(full))) continue;
                    // An empty file is listed like any other: the runs keep
                    // it as the small file it is (a book without gaiji has
                    // an empty viewer map), so no file of a folder is lost.
                    if (stat(full.c_str(), &fs) == 0 && !S_ISDIR(fs.st_mode)) fileListArray.push_back({full, chosen});
                }
                // A folder that could not be read stays in the list, so that
                // every run reports it.
                for (const std::string& folder : walk.unreadableFolders())
                    fileListArray.push_back({folder.empty() ? chosen : chosen + "/" + folder, chosen});
            } else {
                fileListArray.push_back({chosen});
            }
        }
    }
    if (tableView) tableView->reloadData();
}

void AppController::delList(void*) {
    if (selectedItem != -1 && selectedItem >= 0 && static_cast<size_t>(selectedItem) < fileListArray.size()) {
        fileListArray.erase(fileListArray.begin() + selectedItem);
        if (static_cast<size_t>(selectedItem) >= fileListArray.size()) selectedItem = -1;
    }
    if (tableView) tableView->reloadData();
}

void AppController::clearList(void*) {
    fileListArray.clear();
    selectedItem = -1;
    if (tableView) tableView->reloadData();
}

int AppController::numberOfRowsInTableView(UITableView*) {
    return static_cast<int>(fileListArray.size());
}

std::string AppController::tableViewObjectValue(UITableView*, const std::string& columnIdentifier, int row,
                                                bool* found) {
    *found = false;
    if (columnIdentifier != "path" || row < 0 || static_cast<size_t>(row) >= fileListArray.size() ||
        fileListArray[row].empty())
        return std::string();
    *found = true;
    return fileListArray[row][0];
}

void AppController::tableViewSelectionDidChange(UITableView* table) {
    selectedItem = table ? table->selectedRow() : -1;
}

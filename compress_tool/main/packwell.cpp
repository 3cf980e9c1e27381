// packwell: Packwell from the command line. It plays the user of the main
// window: sets the check boxes and the level slider, answers the open panels
// with the given folder and paths, and presses the run's button. The log goes
// to standard output as the window shows it.
//
// Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage
// error or a run refused because two files would be written to one output.
// On SIGINT or SIGTERM the temporary file of the output being written is
// removed before the program ends.

#include "compress_tool/PackwellWindow.h"
#include "foundation/storage/CZOutputFile.h"
#include "platform/UIApplication.h"
#include "platform/UIOpenPanel.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: packwell shrink [--level N] [--out DIR] [--keep|--delete-input] [--tree]\n"
    "                       [--force] [--speedup] [--crypt] PATH...\n"
    "       packwell expand [--out DIR] [--keep|--delete-input] [--tree] [--force]\n"
    "                       PATH...\n"
    "       packwell check PATH...\n"
    "       packwell --help\n"
    "\n"
    "  shrink        compress each book file into EBZip (NAME.ebz)\n"
    "  expand        expand each EBZip (or other stored) file back (NAME.org)\n"
    "  check         verify the checksum of each EBZip file\n"
    "  PATH          a file, or a folder whose files are taken at every depth\n"
    "  --level N     compression level 0-5 (default 0)\n"
    "  --out DIR     write outputs into the existing folder DIR (default: beside\n"
    "                each input)\n"
    "  --keep        keep each input file (the default)\n"
    "  --delete-input  delete each input once its output is written completely\n"
    "  --tree        keep each file's path below DIR: its path below the PATH\n"
    "                it was found under (a file given alone keeps its name)\n"
    "  --force       replace output files that already exist; without it an\n"
    "                existing output is never touched: that file fails with a\n"
    "                line naming the output, and its input is kept\n"
    "  --speedup     leave the search indexes of book text files uncompressed\n"
    "  --crypt       with --speedup, compress them all the same\n"
    "\n"
    "An output is written under a temporary name and renamed when complete, so\n"
    "a failed or interrupted run leaves no partial file. A file whose output\n"
    "would be the file itself (a small file copied in place) is left as it is\n"
    "and logged as skipped. A file that is no book file (under 32 bytes, or a\n"
    "viewer gaiji map .map or property list .plist) is copied as it is into\n"
    "DIR, or left alone without one, and logged as \"not a book file: kept as\n"
    "it is\"; it is never deleted. check and expand fail an EBZip file whose\n"
    "header no reader knows (mode other than 1 or 2, level above 5) and a\n"
    "file named .ebz that is not EBZip. When two files would be written to\n"
    "one output, nothing is written and the run ends with status 2. Exit\n"
    "status: 0 when every file succeeded, 1 when any failed, 2 for a usage\n"
    "error.\n";

int usageError(const char* fmt, const char* arg) {
    fprintf(stderr, "packwell: ");
    fprintf(stderr, fmt, arg);
    fprintf(stderr, "\n%s", kUsage);
    return 2;
}

// An absolute path for a command-line path as the system resolves it: its
// folder part through realpath, so that "x/.." names what the kernel means by
// it (symbolic links included), and its last name as given (a link to a file
// stays the link). Empty when the folder cannot be resolved.
std::string systemPath(const std::string& arg) {
    std::string path = arg;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        dir = path;
        name.clear();
    }
    char* real = realpath(dir.c_str(), nullptr);
    if (!real) return std::string();
    std::string out = real;
    free(real);
    if (name.empty()) return out;
    return (out == "/" ? "" : out) + "/" + name;
}

// SIGINT, SIGTERM: the output being written is not left behind half done.
void onSignal(int sig) {
    CZOutputFile::removeTemporaries();
    signal(sig, SIG_DFL);
    raise(sig);
}

struct Options {
    std::string command;
    int level = 0;
    std::string out;
    bool haveOut = false;
    bool keep = true;
    bool tree = false;
    bool force = false;
    bool speedup = false;
    bool crypt = false;
    std::vector<std::string> paths;
};

// 0, or the exit status of a usage error (-1: help shown).
int parseArgs(int argc, char** argv, Options* o) {
    if (argc < 2) return usageError("%s", "no command given");
    std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return -1;
    if (cmd != "shrink" && cmd != "expand" && cmd != "check") return usageError("unknown command: %s", argv[1]);
    o->command = cmd;
    bool keepSeen = false, deleteSeen = false;
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            o->paths.push_back(a);
            continue;
        }
        std::string value;
        bool hasValue = false;
        size_t eq = a.find('=');
        if (a.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        bool forShrink = cmd == "shrink", forRuns = cmd != "check";
        if (a == "--help") return -1;
        if (a == "--level" && forShrink) {
            if (!takeValue()) return usageError("%s needs a value", "--level");
            if (value.size() != 1 || value[0] < '0' || value[0] > '5')
                return usageError("level must be 0 to 5: %s", value.c_str());
            o->level = value[0] - '0';
        } else if (a == "--out" && forRuns) {
            if (!takeValue() || value.empty()) return usageError("%s needs a folder", "--out");
            o->out = value;
            o->haveOut = true;
        } else if (hasValue) {
            return usageError("option takes no value: %s", argv[i]);
        } else if (a == "--keep" && forRuns) {
            keepSeen = true;
            o->keep = true;
        } else if (a == "--delete-input" && forRuns) {
            deleteSeen = true;
            o->keep = false;
        } else if (a == "--tree" && forRuns) {
            o->tree = true;
        } else if (a == "--force" && forRuns) {
            o->force = true;
        } else if (a == "--speedup" && forShrink) {
            o->speedup = true;
        } else if (a == "--crypt" && forShrink) {
            o->crypt = true;
        } else {
            return usageError("unknown option: %s", argv[i]);
        }
    }
    if (keepSeen && deleteSeen) return usageError("%s", "--keep and --delete-input exclude each other");
    if (o->paths.empty()) return usageError("%s", "no PATH given");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    int rc = parseArgs(argc, argv, &opt);
    if (rc == -1) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (rc != 0) return rc;

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    UIApplication app;
    PackwellWindow window(&app);
    AppController& controller = window.controller();

    // The user's answers to the open panels, in the order they are asked.
    std::deque<std::string> answers;
    UIOpenPanel::setAnswerSource([&answers](const UIOpenPanel&, std::string* path) {
        if (answers.empty()) return false;
        *path = answers.front();
        answers.pop_front();
        return true;
    });
    window.textView.setInsertObserver([](const std::string& text) {
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
    });

    int status = 0;
    int unlisted = 0;
    app.performOnMainThread([&] {
        window.keepOriginalCheck.setState(opt.keep ? UIStateOn : UIStateOff);
        window.copyTreeCheck.setState(opt.tree ? UIStateOn : UIStateOff);
        window.speedUpCheck.setState(opt.speedup ? UIStateOn : UIStateOff);
        window.cryptCheck.setState(opt.crypt ? UIStateOn : UIStateOff);
        window.overwriteCheck.setState(opt.force ? UIStateOn : UIStateOff);
        window.zipLevelSlider.setIntValue(opt.level);

        if (opt.haveOut) {
            std::string dir = systemPath(opt.out);
            answers.push_back(dir);
            window.selectOutPathButton.performClick();
            if (window.outputPath.stringValue() != dir) {
                fprintf(stderr, "packwell: not a folder: %s\n", AppController::logText(opt.out).c_str());
                status = 2;
                app.terminate();
                return;
            }
        }
        for (const auto& p : opt.paths) {
            std::string path = systemPath(p);
            struct stat st;
            if (path.empty() || stat(path.c_str(), &st) != 0) {
                // A panel offers only what exists; such a path is reported, not run.
                fprintf(stderr, "packwell: cannot examine %s\n", AppController::logText(p).c_str());
                ++unlisted;
                continue;
            }
            answers.push_back(path);
            window.addButton.performClick();
        }
        AppController::OutputCollision clash;
        if (opt.command != "check" && controller.findOutputCollision(opt.command == "expand", &clash)) {
            // Refused before anything is written, like a usage error.
            fprintf(stderr, "packwell: %s and %s would both be written to %s; nothing was written%s\n",
                    AppController::logText(clash.first).c_str(), AppController::logText(clash.second).c_str(),
                    AppController::logText(clash.output).c_str(),
                    opt.tree ? "" : " (--tree keeps each file's folders below --out)");
            status = 2;
            app.terminate();
            return;
        }
        if (opt.command == "shrink")
            window.shrinkButton.performClick();
        else if (opt.command == "expand")
            window.expandButton.performClick();
        else
            window.checkButton.performClick();
        app.terminate();
    });
    app.run();
    UIOpenPanel::setAnswerSource(nullptr);

    if (status != 0) return status;
    return (controller.lastRunFailures() > 0 || unlisted > 0) ? 1 : 0;
}

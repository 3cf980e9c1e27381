// lexforge: Lexforge from the command line. It plays the user of the main
// window: opens the project as the system's "open file" request does, types
// the output and base folders when they are given, and chooses the menu
// command; the log goes to standard output as the window shows it.
//
// Exit status: 0 after "Done." with no failure, 1 when a book or a source
// failed (or the run was aborted or refused), 2 for a usage error or a field
// the window refused, 3 when the project cannot be read.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "app/AppDelegate.h"
#include "app/main/projectcommands.h"
#include "app/window/MainStoryboard.h"
#include "app/window/ViewController.h"
#include "platform/UIApplication.h"
#include "platform/UISavePanel.h"
#include "platform/UIThread.h"

namespace {

const char kUsageHead[] =
    "Usage: lexforge build [--output DIR] [--base DIR] PROJECT\n"
    "       lexforge catalog [--output DIR] [--base DIR] PROJECT\n"
    "       lexforge save-as PROJECT NEW.lfx\n";
const char kUsageTail[] =
    "  build         build every book of the project into the output folder,\n"
    "                then write the catalog\n"
    "  catalog       write only the catalog of the project's books\n"
    "  save-as       save the project (.lfx, or the older .lfs) as an XML\n"
    "                project file\n"
    "  PROJECT       a project file: .lfx (XML) or .lfs (key=value)\n"
    "  --output DIR  build into DIR instead of the project's output folder\n"
    "  --base DIR    take DIR as the base folder that \"$(BASE)\" in the\n"
    "                project's paths stands for; without it, the project's own\n"
    "                base folder, or the project file's folder when it has none\n"
    "%s"
    "\n"
    "The log goes to standard output; while a book builds, a progress line goes\n"
    "to standard error when it is a terminal. Ctrl-C ends the book under way as\n"
    "the Abort command does: the other books are built and the log ends with\n"
    "\"Aborted.\"; a second Ctrl-C stops at once.\n"
    "Exit status of build, catalog and save-as: 0 when the run ended with\n"
    "\"Done.\" and nothing failed, 1 when a book or a source failed or the run\n"
    "was aborted or refused (or save-as could not write), 2 for a usage error\n"
    "or a refused field (an empty output folder), 3 when the project cannot be\n"
    "read.\n";

void printUsage(FILE* out) {
    fputs(kUsageHead, out);
    fputs(kProjectCommandsSynopsis, out);
    fputs("       lexforge --help\n\n", out);
    fprintf(out, kUsageTail, kProjectCommandsHelp);
}

int usageError(const std::string& text) {
    fprintf(stderr, "lexforge: %s\n", text.c_str());
    printUsage(stderr);
    return 2;
}

struct Options {
    std::string command;
    std::string project;
    std::string target;  // save-as
    std::string output, base;
    bool haveOutput = false, haveBase = false;
};

// 0, -1 for help, -2 for an editing command, or the exit status of a usage error.
int parseArgs(int argc, char** argv, Options* o) {
    if (argc < 2) return usageError("no command given");
    std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return -1;
    if (isProjectCommand(cmd)) return -2;
    if (cmd != "build" && cmd != "catalog" && cmd != "save-as") return usageError("unknown command: " + cmd);
    o->command = cmd;
    std::vector<std::string> operands;
    bool options = true;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (!options || a.empty() || a[0] != '-' || a == "-") {
            operands.push_back(a);
            continue;
        }
        if (a == "--help") return -1;
        std::string value;
        size_t eq = a.find('=');
        bool hasValue = eq != std::string::npos;
        if (hasValue) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        if ((a == "--output" || a == "--base") && cmd != "save-as") {
            if (!hasValue) {
                if (i + 1 >= argc) return usageError(a + " needs a folder");
                value = argv[++i];
            }
            if (a == "--output") {
                o->output = value;
                o->haveOutput = true;
            } else {
                o->base = value;
                o->haveBase = true;
            }
        } else {
            return usageError("unknown option: " + std::string(argv[i]));
        }
    }
    size_t want = cmd == "save-as" ? 2 : 1;
    if (operands.size() != want)
        return usageError(cmd == "save-as" ? "save-as takes PROJECT and NEW.lfx" : "one PROJECT is needed");
    o->project = operands[0];
    if (cmd == "save-as") o->target = operands[1];
    return 0;
}

// Standard output carries the log; standard error the progress line, which
// is cleared before each piece of log text.
std::mutex g_outputLock;
bool g_progressShown = false;

void clearProgressLocked() {
    if (!g_progressShown) return;
    fputs("\r\033[K", stderr);
    g_progressShown = false;
}

std::atomic<int> g_interrupts(0);

// SIGINT and SIGTERM are taken by this thread alone: the first asks for an
// abort, a second ends the program at once.
void signalThread(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (++g_interrupts > 1) _exit(128 + sig);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    int rc = parseArgs(argc, argv, &opt);
    if (rc == -1) {
        printUsage(stdout);
        return 0;
    }
    if (rc == -2) {
        for (int i = 2; i < argc; ++i)
            if (std::strcmp(argv[i], "--help") == 0) {
                printUsage(stdout);
                return 0;
            }
        return runProjectCommand(std::vector<std::string>(argv + 1, argv + argc));
    }
    if (rc != 0) return rc;

    // Every thread started from here on inherits the blocked signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(signalThread, signals).detach();

    UIApplication app;
    AppDelegate delegate;
    app.setDelegate(&delegate);
    registerMainStoryboard();
    ViewController vc(&app);
    vc.textView.setInsertObserver([](const std::string& text) {
        std::lock_guard<std::mutex> g(g_outputLock);
        clearProgressLocked();
        fwrite(text.data(), 1, text.size(), stdout);
        fflush(stdout);
    });
    vc.loadViewIfNeeded();

    const std::string project = absolutePath(opt.project);
    int status = -1;
    std::thread waiter;
    app.performOnMainThread([&] {
        delegate.applicationOpenFile(&app, project);
        if (!vc.lastOpenSucceeded()) {
            status = 3;
            app.terminate();
            return;
        }
        if (opt.command == "save-as") {
            std::string target = absolutePath(opt.target);
            UISavePanel::setAnswerSource([target](const UISavePanel&, std::string* path) {
                *path = target;
                return true;
            });
            delegate.saveDocumentAs();
            UISavePanel::setAnswerSource(nullptr);
            status = vc.lastSaveSucceeded() ? 0 : 1;
            app.terminate();
            return;
        }
        if (opt.haveBase)
            vc.basePath.setStringValue(absolutePath(opt.base));
        else if (vc.basePath.stringValue().empty())
            vc.basePath.setStringValue(folderOf(project));
        if (opt.haveOutput) vc.outputPath.setStringValue(opt.output.empty() ? "" : absolutePath(opt.output));
        vc.makeFirstResponder(nullptr);
        if (opt.command == "build")
            delegate.doMake();
        else
            delegate.doMakeCatalog();
        if (vc.firstResponder() == &vc.outputPath) {
            fprintf(stderr, "lexforge: the output folder (field outputPath) is empty: give --output DIR\n");
            status = 2;
            app.terminate();
            return;
        }
        // A build goes on on its own thread; the log lines it sends are
        // queued before the end of the loop.
        waiter = std::thread([&app] {
            UIThread::joinAll();
            app.terminate();
        });
    });

    // Progress and Ctrl-C while the loop runs.
    std::atomic<bool> stop(false);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    std::thread watcher([&] {
        int aborts = 0;
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (g_interrupts > aborts) {
                aborts = g_interrupts;
                app.performOnMainThread([&delegate] { delegate.doAbort(); });
            }
            int percent = 0;
            std::string book;
            if (terminal && vc.runProgress(&percent, &book) && !book.empty()) {
                std::lock_guard<std::mutex> g(g_outputLock);
                fprintf(stderr, "\r\033[K%s %3d%%", book.c_str(), percent);
                fflush(stderr);
                g_progressShown = true;
            }
        }
    });

    app.run();
    if (waiter.joinable()) waiter.join();
    stop = true;
    watcher.join();
    {
        std::lock_guard<std::mutex> g(g_outputLock);
        clearProgressLocked();
    }
    fflush(stdout);
    if (status >= 0) return status;
    RunResult run = vc.lastRun();
    return (!run.finished || run.aborted || run.failures > 0) ? 1 : 0;
}

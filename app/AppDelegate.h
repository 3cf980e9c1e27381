// Lexforge's application delegate: every menu command becomes a notification
// on the default notification center, which the main window's controller
// carries out; a file the system asks the program to open is posted with its
// path under "filename".
#pragma once

#include <string>

#include "platform/UIApplicationDelegate.h"

class AppDelegate : public UIApplicationDelegate {
public:
    void newDocument();
    void openDocument();
    void saveDocument();
    void saveDocumentAs();
    void AddBook();
    void DeleteBook();
    void EditBook();
    void AddSource();
    void DeleteSource();
    void EditSource();
    void doMake();
    void doAbort();
    void doMakeCatalog();

    // Posts "openFileNotification" with the path; always answers yes.
    bool applicationOpenFile(UIApplication* application, const std::string& path);
    void applicationWillTerminate(UIApplication*) override {}

private:
    void post(const char* name);
};

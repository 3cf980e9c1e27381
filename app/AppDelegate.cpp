#include "app/AppDelegate.h"

#include "app/notificationnames.h"
#include "platform/UINotificationCenter.h"

void AppDelegate::post(const char* name) {
    UINotificationCenter::defaultCenter().post(name, this);
}

void AppDelegate::newDocument() {
    post(kNewDocumentNotification);
}
void AppDelegate::openDocument() {
    post(kOpenDocumentNotification);
}
void AppDelegate::saveDocument() {
    post(kSaveDocumentNotification);
}
void AppDelegate::saveDocumentAs() {
    post(kSaveDocumentAsNotification);
}
void AppDelegate::AddBook() {
    post(kAddBookNotification);
}
void AppDelegate::DeleteBook() {
    post(kDeleteBookNotification);
}
void AppDelegate::EditBook() {
    post(kEditBookNotification);
}
void AppDelegate::AddSource() {
    post(kAddSourceNotification);
}
void AppDelegate::DeleteSource() {
    post(kDeleteSourceNotification);
}
void AppDelegate::EditSource() {
    post(kEditSourceNotification);
}
void AppDelegate::doMake() {
    post(kDoConvertNotification);
}
void AppDelegate::doAbort() {
    post(kAbortNotification);
}
void AppDelegate::doMakeCatalog() {
    post(kMakeCatalogNotification);
}

bool AppDelegate::applicationOpenFile(UIApplication*, const std::string& path) {
    UINotificationCenter::defaultCenter().post(kOpenFileNotification, nullptr, {{kFilenameKey, path}});
    return true;
}

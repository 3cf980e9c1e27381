#include "app/notificationnames.h"

const char kReloadBookNotification[] = "reloadBookNotification";
const char kReloadSourceNotification[] = "reloadSourceNotification";
const char kShowMessageNotification[] = "showMessageNotification";
const char kInvalidateBooksetNotification[] = "invalidateBooksetNotification";
const char kAddBookNotification[] = "addBookNotification";
const char kDeleteBookNotification[] = "deleteBookNotification";
const char kEditBookNotification[] = "editBookNotification";
const char kAddSourceNotification[] = "addSourceNotification";
const char kDeleteSourceNotification[] = "deleteSourceNotification";
const char kEditSourceNotification[] = "editSourceNotification";
const char kDoConvertNotification[] = "doConvertNotification";
const char kAbortNotification[] = "abortNotification";
const char kNewDocumentNotification[] = "newDocumentNotification";
const char kOpenDocumentNotification[] = "openDocumentNotification";
const char kSaveDocumentNotification[] = "saveDocumentNotification";
const char kSaveDocumentAsNotification[] = "saveDocumentAsNotification";
const char kOpenFileNotification[] = "openFileNotification";
const char kMakeCatalogNotification[] = "makeCatalogNotification";

const char kMessageKey[] = "message";
const char kFilenameKey[] = "filename";

const char kMainStoryboard[] = "Main";
const char kBookWindowController[] = "bookWindowController";
const char kSourceWindowController[] = "sourceWindowController";
const char kTextWizardWindowController[] = "textWizardWindowController";

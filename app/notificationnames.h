// The names of the notifications of Lexforge's window layer: posted by the
// application delegate's menu actions, the dialogs and the message callback,
// observed by the main window's controller.
#pragma once

extern const char kReloadBookNotification[];
extern const char kReloadSourceNotification[];
extern const char kShowMessageNotification[];
extern const char kInvalidateBooksetNotification[];
extern const char kAddBookNotification[];
extern const char kDeleteBookNotification[];
extern const char kEditBookNotification[];
extern const char kAddSourceNotification[];
extern const char kDeleteSourceNotification[];
extern const char kEditSourceNotification[];
extern const char kDoConvertNotification[];
extern const char kAbortNotification[];
extern const char kNewDocumentNotification[];
extern const char kOpenDocumentNotification[];
extern const char kSaveDocumentNotification[];
extern const char kSaveDocumentAsNotification[];
extern const char kOpenFileNotification[];
extern const char kMakeCatalogNotification[];

// User-info keys.
extern const char kMessageKey[];   // "message" of showMessageNotification
extern const char kFilenameKey[];  // "filename" of openFileNotification

// The storyboard and the identifiers of the dialogs' window controllers.
extern const char kMainStoryboard[];
extern const char kBookWindowController[];
extern const char kSourceWindowController[];
extern const char kTextWizardWindowController[];

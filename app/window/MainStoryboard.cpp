#include "app/window/MainStoryboard.h"

#include "app/dialogs/BookViewController.h"
#include "app/dialogs/SourceViewController.h"
#include "app/dialogs/TextWizardViewController.h"
#include "app/notificationnames.h"

void registerMainStoryboard() {
    UIStoryboard::registerController(kMainStoryboard, kBookWindowController,
                                     [] { return std::unique_ptr<UIViewController>(new BookViewController); });
    UIStoryboard::registerController(kMainStoryboard, kSourceWindowController,
                                     [] { return std::unique_ptr<UIViewController>(new SourceViewController); });
    UIStoryboard::registerController(kMainStoryboard, kTextWizardWindowController,
                                     [] { return std::unique_ptr<UIViewController>(new TextWizardViewController); });
}

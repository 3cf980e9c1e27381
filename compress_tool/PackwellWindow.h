// Packwell's main window as its interface file describes it: creates the
// controls and the AppController, connects outlets and actions, and sets the
// titles, the slider's range (0 to 5) and the initial states.
#pragma once

#include "compress_tool/AppController.h"
#include "platform/UIButton.h"
#include "platform/UICheckBox.h"
#include "platform/UISlider.h"
#include "platform/UITableView.h"
#include "platform/UITextField.h"
#include "platform/UITextView.h"

class UIApplication;

class PackwellWindow {
public:
    // Makes the controller the application's delegate when app is given.
    explicit PackwellWindow(UIApplication* app = nullptr);
    PackwellWindow(const PackwellWindow&) = delete;
    PackwellWindow& operator=(const PackwellWindow&) = delete;

    AppController& controller() { return m_controller; }

    UITextView textView;
    UITableView tableView;
    UICheckBox keepOriginalCheck;
    UICheckBox copyTreeCheck;
    UICheckBox speedUpCheck;
    UICheckBox cryptCheck;
    UICheckBox overwriteCheck;
    UISlider zipLevelSlider;
    UITextField outputPath;
    UIButton selectOutPathButton;
    UIButton addButton;
    UIButton deleteButton;
    UIButton clearButton;
    UIButton shrinkButton;
    UIButton expandButton;
    UIButton checkButton;

private:
    AppController m_controller;
};

// The storyboard "Main": makes the dialogs' window controllers by their
// identifiers "bookWindowController", "sourceWindowController" and
// "textWizardWindowController". Called once at start-up (more calls change
// nothing).
#pragma once

void registerMainStoryboard();

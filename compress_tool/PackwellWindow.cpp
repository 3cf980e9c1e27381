#include "compress_tool/PackwellWindow.h"

#include "platform/UIApplication.h"

PackwellWindow::PackwellWindow(UIApplication* app)
    : keepOriginalCheck("Keep original", UIStateOn),
      copyTreeCheck("Copy tree", UIStateOff),
      speedUpCheck("Speed up", UIStateOff),
      cryptCheck("Crypt", UIStateOff),
      overwriteCheck("Replace existing outputs", UIStateOff),
      zipLevelSlider(0, 5, 0),
      selectOutPathButton("Output..."),
      addButton("Add..."),
      deleteButton("Delete"),
      clearButton("Clear"),
      shrinkButton("Shrink"),
      expandButton("Expand"),
      checkButton("CRC Check") {
    tableView.addColumn("path");
    tableView.setDataSource(&m_controller);
    tableView.setDelegate(&m_controller);

    AppController& c = m_controller;
    c.textView = &textView;
    c.tableView = &tableView;
    c.keepOriginalCheck = &keepOriginalCheck;
    c.copyTreeCheck = &copyTreeCheck;
    c.speedUpCheck = &speedUpCheck;
    c.cryptCheck = &cryptCheck;
    c.overwriteCheck = &overwriteCheck;
    c.zipLevelSlider = &zipLevelSlider;
    c.outputPath = &outputPath;

    selectOutPathButton.setAction([&c](UIButton* b) { c.selectOutPath(b); });
    addButton.setAction([&c](UIButton* b) { c.addList(b); });
    deleteButton.setAction([&c](UIButton* b) { c.delList(b); });
    clearButton.setAction([&c](UIButton* b) { c.clearList(b); });
    shrinkButton.setAction([&c](UIButton* b) { c.shrink(b); });
    expandButton.setAction([&c](UIButton* b) { c.expand(b); });
    checkButton.setAction([&c](UIButton* b) { c.crccheck(b); });

    if (app) app->setDelegate(&c);
    c.awakeFromNib();
}

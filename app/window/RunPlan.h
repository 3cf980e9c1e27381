// A build or catalog run's copy of the project, taken on the main thread when
// the run starts, so that the run's thread never reads the project that the
// window goes on editing. Every value is already in the form the driver
// takes (Shift_JIS texts, absolute paths), and every book and source has
// been checked against the driver's limits: one that does not fit carries
// the reason instead and is reported and skipped by the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/ConvertOpt.h"

class BookSet;

struct PlannedSource {
    std::string path;   // absolute (after the path forms), UTF-8
    std::string title;  // Shift_JIS; empty: none
    int type = 0;
    std::string fields;   // UTF-8; empty: none
    std::string problem;  // why it is not added, empty when it is
};

struct PlannedBook {
    std::string name;     // how the log names the book: its title as UTF-8, or its directory name
    std::string title;    // Shift_JIS
    std::string dirName;  // Shift_JIS (ASCII)
    int bookTypeID = 0x60;
    std::string gaijiFont, gaijiMap, complexDef, indexFile, copyright;  // absolute; empty: none
    int fontMask = 0;
    char fontNames[FONT_SLOTS * 9] = {};  // 8 slots of 9 bytes
    bool separateMMData = false;
    uint16_t hanStart = 0, zenStart = 0;
    std::vector<PlannedSource> sources;  // used sources only (those with a path)
    std::string problem;                 // why the book is skipped, empty when it is built
};

class RunPlan {
public:
    // The copy of set, with the path forms expanded against appPath (the
    // resource folder). Books without a title or a directory name are left
    // out, as are sources without a path.
    RunPlan(const BookSet& set, const std::string& appPath);
    RunPlan(const RunPlan&) = delete;
    RunPlan& operator=(const RunPlan&) = delete;

    std::string outputPath;  // UTF-8, ends in "/"
    int ebType = 1;
    int indexDef = 0;
    // The option record; its five texts point into this plan's own copies.
    ConvertOpt options;
    std::vector<PlannedBook> books;
    // Not empty when the project cannot be run at all (two books with one
    // directory name): the run is refused with this text.
    std::string refusal;

private:
    std::string m_texts[5];
};

// The 46 options of the tabs and of the project that a run hands to the
// driver by name, in the order they are handed over, each with its value as
// an int; a combo-box option whose value is no item's index is handed over
// as 0, the first item. maxStringT is not among them (see ViewController).
struct DriverOption {
    const char* name;
    int value;
};
std::vector<DriverOption> driverIntOptions(const ConvertOpt& opt);

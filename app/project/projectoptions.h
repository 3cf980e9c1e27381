// The 52 build options that a project stores (the ConvertOpt fields from
// stopWord to maxStringT), in the order of the XML project file, with their
// kind, and the number and flag rules that both project files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "builder/ConvertOpt.h"

enum ProjectOptionKind {
    OPTION_FLAG,    // int, 0 or 1
    OPTION_NUMBER,  // int, signed 16-bit or unsigned 32-bit
    OPTION_TEXT,    // UTF-8 text held through a char* of the record
};

struct ProjectOption {
    const char* name;  // the ConvertOpt field's name, also the files' key
    ProjectOptionKind kind;
    // Exactly one of these is set, by the field's type.
    int ConvertOpt::*intField;
    int16_t ConvertOpt::*shortField;
    uint32_t ConvertOpt::*unsignedField;
    char* ConvertOpt::*textField;
    // The key=value project file has a key of this name.
    bool legacyKey;
};

constexpr size_t kProjectOptionCount = 52;
extern const ProjectOption kProjectOptions[kProjectOptionCount];

// The option named name (exact, case-sensitive), or null.
const ProjectOption* findProjectOption(const std::string& name);

// A number option's value as the XML file writes it: the field's 32 bits as
// a signed integer (16-bit fields widened with their sign). A flag option's
// int comes back as it is.
int32_t projectOptionNumber(const ConvertOpt& opt, const ProjectOption& option);
// Stores a number read from a project file: a 16-bit field keeps the low 16
// bits, an unsigned one the 32 bits; kwordLen below 1 becomes 1. A flag
// option's int takes the value as it is.
void setProjectOptionNumber(ConvertOpt* opt, const ProjectOption& option, int32_t value);
// A flag option: 0, or 1 for any value other than 0.
inline int projectOptionFlag(const ConvertOpt& opt, const ProjectOption& option) {
    return opt.*(option.intField) != 0;
}
inline void setProjectOptionFlag(ConvertOpt* opt, const ProjectOption& option, bool set) {
    opt->*(option.intField) = set ? 1 : 0;
}

// The leading decimal integer of text: white space skipped, an optional sign,
// digits up to the first other character; 0 without a digit; beyond the
// 32-bit signed range, the nearest limit.
int32_t leadingInteger(const std::string& text);
// True when text is one decimal integer in the 32-bit signed range (white
// space around it allowed), with its value in *value.
bool wholeInteger(const std::string& text, int32_t* value);
// True when text is a decimal integer of any size, white space around it
// allowed: what leadingInteger reads without dropping anything.
bool isDecimalInteger(const std::string& text);

// A number option of the tabs whose value lies outside the range the book
// can carry: true with the option's name and a message naming the value and
// the range ("leftMargin -2 is outside 0..65534"); false when all are in range.
bool findOptionRangeProblem(const ConvertOpt& opt, std::string* name, std::string* message);

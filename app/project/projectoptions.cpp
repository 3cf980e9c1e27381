#include "app/project/projectoptions.h"

#include <cctype>
#include <cstdint>

namespace {

constexpr ProjectOption flag(const char* name, int ConvertOpt::*field, bool legacy = true) {
    return ProjectOption{name, OPTION_FLAG, field, nullptr, nullptr, nullptr, legacy};
}
constexpr ProjectOption number(const char* name, int ConvertOpt::*field, bool legacy = true) {
    return ProjectOption{name, OPTION_NUMBER, field, nullptr, nullptr, nullptr, legacy};
}
constexpr ProjectOption number16(const char* name, int16_t ConvertOpt::*field) {
    return ProjectOption{name, OPTION_NUMBER, nullptr, field, nullptr, nullptr, true};
}
constexpr ProjectOption text(const char* name, char* ConvertOpt::*field, bool legacy = true) {
    return ProjectOption{name, OPTION_TEXT, nullptr, nullptr, nullptr, field, legacy};
}

}  // namespace

// The record's order, except that autoUniGaiji comes last. stopWord,
// maxStringT, FRAuto and titleLen have no key of their own in the key=value
// file ("StopWord" and "Size" set the first two there).
const ProjectOption kProjectOptions[kProjectOptionCount] = {
    text("stopWord", &ConvertOpt::stopWord, false),
    flag("delBlank", &ConvertOpt::delBlank),
    flag("delSym", &ConvertOpt::delSym),
    text("delChars", &ConvertOpt::delChars),
    flag("refAuto", &ConvertOpt::refAuto),
    flag("titleWord", &ConvertOpt::titleWord),
    flag("autoWord", &ConvertOpt::autoWord),
    flag("autoEWord", &ConvertOpt::autoEWord),
    flag("dispKeyInSelList", &ConvertOpt::dispKeyInSelList),
    flag("FRAuto", &ConvertOpt::FRAuto, false),
    number("titleOrder", &ConvertOpt::titleOrder),
    number("addKana", &ConvertOpt::addKana),
    flag("autoKana", &ConvertOpt::autoKana),
    flag("omitHeader", &ConvertOpt::omitHeader),
    number("titleLen", &ConvertOpt::titleLen, false),
    number("typeCplxKwd", &ConvertOpt::typeCplxKwd),
    flag("topMenu", &ConvertOpt::topMenu),
    flag("singleLine", &ConvertOpt::singleLine),
    text("kanaSep1", &ConvertOpt::kanaSep1),
    text("kanaSep2", &ConvertOpt::kanaSep2),
    flag("hyokiSep", &ConvertOpt::hyokiSep),
    flag("makeFig", &ConvertOpt::makeFig),
    flag("inlineImg", &ConvertOpt::inlineImg),
    flag("paraHdr", &ConvertOpt::paraHdr),
    flag("ruby", &ConvertOpt::ruby),
    flag("paraBr", &ConvertOpt::paraBr),
    flag("subTitle", &ConvertOpt::subTitle),
    number("dfnStyle", &ConvertOpt::dfnStyle),
    number("srchUnit", &ConvertOpt::srchUnit),
    number("linkChar", &ConvertOpt::linkChar),
    text("arrowCode", &ConvertOpt::arrowCode),
    flag("HTagIndex", &ConvertOpt::HTagIndex),
    flag("HTagMenu", &ConvertOpt::HTagMenu),
    flag("DTTagIndex", &ConvertOpt::DTTagIndex),
    number("leftMargin", &ConvertOpt::leftMargin),
    number("indent", &ConvertOpt::indent),
    number("tableWidth", &ConvertOpt::tableWidth),
    number("kwordLen", &ConvertOpt::kwordLen),
    flag("delLeadNo", &ConvertOpt::delLeadNo),
    flag("eijiPronon", &ConvertOpt::eijiPronon),
    flag("eijiPartOfSpeech", &ConvertOpt::eijiPartOfSpeech),
    flag("eijiBreak", &ConvertOpt::eijiBreak),
    flag("eijiKana", &ConvertOpt::eijiKana),
    number("eijiYomi", &ConvertOpt::eijiYomi),
    number("withHeader", &ConvertOpt::withHeader),
    flag("optMono", &ConvertOpt::optMono),
    number16("pdicTitle", &ConvertOpt::pdicTitle),
    number16("pdicPronon", &ConvertOpt::pdicPronon),
    number16("pdicHonbun", &ConvertOpt::pdicHonbun),
    number16("pdicYorei", &ConvertOpt::pdicYorei),
    ProjectOption{"maxStringT", OPTION_NUMBER, nullptr, nullptr, &ConvertOpt::maxStringT, nullptr, false},
    flag("autoUniGaiji", &ConvertOpt::autoUniGaiji),
};

const ProjectOption* findProjectOption(const std::string& name) {
    for (const ProjectOption& option : kProjectOptions)
        if (name == option.name) return &option;
    return nullptr;
}

int32_t projectOptionNumber(const ConvertOpt& opt, const ProjectOption& option) {
    if (option.shortField) return opt.*(option.shortField);
    if (option.unsignedField) return static_cast<int32_t>(opt.*(option.unsignedField));
    return opt.*(option.intField);
}

void setProjectOptionNumber(ConvertOpt* opt, const ProjectOption& option, int32_t value) {
    if (option.shortField) {
        opt->*(option.shortField) = static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF));
    } else if (option.unsignedField) {
        opt->*(option.unsignedField) = static_cast<uint32_t>(value);
    } else {
        if (option.intField == &ConvertOpt::kwordLen && value < 1) value = 1;
        opt->*(option.intField) = value;
    }
}

int32_t leadingInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // 64-bit accumulation, held at the limit once it is reached.
    const int64_t limit = negative ? -int64_t(INT32_MIN) : int64_t(INT32_MAX);
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

bool wholeInteger(const std::string& text, int32_t* value) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = i;
    int64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if ((v = v * 10 + (text[i] - '0')) > int64_t(INT32_MAX) + 1) return false;
    if (i == digits) return false;
    if (text[start] == '-') v = -v;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i != text.size() || v > INT32_MAX || v < INT32_MIN) return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool isDecimalInteger(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits) return false;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    return i == text.size();
}

bool findOptionRangeProblem(const ConvertOpt& opt, std::string* name, std::string* message) {
    const struct {
        const char* name;
        int ConvertOpt::*field;
        int low, high;
    } kRanges[] = {
        // The indent code of an entry's body carries leftMargin + 1 in 16 bits.
        {"leftMargin", &ConvertOpt::leftMargin, 0, kMaxLeftMargin},
    };
    for (const auto& r : kRanges) {
        const int value = opt.*(r.field);
        if (value >= r.low && value <= r.high) continue;
        *name = r.name;
        *message = std::string(r.name) + " " + std::to_string(value) + " is outside " + std::to_string(r.low) + ".." +
                   std::to_string(r.high);
        return true;
    }
    return false;
}

#include "dictformats/text/CParseTag.h"

#include <cctype>
#include <cstring>

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

void CParseTag::setText(const char* text, uint32_t length) {
    text_ = text;
    length_ = text ? length : 0;
    pos_ = 0;
}

int CParseTag::getToken(PARSE_TOKEN* token) {
    token->start = pos_;
    token->length = 0;
    token->type = PARSE_TOKEN::kStartTag;
    std::memset(token->attributes, 0, sizeof token->attributes);
    if (pos_ >= length_) return -1;

    if (skipSpace_) {
        uint32_t from = pos_;
        while (pos_ < length_ && isSpace(text_[pos_])) ++pos_;
        if (pos_ > from && text_[pos_ - 1] == ' ') --pos_;
    }
    const uint32_t begin = pos_;
    if (pos_ >= length_) return -1;

    if (text_[pos_] != '<') {
        token->start = pos_;
        token->type = PARSE_TOKEN::kText;
        // A space kept from the skipped run starts the run; the run goes on to
        // the next tag.
        ++pos_;
        while (pos_ < length_ && text_[pos_] != '<') ++pos_;
        token->length = pos_ - token->start;
        return static_cast<int>(pos_ - begin);
    }

    ++pos_;  // "<"
    token->start = pos_;
    if (pos_ < length_ && text_[pos_] == '/') {
        token->type = PARSE_TOKEN::kEndTag;
        ++pos_;
        token->start = pos_;
    }
    while (pos_ < length_ && text_[pos_] != ' ' && text_[pos_] != '/' && text_[pos_] != '>') ++pos_;
    token->length = pos_ - token->start;

    if (pos_ < length_ && isSpace(text_[pos_])) {
        for (int i = 0; i < PARSE_TOKEN::kMaxAttributes; ++i) {
            while (pos_ < length_ && isSpace(text_[pos_])) ++pos_;
            if (pos_ >= length_ || text_[pos_] == '>' || text_[pos_] == '/') break;
            ATTR_SPAN& a = token->attributes[i];
            a.name = text_ + pos_;
            while (pos_ < length_ && text_[pos_] != '=' && text_[pos_] != '>' && text_[pos_] != '/' &&
                   !isSpace(text_[pos_])) {
                ++pos_;
                ++a.nameLength;
            }
            if (pos_ >= length_ || text_[pos_] == '>' || text_[pos_] == '/') break;
            ++pos_;  // "="
            bool quoted = pos_ < length_ && text_[pos_] == '"';
            if (quoted) ++pos_;
            if (pos_ < length_) a.value = text_ + pos_;
            while (
                pos_ < length_ && text_[pos_] != '"' &&
                (quoted || (text_[pos_] != ',' && text_[pos_] != '>' && text_[pos_] != '/' && !isSpace(text_[pos_])))) {
                ++pos_;
                ++a.valueLength;
            }
            if (pos_ < length_ && text_[pos_] == '"') ++pos_;
            if (pos_ < length_ && text_[pos_] == ',') ++pos_;
            if (pos_ >= length_ || text_[pos_] == '>' || text_[pos_] == '/') break;
        }
    }

    while (pos_ < length_ && text_[pos_] != '>') {
        if (text_[pos_] == '/') token->type = PARSE_TOKEN::kEmptyTag;
        ++pos_;
    }
    if (pos_ < length_) ++pos_;  // ">"
    return static_cast<int>(pos_ - begin);
}

#include "dictformats/text/CParseTag.h"

#include <cctype>
#include <cstring>

namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

void CParseTag::setText(const char* text, uint32_t length) {
    m_text = text;
    m_length = text ? length : 0;
    m_pos = 0;
}

int CParseTag::getToken(PARSE_TOKEN* token) {
    token->start = m_pos;
    token->length = 0;
    token->type = PARSE_TOKEN::kStartTag;
    std::memset(token->attributes, 0, sizeof token->attributes);
    if (m_pos >= m_length) return -1;

    if (m_skipSpace) {
        uint32_t from = m_pos;
        while (m_pos < m_length && isSpace(m_text[m_pos])) ++m_pos;
        if (m_pos > from && m_text[m_pos - 1] == ' ') --m_pos;
    }
    const uint32_t begin = m_pos;
    if (m_pos >= m_length) return -1;

    if (m_text[m_pos] != '<') {
        token->start = m_pos;
        token->type = PARSE_TOKEN::kText;
        // A space kept from the skipped run starts the run; the run goes on to
        // the next tag.
        ++m_pos;
        while (m_pos < m_length && m_text[m_pos] != '<') ++m_pos;
        token->length = m_pos - token->start;
        return static_cast<int>(m_pos - begin);
    }

    ++m_pos;  // "<"
    token->start = m_pos;
    if (m_pos < m_length && m_text[m_pos] == '/') {
        token->type = PARSE_TOKEN::kEndTag;
        ++m_pos;
        token->start = m_pos;
    }
    while (m_pos < m_length && m_text[m_pos] != ' ' && m_text[m_pos] != '/' && m_text[m_pos] != '>') ++m_pos;
    token->length = m_pos - token->start;

    if (m_pos < m_length && isSpace(m_text[m_pos])) {
        for (int i = 0; i < PARSE_TOKEN::kMaxAttributes; ++i) {
            while (m_pos < m_length && isSpace(m_text[m_pos])) ++m_pos;
            if (m_pos >= m_length || m_text[m_pos] == '>' || m_text[m_pos] == '/') break;
            ATTR_SPAN& a = token->attributes[i];
            a.name = m_text + m_pos;
            while (m_pos < m_length && m_text[m_pos] != '=' && m_text[m_pos] != '>' && m_text[m_pos] != '/' &&
                   !isSpace(m_text[m_pos])) {
                ++m_pos;
                ++a.nameLength;
            }
            if (m_pos >= m_length || m_text[m_pos] == '>' || m_text[m_pos] == '/') break;
            ++m_pos;  // "="
            bool quoted = m_pos < m_length && m_text[m_pos] == '"';
            if (quoted) ++m_pos;
            if (m_pos < m_length) a.value = m_text + m_pos;
            while (m_pos < m_length && m_text[m_pos] != '"' &&
                   (quoted || (m_text[m_pos] != ',' && m_text[m_pos] != '>' && m_text[m_pos] != '/' &&
                               !isSpace(m_text[m_pos])))) {
                ++m_pos;
                ++a.valueLength;
            }
            if (m_pos < m_length && m_text[m_pos] == '"') ++m_pos;
            if (m_pos < m_length && m_text[m_pos] == ',') ++m_pos;
            if (m_pos >= m_length || m_text[m_pos] == '>' || m_text[m_pos] == '/') break;
        }
    }

    while (m_pos < m_length && m_text[m_pos] != '>') {
        if (m_text[m_pos] == '/') token->type = PARSE_TOKEN::kEmptyTag;
        ++m_pos;
    }
    if (m_pos < m_length) ++m_pos;  // ">"
    return static_cast<int>(m_pos - begin);
}

#include "bookreader/backends/BackendText.h"

namespace backend {

size_t utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0 && lead < 0xF0) return 3;
    if (lead >= 0xC0 && lead < 0xE0) return 2;
    return 1;
}

namespace {

size_t characterAt(const char* text, size_t i, size_t n) {
    size_t len = utf8Length(static_cast<unsigned char>(text[i]));
    return len > n - i ? n - i : len;
}

}  // namespace

bool appendEscaped(CBoundedText& out, const char* text, size_t n, bool quotes) {
    for (size_t i = 0; i < n && text[i];) {
        const char c = text[i];
        bool ok;
        if (c == '&')
            ok = out.append("&amp;");
        else if (c == '<')
            ok = out.append("&lt;");
        else if (c == '>')
            ok = out.append("&gt;");
        else if (c == '"' && quotes)
            ok = out.append("&quot;");
        else {
            size_t len = characterAt(text, i, n);
            ok = out.append(text + i, len);
            i += len;
            if (!ok) return false;
            continue;
        }
        if (!ok) return false;
        ++i;
    }
    return true;
}

bool appendWhole(CBoundedText& out, const char* text, size_t n) {
    for (size_t i = 0; i < n && text[i];) {
        size_t len = characterAt(text, i, n);
        if (!out.append(text + i, len)) return false;
        i += len;
    }
    return true;
}

bool endsUrl(uint32_t c) {
    return c >= 0x80 || c < 0x20 || c == 0x7F || c == ' ' || c == '>';
}

void crOnlyLineEnds(char* text) {
    char* w = text;
    for (const char* r = text; *r; ++r)
        if (!(*r == '\n' && r > text && r[-1] == '\r')) *w++ = *r;
    *w = 0;
}

void clearOutput(char* out, uint32_t outSize, uint32_t* outLength) {
    if (outLength) *outLength = 0;
    if (out && outSize > 0) out[0] = 0;
}

}  // namespace backend

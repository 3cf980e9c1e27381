#include "builder/sources/CUTF16Reader.h"

CUTF16Reader::CUTF16Reader(FILE* file)
    : m_file(file), m_order(kNoMark), m_orderKnown(false), m_pushBack(-1), m_position(-1) {}

void CUTF16Reader::attach(FILE* file) {
    m_file = file;
    m_order = kNoMark;
    m_orderKnown = false;
    m_pushBack = -1;
    m_position = -1;
}

// Reading starts past the file's start: the order comes from the file's
// first two bytes all the same.
void CUTF16Reader::learnOrder() {
    m_orderKnown = true;
    m_order = kNoMark;
    long pos = std::ftell(m_file);
    if (pos < 0 || std::fseek(m_file, 0, SEEK_SET) != 0) return;
    unsigned char b[2];
    if (std::fread(b, 1, 2, m_file) == 2) {
        if (b[0] == 0xFE && b[1] == 0xFF)
            m_order = kBigEndian;
        else if (b[0] == 0xFF && b[1] == 0xFE)
            m_order = kLittleEndian;
    }
    std::fseek(m_file, pos, SEEK_SET);
}

int CUTF16Reader::readChar() {
    if (m_pushBack >= 0) {
        int unit = m_pushBack;
        m_pushBack = -1;
        return unit;
    }
    if (m_file == nullptr) return -1;
    if (m_position < 0) {
        // Asked once per file; a stream that cannot tell is read from its start.
        m_position = std::ftell(m_file);
        if (m_position < 0) m_position = 0;
    }
    unsigned char b[2];
    if (m_position == 0) {
        size_t got = std::fread(b, 1, 2, m_file);
        m_position += static_cast<long>(got);
        if (got != 2) return -1;
        m_orderKnown = true;
        if (b[0] == 0xFE && b[1] == 0xFF) {
            m_order = kBigEndian;
        } else if (b[0] == 0xFF && b[1] == 0xFE) {
            m_order = kLittleEndian;
        } else {
            m_order = kNoMark;
            return (b[0] << 8) | b[1];
        }
    } else if (!m_orderKnown) {
        learnOrder();
    }
    size_t got = std::fread(b, 1, 2, m_file);
    m_position += static_cast<long>(got);
    if (got != 2) return -1;
    if (m_order == kLittleEndian) return (b[1] << 8) | b[0];
    return (b[0] << 8) | b[1];
}

void CUTF16Reader::unget(int unit) {
    m_pushBack = unit < 0 ? -1 : (unit & 0xFFFF);
}

int* CUTF16Reader::readLine(int* buffer, int size) {
    if (buffer == nullptr) return nullptr;
    if (size < 2) {
        if (size == 1) buffer[0] = 0;
        return buffer;
    }
    int n = 0;
    for (;;) {
        if (n >= size - 1) {  // line cut; its rest comes next time
            buffer[n] = 0;
            return buffer;
        }
        int u = readChar();
        if (u < 0) {
            buffer[n] = 0;
            return nullptr;
        }
        if (u == '\r') {
            if (n > 0 && n == size - 2) {
                // No room for CR LF: cut before the CR so the pair stays whole.
                unget(u);
                buffer[n] = 0;
                return buffer;
            }
            buffer[n++] = u;
            int v = readChar();
            if (v < 0) {
                buffer[n] = 0;
                return buffer;
            }
            if (v == '\n') {
                if (n < size - 1)
                    buffer[n++] = v;
                else
                    unget(v);
                buffer[n] = 0;
                return buffer;
            }
            unget(v);  // a lone CR stays in the line
            continue;
        }
        buffer[n++] = u;
        if (u == '\n') {
            buffer[n] = 0;
            return buffer;
        }
    }
}

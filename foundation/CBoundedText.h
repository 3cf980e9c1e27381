// Appends text to a caller's buffer of fixed capacity: a piece is written
// whole, with the terminating NUL after it, or not at all, so the buffer
// never overflows, is always terminated and never holds a cut character.
// stopped() tells that some piece was left out.
//
// CBoundedText works on bytes, CBoundedWideText on 32-bit characters (the
// wide tagged text of PDIC entries); capacities count elements.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/codes/jclib.h"

template <typename CharT>
class CBoundedTextOf {
public:
    // out holds size elements; the text so far is its first length ones. A
    // null or zero-sized buffer takes nothing.
    CBoundedTextOf(CharT* out, size_t size, size_t length = 0) : m_out(out), m_size(size), m_length(length) {
        if (m_size == 0 || !m_out) {
            m_out = nullptr;
            m_size = m_length = 0;
            return;
        }
        if (m_length >= m_size) m_length = m_size - 1;
        m_out[m_length] = 0;
    }

    // Appends n elements when they fit together with the NUL; false (and
    // nothing written, stopped() set) otherwise.
    bool append(const CharT* s, size_t n) {
        if (!m_out || n >= m_size - m_length) {
            m_stopped = true;
            return false;
        }
        std::memcpy(m_out + m_length, s, n * sizeof(CharT));
        m_length += n;
        m_out[m_length] = 0;
        return true;
    }
    bool append(const CharT* s) {
        size_t n = 0;
        while (s[n]) ++n;
        return append(s, n);
    }
    bool append(CharT c) { return append(&c, 1); }
    // ASCII text, widened element by element.
    bool appendAscii(const char* s) {
        size_t n = std::strlen(s);
        if (!m_out || n >= m_size - m_length) {
            m_stopped = true;
            return false;
        }
        for (size_t i = 0; i < n; ++i) m_out[m_length + i] = static_cast<CharT>(static_cast<unsigned char>(s[i]));
        m_length += n;
        m_out[m_length] = 0;
        return true;
    }

    // Appends the longest part of the n bytes that fits, never splitting a
    // two-byte Shift_JIS character; false when the text was cut (byte text
    // only).
    bool appendCut(const char* s, size_t n) {
        if (!m_out) return n == 0;
        size_t fit = 0;
        while (fit < n) {
            const bool lead = jclib::isSjisLead(static_cast<unsigned char>(s[fit]));
            const size_t step = lead && fit + 1 < n ? 2 : 1;
            if (fit + step > room()) break;
            fit += step;
        }
        append(s, fit);
        return fit == n;
    }

    size_t length() const { return m_length; }
    // Elements that still fit before the NUL.
    size_t room() const { return m_out ? m_size - m_length - 1 : 0; }
    // Set once a piece did not fit.
    bool stopped() const { return m_stopped; }
    // Where the NUL is now, for a writer that fills room() elements itself
    // and then calls grow().
    CharT* end() const { return m_out ? m_out + m_length : nullptr; }
    // Takes n elements written at end() (n <= room()) into the text.
    void grow(size_t n) {
        if (!m_out) return;
        if (n > room()) n = room();
        m_length += n;
        m_out[m_length] = 0;
    }

private:
    CharT* m_out;
    size_t m_size;
    size_t m_length;
    bool m_stopped = false;
};

using CBoundedText = CBoundedTextOf<char>;
using CBoundedWideText = CBoundedTextOf<uint32_t>;

// Appends text to a caller's buffer of fixed capacity: a piece is written
// whole, with the terminating NUL after it, or not at all, so the buffer
// never overflows, is always terminated and never holds a cut character.
#pragma once

#include <cstddef>
#include <cstring>

#include "foundation/codes/jclib.h"

class CBoundedText {
public:
    // out holds size bytes; the text so far is its first length bytes. A null
    // or zero-sized buffer takes nothing.
    CBoundedText(char* out, size_t size, size_t length = 0) : out_(out), size_(size), length_(length) {
        if (size_ == 0 || !out_) {
            out_ = nullptr;
            size_ = length_ = 0;
            return;
        }
        if (length_ >= size_) length_ = size_ - 1;
        out_[length_] = '\0';
    }

    // Appends n bytes when they fit together with the NUL; false (and
    // nothing written) otherwise.
    bool append(const char* s, size_t n) {
        if (!out_ || n >= size_ - length_) return false;
        std::memcpy(out_ + length_, s, n);
        length_ += n;
        out_[length_] = '\0';
        return true;
    }
    bool append(const char* s) { return append(s, std::strlen(s)); }

    // Appends the longest part of the n bytes that fits, never splitting a
    // two-byte Shift_JIS character; false when the text was cut.
    bool appendCut(const char* s, size_t n) {
        if (!out_) return n == 0;
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

    size_t length() const { return length_; }
    // Bytes that still fit before the NUL.
    size_t room() const { return out_ ? size_ - length_ - 1 : 0; }

private:
    char* out_;
    size_t size_;
    size_t length_;
};

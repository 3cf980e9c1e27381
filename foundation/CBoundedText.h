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
    CBoundedTextOf(CharT* out, size_t size, size_t length = 0) : out_(out), size_(size), length_(length) {
        if (size_ == 0 || !out_) {
            out_ = nullptr;
            size_ = length_ = 0;
            return;
        }
        if (length_ >= size_) length_ = size_ - 1;
        out_[length_] = 0;
    }

    // Appends n elements when they fit together with the NUL; false (and
    // nothing written, stopped() set) otherwise.
    bool append(const CharT* s, size_t n) {
        if (!out_ || n >= size_ - length_) {
            stopped_ = true;
            return false;
        }
        std::memcpy(out_ + length_, s, n * sizeof(CharT));
        length_ += n;
        out_[length_] = 0;
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
        if (!out_ || n >= size_ - length_) {
            stopped_ = true;
            return false;
        }
        for (size_t i = 0; i < n; ++i) out_[length_ + i] = static_cast<CharT>(static_cast<unsigned char>(s[i]));
        length_ += n;
        out_[length_] = 0;
        return true;
    }

    // Appends the longest part of the n bytes that fits, never splitting a
    // two-byte Shift_JIS character; false when the text was cut (byte text
    // only).
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
    // Elements that still fit before the NUL.
    size_t room() const { return out_ ? size_ - length_ - 1 : 0; }
    // Set once a piece did not fit.
    bool stopped() const { return stopped_; }
    // Where the NUL is now, for a writer that fills room() elements itself
    // and then calls grow().
    CharT* end() const { return out_ ? out_ + length_ : nullptr; }
    // Takes n elements written at end() (n <= room()) into the text.
    void grow(size_t n) {
        if (!out_) return;
        if (n > room()) n = room();
        length_ += n;
        out_[length_] = 0;
    }

private:
    CharT* out_;
    size_t size_;
    size_t length_;
    bool stopped_ = false;
};

using CBoundedText = CBoundedTextOf<char>;
using CBoundedWideText = CBoundedTextOf<uint32_t>;

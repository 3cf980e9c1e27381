// Reader of UTF-16 source files one code unit at a time, with byte-order-mark
// detection and a one-unit push-back, and the line reader built on it.
//
// The byte order belongs to the file being read: it comes from the mark at
// the file's start (FF FE little-endian; FE FF, or no mark, big-endian) and
// the mark itself is never returned as text. A reader asked to start reading
// a file somewhere past its start (the caller has consumed the mark itself)
// looks at the file's first two bytes to learn the order. The reader keeps
// count of the file position itself; a caller that moves the file (rewind,
// seek) calls attach again.
#pragma once

#include <cstdio>

class CUTF16Reader {
public:
    static constexpr int kBigEndian = 0xFEFF;     // mark FE FF
    static constexpr int kLittleEndian = 0xFFFE;  // mark FF FE
    static constexpr int kNoMark = 0;             // no mark: big-endian

    explicit CUTF16Reader(FILE* file = nullptr);

    // Starts on another file (or the same file again): order unknown, push-back
    // empty.
    void attach(FILE* file);
    FILE* file() const { return m_file; }

    // The next code unit 0..0xFFFF, or -1 at the end of the file or on a short
    // read.
    int readChar();
    // Puts one unit back; the next readChar returns it.
    void unget(int unit);
    // Reads one line into buffer (one unit per int, no surrogate joining),
    // keeping its line end (LF, CR LF, or a CR at the end of the file), and
    // ends it with 0. At most size - 1 units are stored; a longer line is cut
    // and its rest comes with the next call (a CR LF pair is not split unless
    // size is 2). A lone CR followed by another unit stays in the line.
    // Returns buffer, or null when the file ends before a line end (the units
    // read so far are then in buffer, terminated). size below 2 gives an
    // empty string and returns buffer.
    int* readLine(int* buffer, int size);

    // kBigEndian, kLittleEndian or kNoMark once the order is known.
    int byteOrder() const { return m_order; }

    // File position just after the last unit read from the file, -1 before
    // the first read.
    long position() const { return m_position; }

private:
    void learnOrder();

    FILE* m_file;
    int m_order;
    bool m_orderKnown;
    int m_pushBack;  // -1 when empty
    long m_position;
};

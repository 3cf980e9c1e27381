// The string table of the book being built: keys, headings, names and the
// other texts that the book's records point at until the book is closed.
//
// Its size is a capacity, not an allocation: the bytes live in chunks that
// are allocated as texts arrive (small at first, larger as the table grows),
// and a text is never moved once stored, so every address add returned stays
// valid until release. A text lies whole in one chunk; consecutive texts need
// not be adjacent, and nothing may read the table as one block.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class CStringTable {
public:
    static constexpr size_t kFirstChunk = 64 * 1024;
    static constexpr size_t kLargestChunk = 16 * 1024 * 1024;

    CStringTable() = default;
    CStringTable(const CStringTable&) = delete;
    CStringTable& operator=(const CStringTable&) = delete;

    // Makes an empty table of the given capacity (in bytes) that holds
    // nothing yet; false when the first chunk cannot be allocated.
    bool open(size_t capacity);
    bool isOpen() const { return !m_chunks.empty(); }
    // Frees every chunk; the table is then closed.
    void release();

    // Copies n bytes and returns the copy; null when the table is closed or
    // the bytes would take it past its capacity (the used count is the sum
    // of every n stored). Throws std::bad_alloc when a chunk cannot be had.
    char* add(const void* bytes, size_t n);

    size_t used() const { return m_used; }
    size_t capacity() const { return m_capacity; }
    // Drops everything stored after mark (a value of used()); addresses of
    // texts stored before it stay valid. A mark above used() changes nothing.
    void restore(size_t mark);

private:
    struct Chunk {
        std::unique_ptr<char[]> bytes;
        size_t size;   // bytes allocated
        size_t fill;   // bytes in use
        size_t start;  // the used count when the chunk was begun
    };
    std::vector<Chunk> m_chunks;
    size_t m_capacity = 0;
    size_t m_used = 0;

    bool addChunk(size_t atLeast);
};

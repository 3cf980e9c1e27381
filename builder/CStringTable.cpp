// The book's string table, kept in chunks.
#include "builder/CStringTable.h"

#include <algorithm>
#include <cstring>
#include <new>

bool CStringTable::addChunk(size_t atLeast) {
    size_t size = kFirstChunk;
    if (!m_chunks.empty()) size = std::min(m_chunks.back().size * 2, kLargestChunk);
    // Never more than the capacity still free, never less than the text.
    size = std::max(atLeast, std::min(size, m_capacity - m_used));
    if (size == 0) size = 1;
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[size]);
    if (!bytes) return false;
    m_chunks.push_back(Chunk{std::move(bytes), size, 0, m_used});
    return true;
}

bool CStringTable::open(size_t capacity) {
    release();
    m_capacity = capacity;
    return addChunk(0);
}

void CStringTable::release() {
    m_chunks.clear();
    m_used = 0;
}

char* CStringTable::add(const void* bytes, size_t n) {
    if (m_chunks.empty() || n > m_capacity - m_used) return nullptr;
    if (m_chunks.back().size - m_chunks.back().fill < n && !addChunk(n)) throw std::bad_alloc();
    Chunk& c = m_chunks.back();
    char* p = c.bytes.get() + c.fill;
    if (n > 0) std::memcpy(p, bytes, n);
    c.fill += n;
    m_used += n;
    return p;
}

void CStringTable::restore(size_t mark) {
    if (mark > m_used) return;
    // Chunks begun at or after the mark hold nothing before it; the first
    // chunk is kept so that the table stays open.
    while (m_chunks.size() > 1 && m_chunks.back().start >= mark) m_chunks.pop_back();
    Chunk& c = m_chunks.back();
    c.fill = mark - c.start;
    m_used = mark;
}

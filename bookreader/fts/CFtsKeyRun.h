#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bookreader/fts/CFtsKeyForms.h"
#include "bookreader/fts/FtsKeys.h"

// The keys of one stretch of text, as (key << 32 | position) values in the
// order of their positions, split into shards by key. A character becomes a
// key when the next one arrives: a pair when the next lies 2 bytes on, else
// alone. The stretch's first character and its last (still pending) one are
// kept so that stretches read apart can be joined.
class CFtsKeyRun {
public:
    CFtsKeyRun(const CFtsKeyForms* forms, size_t shards) : m_forms(forms), m_shards(shards) {}

    void character(uint32_t jis, uint32_t block, uint32_t offset, bool narrow) {
        const uint32_t c = m_forms->of(jis, narrow);
        if (c) add(c, block * 2048u + offset);
    }
    // A character already in its indexed form.
    void add(uint32_t c, uint32_t position) {
        if (m_pendingChar) {
            emit(ftskeys::makeKey(m_pendingChar, position == m_pendingPos + 2 ? c : 0), m_pendingPos);
        } else if (!m_firstChar) {
            m_firstChar = c;
            m_firstPos = position;
        }
        m_pendingChar = c;
        m_pendingPos = position;
    }
    void emit(uint32_t key, uint32_t position) {
        m_shards[ftskeys::shardOf(key, m_shards.size())].push_back((static_cast<uint64_t>(key) << 32) | position);
    }
    // The last character gets the key it has when nothing follows it.
    void finish() {
        if (m_pendingChar) emit(ftskeys::makeKey(m_pendingChar, 0), m_pendingPos);
        m_pendingChar = 0;
    }

    uint32_t firstChar() const { return m_firstChar; }
    uint32_t firstPosition() const { return m_firstPos; }
    uint32_t pendingChar() const { return m_pendingChar; }
    uint32_t pendingPosition() const { return m_pendingPos; }
    std::vector<uint64_t>& shard(size_t i) { return m_shards[i]; }
    size_t shardCount() const { return m_shards.size(); }

private:
    const CFtsKeyForms* m_forms;
    uint32_t m_firstChar = 0, m_firstPos = 0;
    uint32_t m_pendingChar = 0, m_pendingPos = 0;
    std::vector<std::vector<uint64_t>> m_shards;
};

// The index area of a PDIC dictionary: one entry per logical data block,
// giving its physical block number and the block's first stored headword.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PDIC_HEADER_INFO;

class CPDicIndex {
public:
    // Parses the index area (bytes as read from the file). At most the
    // header's entry count is taken, and never an entry that runs past the
    // area. Fails (-1) when an entry names a block outside the file.
    int parse(const PDIC_HEADER_INFO& header, const uint8_t* area, size_t size);

    int count() const { return static_cast<int>(m_phys.size()); }
    uint32_t phys(int i) const { return m_phys[i]; }
    const uint8_t* word(int i) const { return m_words.data() + m_start[i]; }
    size_t wordLen(int i) const { return m_len[i]; }

    // The last entry whose first headword lies below key (unsigned byte
    // order), or 0 when there is none. Strictly below, so that a headword
    // equal to key that ends the previous block is not missed.
    int lastBelow(const uint8_t* key, size_t n) const;

    // The order of stored headwords: unsigned bytes, a prefix before the
    // longer text. Negative, 0 or positive as a sorts before, with or after b.
    static int compareKeys(const uint8_t* a, size_t an, const uint8_t* b, size_t bn);

private:
    std::vector<uint32_t> m_phys;
    std::vector<uint32_t> m_start;
    std::vector<uint32_t> m_len;
    std::vector<uint8_t> m_words;
};

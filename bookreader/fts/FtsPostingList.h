// The posting lists of "fts.dat" in its two forms, and the file's header.
//
// Plain form ("FTS4"): u32 key count, then per key u32 n and n ascending
// u32 positions, all little-endian; headings live in the database.
//
// Compact form ("FTS5"): u32 key count, u64 heading count, the heading
// positions as ascending u32 words, then per key: n and the list's byte
// length L as unsigned LEB128 numbers, then L bytes holding n LEB128
// numbers: the first position, then each position's distance from the one
// before. All words little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ftslist {

enum Format { kPlain = 1, kCompact = 2 };

constexpr size_t kPlainHeaderSize = 8;
constexpr size_t kCompactHeaderSize = 16;
// The most bytes of the n and L numbers that lead a compact list.
constexpr size_t kMaxCompactLead = 20;

// The header of a file of the given form ("FTS4" or "FTS5" and its counts).
void putHeader(std::vector<uint8_t>* out, Format format, uint32_t keyCount, uint64_t headingCount);
// The form a file's first bytes name, 0 when neither. For the compact
// form *headingCount is read too (size must hold the whole header).
int formatOf(const uint8_t* head, size_t size, uint64_t* headingCount);

// Appends one list of ascending positions, held in the low halves of
// 64-bit values.
void appendListOfPairs(std::vector<uint8_t>* out, Format format, const uint64_t* pairs, size_t n);

// What leads a list: its position count, and the offset from the list's
// start and byte length of its positions. False when the bytes cannot lead
// a list of that form that fits in `available` bytes.
struct ListHead {
    uint64_t count = 0;
    size_t body = 0;
    uint64_t bodySize = 0;
};
bool readHead(const uint8_t* p, size_t size, uint64_t available, Format format, ListHead* head);
// Decodes the positions of a list body onto *out, stopping after `limit`
// positions or at the first beyond `upTo`. False (and *out as it was) when
// the body is damaged: positions that do not rise, or a count that does not
// match the bytes.
bool decodeBody(const uint8_t* body, const ListHead& head, Format format, size_t limit, uint32_t upTo,
                std::vector<uint32_t>* out);

}  // namespace ftslist

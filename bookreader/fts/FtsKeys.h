// The keys of the full-text index and how a stretch of body text becomes
// keys. A key is one character or two adjacent ones, in the form the index
// keeps characters in: Shift_JIS, narrow full-width letters folded to ASCII,
// ASCII capitals made small, characters the options leave out dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ftskeys {

enum {
    kLettersAndDigits = 1,  // index only letters and digits
    kBlanks = 2             // index blanks too
};

// A key: the Shift_JIS code of its first character in the high half and of
// the second (0 = none) in the low half; one-byte characters stay below 256.
inline uint32_t makeKey(uint32_t first, uint32_t second) {
    return (first << 16) | second;
}
// The key's Shift_JIS bytes, the form the index stores it in.
std::string keyBytes(uint32_t key);
// The key's bytes left-aligned in 64 bits: keys in the order of this number
// are in the byte-wise order of their bytes.
uint64_t keyOrder(uint32_t key);
// The key of a string of Shift_JIS bytes (its first two characters).
uint32_t keyOf(const std::string& sjis);

// The form in which a Shift_JIS character is indexed, or 0 when the options
// leave it out.
uint32_t indexForm(uint32_t sjis, bool narrow, int options);

// Which of `shards` shards a key's positions are gathered in.
inline size_t shardOf(uint32_t key, size_t shards) {
    return static_cast<size_t>((key * 0x9E3779B1u) >> 16) % shards;
}

}  // namespace ftskeys

// The MD5 message digest (RFC 1321). The state lives in an MD5_CTX that the
// caller owns and passes to each call: init, update any number of times,
// then final.
#pragma once

#include <cstdint>

struct MD5_CTX {
    uint32_t countLow;   // bits digested so far, low word
    uint32_t countHigh;  // bits digested so far, high word
    uint32_t state[4];
    uint8_t buffer[64];  // bytes of the block not yet complete
};

class MD5 {
public:
    virtual ~MD5() = default;

    // Empties the context: no bits, the initial state of RFC 1321.
    void init(MD5_CTX* context);
    // Adds length bytes; a length of 0 or less adds nothing.
    void update(MD5_CTX* context, const uint8_t* bytes, int32_t length);
    // Pads, appends the bit count and writes the 16-byte digest. The context
    // is left as it is (not cleared).
    void final(MD5_CTX* context, uint8_t digest[16]);
    // The compression function over one 64-byte block.
    void transform(uint32_t state[4], const uint8_t block[64]);
};

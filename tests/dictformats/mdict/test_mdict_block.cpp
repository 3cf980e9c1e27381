// Decoding of the framed blocks of MDict files, the key-index descrambling,
// and the bounded cache of decoded blocks, on blocks made here.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "dictformats/mdict/CMdictBlockCache.h"
#include "dictformats/mdict/MdictBlock.h"
#include "dictformats/mdict/Ripemd128.h"
#include "foundation/byteorder.h"
#include "tests/common/Bytes.h"

using lftest::Bytes;

namespace {

Bytes frame(uint32_t type, const Bytes& payload, uint32_t checksum) {
    uint8_t head[8];
    byteorder::putBe32(head, type);
    byteorder::putBe32(head + 4, checksum);
    Bytes b(head, head + 8);
    b.reserve(8 + payload.size());
    for (uint8_t c : payload) b.push_back(c);
    return b;
}

uint32_t adler(const Bytes& data) {
    return static_cast<uint32_t>(adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
}

Bytes deflated(const Bytes& data) {
    uLongf n = compressBound(static_cast<uLong>(data.size()));
    Bytes out(n);
    compress(out.data(), &n, data.data(), static_cast<uLong>(data.size()));
    out.resize(n);
    return out;
}

Bytes lzoPacked(const Bytes& data) {
    EXPECT_EQ(LZO_E_OK, lzo_init());
    Bytes out(data.size() + data.size() / 16 + 64 + 3);
    std::vector<unsigned char> work(LZO1X_1_MEM_COMPRESS);
    lzo_uint n = out.size();
    lzo1x_1_compress(data.data(), data.size(), out.data(), &n, work.data());
    out.resize(n);
    return out;
}

}  // namespace

TEST(MdictBlock, DecodesOnlyBlocksOfExactlyTheirStatedSize) {
    Bytes text;
    for (int i = 0; i < 300; ++i) text.push_back(static_cast<uint8_t>("abcabcabd"[i % 9]));
    const uint32_t sum = adler(text);
    const uint64_t size = text.size();
    struct Case {
        const char* what;
        Bytes block;
        uint64_t stated;
        bool ok;
    } cases[] = {
        {"stored", frame(0, text, sum), size, true},
        {"stored with a wrong checksum", frame(0, text, sum ^ 1), size, false},
        {"stored with no checksum", frame(0, text, 0), size, false},
        {"stored, stated larger", frame(0, text, sum), size + 1, false},
        {"stored, stated smaller", frame(0, text, sum), size - 1, false},
        {"zlib", frame(0x02000000, deflated(text), sum), size, true},
        {"zlib with a wrong checksum", frame(0x02000000, deflated(text), sum ^ 1), size, false},
        {"zlib, stated larger (stale bytes)", frame(0x02000000, deflated(text), sum), size + 3, false},
        {"zlib, stated smaller (cut)", frame(0x02000000, deflated(text), sum), size - 3, false},
        {"zlib bomb", frame(0x02000000, deflated(text), sum), 1u << 30, false},
        {"zlib garbage", frame(0x02000000, text, sum), size, false},
        {"lzo", frame(0x01000000, lzoPacked(text), sum), size, true},
        {"lzo with a wrong checksum", frame(0x01000000, lzoPacked(text), sum ^ 1), size, false},
        {"lzo, stated larger", frame(0x01000000, lzoPacked(text), sum), size + 3, false},
        {"lzo, stated smaller", frame(0x01000000, lzoPacked(text), sum), size - 3, false},
        {"lzo garbage", frame(0x01000000, Bytes(20, 0xFF), sum), size, false},
        {"unknown type", frame(0x03000000, text, sum), size, false},
        {"short frame", Bytes(7, 0), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out{1, 2, 3};
        int r = decodeMdictBlock(c.block.data(), c.block.size(), c.stated, &out);
        EXPECT_EQ(c.ok ? 0 : -1, r);
        if (c.ok)
            EXPECT_EQ(text, out);
        else
            EXPECT_TRUE(out.empty());
    }
}

TEST(MdictBlock, DescramblingUndoesTheRealKeyIndexScrambling) {
    // Scramble as writers of real files do: key = RIPEMD-128 of the stored
    // checksum and 95 36 00 00, chaining byte from 0x36.
    Bytes plain;
    for (int i = 0; i < 70; ++i) plain.push_back(static_cast<uint8_t>(i * 7 + 3));
    Bytes block = frame(0x02000000, plain, 0xA1B2C3D4);
    RIPEMD128_CTX ctx;
    uint8_t key[16];
    const uint8_t salt[4] = {0x95, 0x36, 0x00, 0x00};
    ripemd128Init(&ctx);
    ripemd128Update(&ctx, block.data() + 4, 4);
    ripemd128Update(&ctx, salt, 4);
    ripemd128Final(&ctx, key);
    Bytes scrambled = block;
    uint8_t previous = 0x36;
    for (size_t i = 0; i < plain.size(); ++i) {
        uint8_t x = static_cast<uint8_t>(plain[i] ^ previous ^ (i & 0xFF) ^ key[i % 16]);
        scrambled[8 + i] = static_cast<uint8_t>((x >> 4) | (x << 4));
        previous = scrambled[8 + i];
    }
    descrambleMdictKeyInfo(scrambled.data(), scrambled.size());
    EXPECT_EQ(block, scrambled);
}

// The cache keeps the most recently used blocks within its bound, drops the
// least recently used first, never keeps a block larger than the bound, and
// lets a block it dropped live on where the reader still holds it.
TEST(MdictBlockCache, BoundedLeastRecentlyUsedFirst) {
    auto block = [](size_t bytes) {
        auto b = std::make_shared<MDICT_DECODED_BLOCK>();
        b->bytes.assign(bytes, 7);
        return MdictBlockRef(b);
    };
    CMdictBlockCache cache(10000);
    MdictBlockRef held = block(3000);
    cache.put(CMdictBlockCache::kKeyBlock, 0, held);
    cache.put(CMdictBlockCache::kRecordBlock, 0, block(3000));  // same index, other kind
    cache.put(CMdictBlockCache::kKeyBlock, 1, block(3000));
    EXPECT_EQ(3u, cache.size());
    EXPECT_NE(nullptr, cache.find(CMdictBlockCache::kKeyBlock, 0));  // now the most recent
    cache.put(CMdictBlockCache::kKeyBlock, 2, block(3000));        // drops record block 0
    EXPECT_LE(cache.bytes(), 10000u);
    EXPECT_EQ(nullptr, cache.find(CMdictBlockCache::kRecordBlock, 0));
    EXPECT_EQ(held, cache.find(CMdictBlockCache::kKeyBlock, 0));
    EXPECT_NE(nullptr, cache.find(CMdictBlockCache::kKeyBlock, 2));
    cache.put(CMdictBlockCache::kKeyBlock, 3, block(20000));  // larger than the bound
    EXPECT_EQ(nullptr, cache.find(CMdictBlockCache::kKeyBlock, 3));
    EXPECT_LE(cache.bytes(), 10000u);
    cache.put(CMdictBlockCache::kKeyBlock, 2, block(100));  // replaced, not counted twice
    EXPECT_EQ(3u, cache.size());
    cache.clear();
    EXPECT_EQ(0u, cache.size());
    EXPECT_EQ(0u, cache.bytes());
    EXPECT_EQ(3000u, held->bytes.size());
    EXPECT_LE(CMdictBlockCache::kMaxBytes, size_t(8) << 20);
}

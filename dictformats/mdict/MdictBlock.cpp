#include "dictformats/mdict/MdictBlock.h"

#include <lzo/lzo1x.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "dictformats/mdict/Ripemd128.h"
#include "foundation/byteorder.h"

namespace {

const uint32_t kTypeStored = 0x00000000;
const uint32_t kTypeLzo = 0x01000000;
const uint32_t kTypeZlib = 0x02000000;

// The most a payload of n bytes can expand to: deflate stores at most 1032
// bytes per input byte, LZO1X at most 255 plus a little per input byte.
uint64_t zlibLimit(uint64_t n) {
    return n * 1032 + 64;
}
uint64_t lzoLimit(uint64_t n) {
    return n * 256 + 64;
}

struct InflateStream {
    z_stream z;
    bool live = false;
    InflateStream() { std::memset(&z, 0, sizeof z); }
    ~InflateStream() {
        if (live) inflateEnd(&z);
    }
};

// One zlib stream into exactly out.size() bytes: it must end there. adler
// gets the Adler-32 of the output, which inflate keeps as it goes (and checks
// against the stream's own trailer).
int inflateExactly(const uint8_t* data, size_t length, std::vector<uint8_t>* out, uint32_t* adler) {
    InflateStream s;
    if (inflateInit(&s.z) != Z_OK) {
        std::printf("inflate: %s\n", s.z.msg ? s.z.msg : "init failed");
        return -1;
    }
    s.live = true;
    s.z.next_in = const_cast<Bytef*>(data);
    s.z.avail_in = static_cast<uInt>(length);
    s.z.next_out = out->data();
    s.z.avail_out = static_cast<uInt>(out->size());
    int r = inflate(&s.z, Z_FINISH);
    if (r != Z_STREAM_END) {
        if (r != Z_BUF_ERROR || s.z.avail_out != 0) std::printf("inflate: %s\n", s.z.msg ? s.z.msg : zError(r));
        return -1;
    }
    *adler = static_cast<uint32_t>(s.z.adler);
    return s.z.avail_out == 0 ? 0 : -1;
}

}  // namespace

int decodeMdictBlock(const uint8_t* block, size_t size, uint64_t decodedSize, std::vector<uint8_t>* out) {
    out->clear();
    if (size < 8 || decodedSize > kMdictMaxBlockSize) return -1;
    const uint32_t type = byteorder::be32(block);
    const uint32_t checksum = byteorder::be32(block + 4);
    const uint8_t* payload = block + 8;
    const size_t payloadSize = size - 8;
    switch (type) {
        case kTypeStored:
            // Stored bytes carry the same Adler-32 as packed ones: a damaged
            // stored block is refused, not read as other keys or records.
            if (payloadSize != decodedSize ||
                adler32(adler32(0, nullptr, 0), payload, static_cast<uInt>(payloadSize)) != checksum)
                return -1;
            out->assign(payload, payload + payloadSize);
            return 0;
        case kTypeLzo: {
            if (decodedSize > lzoLimit(payloadSize)) return -1;
            static const bool lzoReady = lzo_init() == LZO_E_OK;
            if (!lzoReady) return -1;
            out->resize(static_cast<size_t>(decodedSize));
            lzo_uint outLength = static_cast<lzo_uint>(decodedSize);
            int r = lzo1x_decompress_safe(payload, payloadSize, out->data(), &outLength, nullptr);
            if (r != LZO_E_OK || outLength != decodedSize ||
                lzo_adler32(1, out->data(), static_cast<lzo_uint>(outLength)) != checksum) {
                out->clear();
                return -1;
            }
            return 0;
        }
        case kTypeZlib: {
            if (decodedSize > zlibLimit(payloadSize) || payloadSize > 0xFFFFFFFFu) return -1;
            out->resize(static_cast<size_t>(decodedSize));
            uint32_t adler = 0;
            if (inflateExactly(payload, payloadSize, out, &adler) != 0 || adler != checksum) {
                out->clear();
                return -1;
            }
            return 0;
        }
        default:
            return -1;
    }
}

void descrambleMdictKeyInfo(uint8_t* buffer, size_t size) {
    if (size <= 8) return;
    static const uint8_t kSalt[4] = {0x95, 0x36, 0x00, 0x00};
    RIPEMD128_CTX ctx;
    uint8_t key[16];
    ripemd128Init(&ctx);
    ripemd128Update(&ctx, buffer + 4, 4);
    ripemd128Update(&ctx, kSalt, 4);
    ripemd128Final(&ctx, key);
    uint8_t previous = 0x36;
    for (size_t i = 0; 8 + i < size; ++i) {
        uint8_t b = buffer[8 + i];
        uint8_t x = static_cast<uint8_t>((b >> 4) | (b << 4));
        x = static_cast<uint8_t>(x ^ previous ^ (i & 0xFF) ^ key[i % 16]);
        previous = b;
        buffer[8 + i] = x;
    }
}

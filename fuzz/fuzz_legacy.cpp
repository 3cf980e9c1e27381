// libFuzzer target for the decoders of the legacy storage forms. The first
// byte chooses the form (low two bits: 0 EPWING Huffman V4/V5, 1 Huffman V6,
// 2 S-EBXA START, 3 SSED); the rest is the file. For SSED the rest is a u32
// big-endian length L, L bytes of SSEDINFO catalog, then the bytes of the
// component file "HONMON.DIC". Every block (up to a bound) is decoded.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/storage/CEbxaDecoder.h"
#include "foundation/storage/CHuffmanDecoder.h"
#include "foundation/storage/CSsedDecoder.h"
#include "fuzz/FuzzScratch.h"

namespace {

const int64_t kMaxBlocks = 512;  // blocks decoded per input

FuzzScratch g_scratch("fuzz_legacy");

const std::string& scratchDir() {
    return g_scratch.dir();
}

void huffman(const uint8_t* data, size_t size, int version) {
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return;
    CHuffmanDecoder dec;
    if (CHuffmanDecoder::detect(data, size, static_cast<int64_t>(size)) &&
        dec.open(f, static_cast<int64_t>(size), version) == 0) {
        std::vector<uint8_t> page(kBlockSize);
        for (int64_t p = 0; p < dec.pageCount() && p < kMaxBlocks; ++p) dec.decodePage(p, page.data());
        dec.decodePage(dec.pageCount(), page.data());
    }
    fclose(f);
}

void ebxa(const uint8_t* data, size_t size) {
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return;
    CEbxaDecoder dec;
    if (dec.open(f, static_cast<int64_t>(size)) == 0) {
        std::vector<uint8_t> slice(CEbxaDecoder::SLICE_SIZE), block(kBlockSize);
        for (int64_t b = 1; b <= dec.uncompressedSize() / 2048 && b <= kMaxBlocks; ++b) {
            int64_t j = dec.sliceOfBlock(b);
            if (j >= 0)
                dec.decodeSlice(j, slice.data());
            else
                dec.readRawBlock(b, block.data());
        }
        uint8_t copy[2048] = {0};
        size_t n = size < sizeof copy ? size : sizeof copy;
        for (size_t i = 0; i < n; ++i) copy[i] = data[i];
        CEbxaDecoder::stripIndexRecords(copy);
    }
    fclose(f);
}

void ssed(const uint8_t* data, size_t size) {
    if (size < 4 || scratchDir().empty()) return;
    size_t idxLen = (size_t(data[0]) << 24) | (size_t(data[1]) << 16) | (size_t(data[2]) << 8) | data[3];
    if (idxLen > size - 4) idxLen = size - 4;
    const std::string idx = scratchDir() + "/BOOK.IDX";
    if (!writeScratchFile(idx, data + 4, idxLen) ||
        !writeScratchFile(scratchDir() + "/HONMON.DIC", data + 4 + idxLen, size - 4 - idxLen))
        return;
    FILE* f = fopen(idx.c_str(), "rb");
    if (!f) return;
    CSsedDecoder dec;
    if (dec.open(f, static_cast<int64_t>(idxLen), scratchDir().c_str()) == 0) {
        std::vector<uint8_t> chunk(CSsedDecoder::CHUNK_SIZE), block(kBlockSize);
        int64_t last = 0;
        for (int64_t b = 1; b <= dec.uncompressedSize() / 2048 && b <= kMaxBlocks; ++b) {
            int64_t base = dec.chunkOfBlock(b);
            if (base == 0)
                dec.readLooseBlock(b, block.data());
            else if (base != last)
                dec.decodeChunk(base, chunk.data()), last = base;
        }
    }
    fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    switch (data[0] & 3) {
        case 0:
            huffman(data + 1, size - 1, CHuffmanDecoder::VERSION_4);
            break;
        case 1:
            huffman(data + 1, size - 1, CHuffmanDecoder::VERSION_6);
            break;
        case 2:
            ebxa(data + 1, size - 1);
            break;
        default:
            ssed(data + 1, size - 1);
            break;
    }
    return 0;
}

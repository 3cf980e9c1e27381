// Writes the seed corpus of fuzz_legacy (see fuzz_legacy.cpp for the input
// layout) into the directory given as argument, with the test-side encoders.
#include <cstdio>
#include <string>

#include "tests/common/LegacyEncoders.h"
#include "tests/common/TestDir.h"

using namespace lftest;

namespace {

bool seed(const std::string& dir, const char* name, uint8_t select, const Bytes& body) {
    Bytes b{select};
    b.insert(b.end(), body.begin(), body.end());
    return writeFile(dir + "/" + name, b);
}

Bytes text(uint32_t blocks, unsigned s) {
    Bytes image = makeTextImage(blocks, {{0x00, 2, blocks - 1}});
    fillTextLike(image, 2, blocks, s);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_legacy_corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    HuffmanOptions v4, v6;
    v6.version = 6;
    ok &= seed(dir, "huffman_v4_3_pages", 0, encodeHuffman(text(3, 1), v4));
    ok &= seed(dir, "huffman_v4_18_pages", 0, encodeHuffman(text(18, 2), v4));
    ok &= seed(dir, "huffman_v6_3_pages", 1, encodeHuffman(text(3, 3), v6));
    Bytes random = makeTextImage(3, {{0x00, 2, 2}});
    fillRandom(random, 2, 3, 4);
    ok &= seed(dir, "huffman_v6_raw_pages", 1, encodeHuffman(random, v6));

    Bytes start = makeTextImage(8, {{0x00, 3, 5}, {0x02, 2, 1}}, 0x01);
    fillTextLike(start, 2, 8, 5);
    ok &= seed(dir, "ebxa_odd_start", 2, encodeEbxa(start));
    Bytes even = makeTextImage(5, {{0x00, 2, 4}}, 0x01);
    fillRandom(even, 2, 5, 6);
    ok &= seed(dir, "ebxa_even_start_literals", 2, encodeEbxa(even));

    SsedComponent body;
    body.first = 2;
    body.image.assign(18 * 2048, 0);
    fillTextLike(body.image, 1, 18, 7);
    body.fileName = "HONMON.DIC";
    Bytes idx = encodeSsedInfo("Seed", {body});
    Bytes dic = encodeSsedData(body);
    Bytes ssed{static_cast<uint8_t>(idx.size() >> 24), static_cast<uint8_t>(idx.size() >> 16),
               static_cast<uint8_t>(idx.size() >> 8), static_cast<uint8_t>(idx.size())};
    ssed.insert(ssed.end(), idx.begin(), idx.end());
    ssed.insert(ssed.end(), dic.begin(), dic.end());
    ok &= seed(dir, "ssed_two_chunks", 3, ssed);
    return ok ? 0 : 1;
}

// Writes a generated EPWING book for the EBZip benchmark:
//   bench_make_bench_book DIR MIB
// DIR/CATALOGS (one subbook SUB1) and DIR/SUB1/DATA/HONMON of MIB MiB: block 1
// an index table with one text area, then dictionary-like text (Shift_JIS
// kana and kanji, ASCII words, escape codes, numbers) that deflates to a
// little under half, as book text does. The same arguments always give the same bytes.

#include <sys/stat.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/byteorder.h"

namespace {

struct Lcg {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
};

bool writeAll(const std::string& path, const std::vector<unsigned char>& b) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(b.data(), 1, b.size(), f) == b.size();
    return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s DIR MIB\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    long mib = strtol(argv[2], nullptr, 10);
    if (mib < 1 || mib > 4096) {
        fprintf(stderr, "MIB must be 1 to 4096\n");
        return 2;
    }
    mkdir(dir.c_str(), 0755);
    mkdir((dir + "/SUB1").c_str(), 0755);
    mkdir((dir + "/SUB1/DATA").c_str(), 0755);

    std::vector<unsigned char> cat(2048, 0);
    byteorder::putBe16(&cat[0], 1);  // one subbook
    cat[3] = 1;                      // highest version
    unsigned char* r = &cat[16];
    r[1] = 1;  // version 1
    const unsigned char title[] = {0x24, 0x22, 0x24, 0x24};
    memcpy(r + 2, title, sizeof title);
    memcpy(r + 82, "SUB1    ", 8);
    r[95] = 1;
    if (!writeAll(dir + "/CATALOGS", cat)) return 1;

    const size_t size = size_t(mib) << 20;
    std::vector<unsigned char> b(size, 0);
    byteorder::putBe16(&b[0], 1);  // index table: one record
    b[2] = 1;
    b[16] = 0x00;  // body text from block 2
    byteorder::putBe32(&b[18], 2);
    byteorder::putBe32(&b[22], static_cast<uint32_t>((size - 2048) / 2048));
    b[26] = 1;

    // A vocabulary of a few thousand headwords, then entries made of them.
    Lcg g{42};
    std::vector<std::string> words;
    for (int i = 0; i < 4000; ++i) {
        std::string w;
        int len = 2 + g.next() % 5;
        bool kana = g.next() % 3 != 0;
        for (int k = 0; k < len; ++k) {
            if (kana) {
                w += static_cast<char>(0x82);
                w += static_cast<char>(0x9F + g.next() % 83);  // hiragana
            } else {
                w += static_cast<char>(0x88 + g.next() % 8);  // kanji rows
                w += static_cast<char>(0x40 + g.next() % 60);
            }
        }
        words.push_back(w);
    }
    static const char* const ascii[] = {"noun", "verb", "see", "example", "usage", "adj.", "n.", "v.", "cf."};
    size_t pos = 2048;
    char num[32];
    while (pos < size) {
        std::string e = "\x1f\x41\x01\x00";  // keyword start
        e += words[g.next() % words.size()];
        e += "\x1f\x61\x1f\x0a";  // keyword end, newline
        int parts = 3 + g.next() % 12;
        for (int p = 0; p < parts; ++p) {
            uint32_t k = g.next() % 10;
            if (k < 6)
                e += words[(g.next() % 64) * (g.next() % 62) % words.size()];
            else if (k < 8)
                e += std::string(ascii[g.next() % 9]) + " ";
            else {
                snprintf(num, sizeof num, "%u ", g.next() % 100000);
                e += num;
            }
        }
        e += "\x1f\x0a";
        for (size_t i = 0; i < e.size() && pos < size; ++i) b[pos++] = static_cast<unsigned char>(e[i]);
    }
    if (!writeAll(dir + "/SUB1/DATA/HONMON", b)) return 1;
    return 0;
}

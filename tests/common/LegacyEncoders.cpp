#include "tests/common/LegacyEncoders.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "foundation/book/BookConstants.h"
#include "foundation/byteorder.h"
#include "foundation/pathutil.h"
#include "tests/common/TestDir.h"

namespace lftest {

namespace {

// The `count` values seen most often (ties: smaller value first).
std::vector<uint32_t> mostFrequent(const std::map<uint32_t, size_t>& seen, size_t count) {
    std::vector<std::pair<size_t, uint32_t>> v;
    for (const auto& kv : seen) v.push_back({kv.second, kv.first});
    std::sort(v.begin(), v.end(), [](const std::pair<size_t, uint32_t>& x, const std::pair<size_t, uint32_t>& y) {
        return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
    std::vector<uint32_t> out;
    for (size_t i = 0; i < v.size() && out.size() < count; ++i) out.push_back(v[i].second);
    return out;
}

struct Lcg {
    uint32_t s;
    explicit Lcg(unsigned seed) : s(seed * 2654435761u + 1) {}
    uint32_t next() {
        s = s * 1103515245u + 12345u;
        return s >> 8;
    }
};

}  // namespace

// --- Huffman ---------------------------------------------------------------

std::vector<std::string> huffmanCodes(const std::vector<uint32_t>& freqs) {
    const size_t n = freqs.size();
    std::vector<size_t> leafAt(n);
    std::vector<uint64_t> f(n);
    for (size_t i = 0; i < n; ++i) {
        leafAt[i] = i;
        f[i] = freqs[i];
    }
    // Selection sort, descending; the first largest wins and is exchanged.
    for (size_t i = 0; i + 1 < n; ++i) {
        size_t m = i;
        for (size_t j = i + 1; j < n; ++j)
            if (f[j] > f[m]) m = j;
        std::swap(f[i], f[m]);
        std::swap(leafAt[i], leafAt[m]);
    }
    struct Node {
        uint64_t f;
        long left, right, leaf;
        bool alive;
    };
    std::vector<Node> nodes;
    for (size_t i = 0; i < n; ++i) nodes.push_back({f[i], -1, -1, static_cast<long>(leafAt[i]), true});
    auto takeLeast = [&]() {
        long best = -1;
        for (size_t j = 0; j < nodes.size(); ++j)
            if (nodes[j].alive && (best < 0 || nodes[j].f <= nodes[best].f)) best = static_cast<long>(j);
        nodes[best].alive = false;
        return best;
    };
    for (size_t k = 0; k + 1 < n; ++k) {
        long left = takeLeast();
        long right = takeLeast();
        nodes.push_back({nodes[left].f + nodes[right].f, left, right, -1, true});
    }
    std::vector<std::string> codes(n);
    std::vector<std::pair<long, std::string>> stack{{static_cast<long>(nodes.size() - 1), ""}};
    while (!stack.empty()) {
        auto top = stack.back();
        stack.pop_back();
        const Node& node = nodes[top.first];
        if (node.leaf >= 0) {
            codes[node.leaf] = top.second;
        } else {
            stack.push_back({node.left, top.second + "1"});
            stack.push_back({node.right, top.second + "0"});
        }
    }
    return codes;
}

Bytes encodeHuffman(const Bytes& image, const HuffmanOptions& opt, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return Bytes();
    };
    if (image.empty() || image.size() % kBlockSize != 0) return fail("image is not whole blocks");
    const bool v6 = opt.version == 6;
    const size_t pages = image.size() / kBlockSize;

    // Leaves: V6 quads at 4-byte steps, pairs at 2-byte steps.
    std::map<uint32_t, size_t> quadSeen, pairSeen;
    for (size_t i = 0; i + 4 <= image.size(); i += 4) ++quadSeen[byteorder::be32(&image[i])];
    for (size_t i = 0; i + 2 <= image.size(); i += 2) ++pairSeen[byteorder::be16(&image[i])];
    std::vector<uint32_t> quads = v6 ? mostFrequent(quadSeen, opt.quadLeaves) : std::vector<uint32_t>();
    std::vector<uint32_t> pairs = mostFrequent(pairSeen, v6 ? 1024 : opt.pairLeaves);
    if (v6) {  // exactly 1024 pair leaves, padded with values not used
        std::vector<bool> used(65536);
        for (uint32_t p : pairs) used[p] = true;
        for (uint32_t v = 0; pairs.size() < 1024; ++v)
            if (!used[v]) pairs.push_back(v);
    }
    std::map<uint32_t, size_t> quadLeaf, pairLeaf;
    for (size_t i = 0; i < quads.size(); ++i) quadLeaf[quads[i]] = i;
    for (size_t i = 0; i < pairs.size(); ++i) pairLeaf[pairs[i]] = quads.size() + i;
    const size_t byteBase = quads.size() + pairs.size();
    const size_t eof = byteBase + 256;

    // Tokens of every page, trailing zeros left to the end-of-page code.
    std::vector<std::vector<size_t>> tokens(pages);
    std::vector<size_t> counts(eof + 1, 0);
    for (size_t p = 0; p < pages; ++p) {
        const uint8_t* page = &image[p * kBlockSize];
        size_t end = kBlockSize;
        while (end > 0 && page[end - 1] == 0) --end;
        for (size_t i = 0; i < end;) {
            size_t leaf, len;
            std::map<uint32_t, size_t>::const_iterator it;
            if (i + 4 <= end && (it = quadLeaf.find(byteorder::be32(page + i))) != quadLeaf.end()) {
                leaf = it->second, len = 4;
            } else if (i + 2 <= end && (it = pairLeaf.find(byteorder::be16(page + i))) != pairLeaf.end()) {
                leaf = it->second, len = 2;
            } else {
                leaf = byteBase + page[i], len = 1;
            }
            tokens[p].push_back(leaf);
            ++counts[leaf];
            i += len;
        }
    }
    std::vector<uint32_t> freqs(eof + 1);
    for (size_t i = 0; i < eof; ++i)
        freqs[i] = static_cast<uint32_t>(std::min<size_t>(std::max<size_t>(counts[i], 1), 65535));
    freqs[eof] = 1;
    std::vector<std::string> codes = huffmanCodes(freqs);

    // Page data.
    std::vector<Bytes> data(pages);
    for (size_t p = 0; p < pages; ++p) {
        std::string bits;
        for (size_t t : tokens[p]) bits += codes[t];
        bits += codes[eof];
        Bytes coded((bits.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i] == '1') coded[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
        if (v6) {
            if (coded.size() >= kBlockSize) {
                data[p].push_back(1);
                data[p].insert(data[p].end(), image.begin() + p * kBlockSize, image.begin() + (p + 1) * kBlockSize);
            } else {
                data[p].push_back(0);
                data[p].insert(data[p].end(), coded.begin(), coded.end());
            }
        } else {
            data[p] = coded;
        }
    }

    // Layout: header, page index, frequency table, pages.
    const uint32_t a = v6 ? 48 : 32;
    const size_t groups = (pages + 15) / 16;
    const uint32_t b = static_cast<uint32_t>(36 * groups);
    const uint32_t c = a + b;
    Bytes table;
    for (size_t i = 0; i < quads.size(); ++i) {
        appendBe(table, quads[i], 4);
        appendBe(table, freqs[i], 2);
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
        appendBe(table, pairs[i], 2);
        appendBe(table, freqs[quads.size() + i], 2);
    }
    for (size_t i = 0; i < 256; ++i) appendBe(table, freqs[byteBase + i], 2);
    const uint32_t d = static_cast<uint32_t>(table.size());
    const uint32_t e = c + d;

    Bytes out(e, 0);
    byteorder::putBe32(&out[0], a);
    byteorder::putBe32(&out[4], b);
    byteorder::putBe32(&out[8], c);
    byteorder::putBe32(&out[12], d);
    byteorder::putBe32(&out[16], e);
    std::copy(table.begin(), table.end(), out.begin() + c);
    for (size_t g = 0; g < groups; ++g) {
        const size_t rec = a + 36 * g;  // out grows below: keep the offset, not a pointer
        const uint32_t base = static_cast<uint32_t>(out.size());
        byteorder::putBe32(&out[rec], base);
        for (size_t k = 0; k < 16 && g * 16 + k < pages; ++k) {
            const uint32_t off = static_cast<uint32_t>(out.size()) - base;
            if (off > 65535) return fail("page offset beyond 65535 in a group");
            byteorder::putBe16(&out[rec + 4 + 2 * k], off);
            const Bytes& page = data[g * 16 + k];
            out.insert(out.end(), page.begin(), page.end());
        }
    }
    return out;
}

// --- S-EBXA ---------------------------------------------------------------

Bytes encodeLzssSlice(const uint8_t* in, const EbxaOptions& opt) {
    const size_t n = 4096;
    Bytes out;
    size_t flagAt = 0;
    int item = 8;
    std::unordered_map<uint32_t, std::vector<size_t>> chains;
    auto key = [&](size_t i) { return (static_cast<uint32_t>(in[i]) << 16) | (in[i + 1] << 8) | in[i + 2]; };
    size_t i = 0;
    while (i < n) {
        if (item == 8) {
            flagAt = out.size();
            out.push_back(0);
            item = 0;
        }
        size_t bestLen = 0, bestSrc = 0;
        if (!opt.literalsOnly) {
            if (opt.allowZeroRuns && in[i] == 0) {  // copy from the unwritten, zero ring
                size_t z = 0;
                while (i + z < n && z < 18 && in[i + z] == 0) ++z;
                if (z >= 3) bestLen = z, bestSrc = i;
            }
            if (i + 3 <= n) {
                auto it = chains.find(key(i));
                if (it != chains.end()) {
                    const std::vector<size_t>& c = it->second;
                    size_t tried = 0;
                    for (size_t k = c.size(); k-- > 0 && tried < 128; ++tried) {
                        size_t j = c[k], len = 0;
                        while (len < 18 && i + len < n && in[j + len] == in[i + len]) ++len;
                        if (len > bestLen) bestLen = len, bestSrc = j;
                    }
                }
            }
        }
        size_t step;
        if (bestLen >= 3) {
            uint32_t p = static_cast<uint32_t>((bestSrc + 4096 - 18) % 4096);
            out.push_back(static_cast<uint8_t>(p & 0xFF));
            out.push_back(static_cast<uint8_t>(((p >> 8) << 4) | (bestLen - 3)));
            step = bestLen;
        } else {
            out[flagAt] |= static_cast<uint8_t>(1 << item);
            out.push_back(in[i]);
            step = 1;
        }
        ++item;
        for (size_t k = 0; k < step; ++k, ++i)
            if (i + 3 <= n) chains[key(i)].push_back(i);
    }
    return out;
}

Bytes encodeEbxa(const Bytes& image, const EbxaOptions& opt, std::string* error) {
    auto fail = [&](const char* why) {
        if (error) *error = why;
        return Bytes();
    };
    if (image.size() < kBlockSize || image.size() % kBlockSize != 0) return fail("image is not whole blocks");
    Bytes block1(image.begin(), image.begin() + kBlockSize);
    unsigned count = byteorder::be16(&block1[0]);
    uint32_t t = 0, nText = 0;
    for (unsigned r = 0; r < count; ++r) {
        const uint8_t* rec = &block1[16 + 16 * r];
        if (rec[0] == 0x00) t = byteorder::be32(rec + 2), nText = byteorder::be32(rec + 6);
    }
    if (t < 2 || nText == 0 || static_cast<size_t>(t + nText - 1) * kBlockSize > image.size())
        return fail("no text record");
    const size_t slices = (nText + 1) / 2;
    Bytes table, data;
    for (size_t j = 0; j < slices; ++j) {
        uint8_t slice[4096] = {0};
        size_t from = static_cast<size_t>(t - 1) * kBlockSize + 4096 * j;
        size_t len = std::min<size_t>(4096, static_cast<size_t>(t + nText - 1) * kBlockSize - from);
        memcpy(slice, &image[from], len);
        if (j > 0) appendBe(table, static_cast<uint32_t>(data.size()), 4);
        Bytes z = encodeLzssSlice(slice, opt);
        data.insert(data.end(), z.begin(), z.end());
    }
    const uint32_t tableBlocks =
        std::max<uint32_t>(1, static_cast<uint32_t>((table.size() + kBlockSize - 1) / kBlockSize));
    const uint32_t dataBlocks =
        std::max<uint32_t>(1, static_cast<uint32_t>((data.size() + kBlockSize - 1) / kBlockSize));
    const uint32_t p22 = t, p21 = t + tableBlocks;
    const uint32_t physEnd = p21 + dataBlocks - 1;  // last physical block of the compressed areas
    for (unsigned r = 0; r < count; ++r) {
        const uint8_t* rec = &block1[16 + 16 * r];
        uint32_t start = byteorder::be32(rec + 2);
        if (rec[0] != 0x00 && start >= t && start <= physEnd)
            return fail("compressed data reaches an area after the text");
    }
    if (count + 2 > 127) return fail("index table full");
    uint8_t* r21 = &block1[16 + 16 * count];
    r21[0] = 0x21;
    byteorder::putBe32(r21 + 2, p21);
    byteorder::putBe32(r21 + 6, dataBlocks);
    uint8_t* r22 = &block1[16 + 16 * (count + 1)];
    r22[0] = 0x22;
    byteorder::putBe32(r22 + 2, p22);
    byteorder::putBe32(r22 + 6, tableBlocks);
    byteorder::putBe16(&block1[0], count + 2);

    const size_t textEnd = static_cast<size_t>(t + nText - 1) * kBlockSize;
    Bytes out(std::max<size_t>(static_cast<size_t>(physEnd) * kBlockSize, image.size() > textEnd ? image.size() : 0),
              0);
    std::copy(image.begin(), image.begin() + static_cast<size_t>(t - 1) * kBlockSize, out.begin());
    std::copy(block1.begin(), block1.end(), out.begin());
    std::copy(table.begin(), table.end(), out.begin() + static_cast<size_t>(p22 - 1) * kBlockSize);
    std::copy(data.begin(), data.end(), out.begin() + static_cast<size_t>(p21 - 1) * kBlockSize);
    if (image.size() > textEnd) std::copy(image.begin() + textEnd, image.end(), out.begin() + textEnd);
    return out;
}

// --- SSED -----------------------------------------------------------------

Bytes encodeSsedChunk(const uint8_t* in, size_t n) {
    Bytes out{0, 0, 0, 0, 0};  // unknown word, command count, fill byte 0
    std::unordered_map<uint32_t, std::vector<size_t>> chains;
    auto key = [&](size_t i) { return (static_cast<uint32_t>(in[i]) << 16) | (in[i + 1] << 8) | in[i + 2]; };
    size_t commands = 0;
    for (size_t i = 0; i < n;) {
        const size_t cap = std::min<size_t>(15, n - i - 1);  // keep one byte for the literal
        size_t bestLen = 0, bestDist = 0;
        for (size_t d = 1; d <= 2 && d <= i; ++d) {  // short runs
            size_t len = 0;
            while (len < cap && in[i - d + len] == in[i + len]) ++len;
            if (len > bestLen) bestLen = len, bestDist = d;
        }
        if (i + 3 <= n) {
            auto it = chains.find(key(i));
            if (it != chains.end()) {
                const std::vector<size_t>& c = it->second;
                size_t tried = 0;
                for (size_t k = c.size(); k-- > 0 && tried < 128; ++tried) {
                    size_t j = c[k];
                    if (i - j > 4080) break;
                    size_t len = 0;
                    while (len < cap && in[j + len] == in[i + len]) ++len;
                    if (len > bestLen) bestLen = len, bestDist = i - j;
                }
            }
        }
        const size_t w = bestLen ? (4080 - bestDist) % 4080 : 0;
        out.push_back(static_cast<uint8_t>(w >> 4));
        out.push_back(static_cast<uint8_t>(((w & 0xF) << 4) | bestLen));
        out.push_back(in[i + bestLen]);
        ++commands;
        for (size_t k = 0; k <= bestLen; ++k, ++i)
            if (i + 3 <= n) chains[key(i)].push_back(i);
    }
    byteorder::putBe16(&out[2], static_cast<uint32_t>(commands));
    return out;
}

Bytes encodeSsedData(const SsedComponent& comp) {
    const size_t blocks = comp.image.size() / kBlockSize;
    const size_t chunks = (blocks + 15) / 16;
    Bytes out(0x40 + 4 * chunks, 0);
    memcpy(&out[0], "SSEDDATA", 8);
    byteorder::putBe16(&out[0x16], static_cast<uint32_t>(chunks));
    byteorder::putBe32(&out[0x18], comp.first);
    byteorder::putBe32(&out[0x1C], static_cast<uint32_t>(comp.first + blocks - 1));
    for (size_t c = 0; c < chunks; ++c) {
        byteorder::putBe32(&out[0x40 + 4 * c], static_cast<uint32_t>(out.size()));
        size_t from = c * 32768, len = std::min<size_t>(32768, comp.image.size() - from);
        Bytes z = encodeSsedChunk(&comp.image[from], len);
        out.insert(out.end(), z.begin(), z.end());
    }
    return out;
}

Bytes encodeSsedInfo(const std::string& title, const std::vector<SsedComponent>& comps) {
    Bytes out(128 + 48 * comps.size(), 0);
    memcpy(&out[0], "SSEDINFO", 8);
    size_t tl = std::min<size_t>(title.size(), 64);
    out[12] = static_cast<uint8_t>(tl);
    memcpy(&out[13], title.data(), tl);
    out[0x4D] = static_cast<uint8_t>(comps.size());
    for (size_t i = 0; i < comps.size(); ++i) {
        uint8_t* rec = &out[128 + 48 * i];
        const SsedComponent& c = comps[i];
        rec[2] = c.flag;
        rec[3] = c.type;
        if (!c.image.empty()) {
            byteorder::putBe32(rec + 4, c.first);
            byteorder::putBe32(rec + 8, static_cast<uint32_t>(c.first + c.image.size() / kBlockSize - 1));
        }
        memcpy(rec + 12, c.info, 4);
        size_t nl = std::min<size_t>(c.fileName.size(), 31);
        rec[16] = static_cast<uint8_t>(nl);
        memcpy(rec + 17, c.fileName.data(), nl);
    }
    return out;
}

bool writeSsedBook(const std::string& dir, const std::string& idxName, const std::string& title,
                   const std::vector<SsedComponent>& comps) {
    if (!writeFile(dir + "/" + idxName, encodeSsedInfo(title, comps))) return false;
    for (const SsedComponent& c : comps)
        if (!c.image.empty() && !writeFile(dir + "/" + c.fileName, encodeSsedData(c))) return false;
    return true;
}

// --- Book fixtures ---------------------------------------------------------

Bytes makeTextImage(uint32_t totalBlocks, const std::vector<AreaRecord>& areas, uint8_t charCode) {
    Bytes image(static_cast<size_t>(totalBlocks) * kBlockSize, 0);
    byteorder::putBe16(&image[0], static_cast<uint32_t>(areas.size()));
    image[2] = charCode;
    for (size_t i = 0; i < areas.size(); ++i) {
        uint8_t* rec = &image[16 + 16 * i];
        rec[0] = areas[i].id;
        byteorder::putBe32(rec + 2, areas[i].start);
        byteorder::putBe32(rec + 6, areas[i].blocks);
        rec[10] = 1;
    }
    return image;
}

void fillTextLike(Bytes& image, uint32_t from, uint32_t to, unsigned seed) {
    Lcg rng(seed);
    static const uint8_t words[][6] = {{0x24, 0x22, 0x24, 0x24, 0x24, 0x26}, {0x24, 0x2B, 0x24, 0x2D, 0x24, 0x2F},
                                       {0x30, 0x21, 0x30, 0x22, 0x21, 0x23}, {0x1F, 0x0A, 0x24, 0x4A, 0x24, 0x4B},
                                       {0x25, 0x22, 0x25, 0x24, 0x25, 0x26}, {0x1F, 0x41, 0x00, 0x01, 0x1F, 0x61}};
    for (size_t at = static_cast<size_t>(from - 1) * kBlockSize; at < static_cast<size_t>(to) * kBlockSize;) {
        const uint8_t* w = words[rng.next() % 6];
        for (int k = 0; k < 6 && at < static_cast<size_t>(to) * kBlockSize; ++k) image[at++] = w[k];
        if (rng.next() % 7 == 0 && at + 1 < static_cast<size_t>(to) * kBlockSize) {
            image[at++] = static_cast<uint8_t>(0x30 + rng.next() % 16);
            image[at++] = static_cast<uint8_t>(0x21 + rng.next() % 90);
        }
    }
}

void fillRandom(Bytes& image, uint32_t from, uint32_t to, unsigned seed) {
    Lcg rng(seed);
    for (size_t at = static_cast<size_t>(from - 1) * kBlockSize; at < static_cast<size_t>(to) * kBlockSize; ++at)
        image[at] = static_cast<uint8_t>(rng.next());
}

bool writeEpwingBook(const std::string& dir, const Bytes& textFile, int version, uint8_t code,
                     const std::string& fileName) {
    Bytes cat(kBlockSize, 0);
    byteorder::putBe16(&cat[0], 1);
    byteorder::putBe16(&cat[2], static_cast<uint32_t>(version));
    uint8_t* rec = &cat[16];
    rec[1] = static_cast<uint8_t>(version);
    static const uint8_t title[] = {0x25, 0x46, 0x25, 0x39, 0x25, 0x48};  // テスト in JIS
    memcpy(rec + 2, title, sizeof title);
    memcpy(rec + 82, "TEST    ", 8);
    rec[95] = 1;
    uint8_t* second = &cat[16 + 164];
    std::string name = fileName;
    name.resize(8, ' ');
    memcpy(second + 4, name.data(), 8);
    second[55] = code;
    if (makeDirectories((dir + "/TEST/DATA").c_str()) != 0) return false;
    return writeFile(dir + "/CATALOGS", cat) && writeFile(dir + "/TEST/DATA/" + fileName, textFile);
}

bool writeEbBook(const std::string& dir, const Bytes& startFile) {
    Bytes cat(kBlockSize, 0);
    byteorder::putBe16(&cat[0], 1);
    uint8_t* rec = &cat[16];
    rec[0] = 1;
    static const uint8_t title[] = {0x25, 0x46, 0x25, 0x39, 0x25, 0x48};
    memcpy(rec + 2, title, sizeof title);
    memcpy(rec + 32, "TEST    ", 8);
    if (makeDirectories((dir + "/TEST").c_str()) != 0) return false;
    return writeFile(dir + "/CATALOG", cat) && writeFile(dir + "/TEST/START", startFile);
}

}  // namespace lftest

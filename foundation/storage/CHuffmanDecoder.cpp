#include "foundation/storage/CHuffmanDecoder.h"

#include <dirent.h>
#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <queue>
#include <string>

#include "foundation/storage/legacyio.h"

using legacyio::be16;
using legacyio::be32;

namespace {

enum { KIND_INTERNAL = 0, KIND_BYTE = 1, KIND_PAIR = 2, KIND_QUAD = 4, KIND_EOF = 5 };

// Most catalog bytes looked at: header and two record sets of 12 subbooks.
const size_t kCatalogBytes = 16 + 164 * 24;

std::string dirPart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string namePart(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entry of `dir` whose name equals `name` ignoring case, or "".
std::string findInDir(const std::string& dir, const char* name) {
    std::string found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (strcasecmp(e->d_name, name) == 0) {
                found = dir + "/" + e->d_name;
                break;
            }
        }
        closedir(d);
    }
    return found;
}

// The first `want` bytes of a catalog file, plain or EBZip (as far as the
// file holds them; the rest zero). False when it cannot be read.
bool readCatalogBytes(const std::string& path, uint8_t* out, size_t want) {
    memset(out, 0, want);
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bool ok = false;
    int64_t size = legacyio::fileLength(f);
    uint8_t head[22];
    if (size >= 22 && legacyio::readAt(f, size, 0, head, sizeof head) && memcmp(head, "EBZip", 5) == 0) {
        unsigned level = head[5] & 0x0F;
        uint64_t plain = 0;
        for (int i = 8; i < 14; ++i) plain = (plain << 8) | head[i];
        if (level <= 5 && plain > 0 && plain < 0x10000) {
            // A catalog is a few blocks: its slice index has 2-byte entries.
            size_t slice = static_cast<size_t>(2048) << level;
            size_t slices = static_cast<size_t>((plain + slice - 1) / slice);
            std::vector<uint8_t> index((slices + 1) * 2);
            std::vector<uint8_t> buf(slice), in;
            ok = legacyio::readAt(f, size, 22, index.data(), index.size());
            size_t done = 0;
            for (size_t s = 0; ok && s < slices && done < want; ++s) {
                int64_t from = be16(&index[s * 2]), to = be16(&index[s * 2 + 2]);
                if (to <= from || to > size || static_cast<uint64_t>(to - from) > slice) {
                    ok = false;
                    break;
                }
                in.resize(static_cast<size_t>(to - from));
                if (!legacyio::readAt(f, size, from, in.data(), in.size())) {
                    ok = false;
                    break;
                }
                if (in.size() == slice) {
                    memcpy(buf.data(), in.data(), slice);
                } else {
                    uLongf outLen = static_cast<uLongf>(slice);
                    if (uncompress(buf.data(), &outLen, in.data(), static_cast<uLong>(in.size())) != Z_OK ||
                        outLen != slice) {
                        ok = false;
                        break;
                    }
                }
                size_t n = std::min(want - done, slice);
                memcpy(out + done, buf.data(), n);
                done += n;
            }
        }
    } else if (size > 0) {
        size_t n = static_cast<size_t>(std::min<int64_t>(size, static_cast<int64_t>(want)));
        ok = legacyio::readAt(f, size, 0, out, n);
    }
    fclose(f);
    return ok;
}

// A space- or NUL-padded catalog name field as a string.
std::string fieldName(const uint8_t* p, size_t len) {
    std::string s(reinterpret_cast<const char*>(p), len);
    size_t end = s.find('\0');
    if (end != std::string::npos) s.resize(end);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool sameName(const std::string& file, const std::string& field) {
    if (field.empty()) return false;
    if (strcasecmp(file.c_str(), field.c_str()) == 0) return true;
    size_t dot = file.find('.');
    return dot != std::string::npos && strcasecmp(file.substr(0, dot).c_str(), field.c_str()) == 0;
}

}  // namespace

// Bits of a page, most significant first, read from the file in pieces and
// never past its end.
class CHuffmanDecoder::BitInput {
public:
    BitInput(FILE* file, int64_t limit, int64_t offset)
        : file_(file), limit_(limit), next_(offset), pos_(0), len_(0), bit_(0) {}

    // The next byte, or -1 at the end of the input.
    int byte() {
        if (pos_ == len_ && !refill()) return -1;
        return buf_[pos_++];
    }
    // The next bit, or -1 at the end of the input.
    int bit() {
        if (bit_ == 0) {
            int b = byte();
            if (b < 0) return -1;
            cur_ = static_cast<uint8_t>(b);
            bit_ = 8;
        }
        --bit_;
        return (cur_ >> bit_) & 1;
    }

private:
    bool refill() {
        if (next_ >= limit_) return false;
        size_t n = static_cast<size_t>(std::min<int64_t>(sizeof buf_, limit_ - next_));
        if (!legacyio::readAt(file_, limit_, next_, buf_, n)) return false;
        next_ += static_cast<int64_t>(n);
        pos_ = 0;
        len_ = n;
        return true;
    }

    FILE* file_;
    int64_t limit_, next_;
    size_t pos_, len_;
    int bit_;
    uint8_t cur_ = 0;
    uint8_t buf_[4096];
};

CHuffmanDecoder::CHuffmanDecoder() : file_(nullptr), fileSize_(0), version_(0), header_(), size_(0), root_(0) {}

CHuffmanDecoder::~CHuffmanDecoder() {
    close();
}

void CHuffmanDecoder::close() {
    file_ = nullptr;
    fileSize_ = 0;
    version_ = 0;
    memset(header_, 0, sizeof header_);
    size_ = 0;
    std::vector<Node>().swap(nodes_);
    root_ = 0;
}

bool CHuffmanDecoder::detect(const uint8_t* header, size_t length, int64_t fileSize) {
    if (!header || length < 20 || fileSize < 20) return false;
    uint64_t a = be32(header), b = be32(header + 4), c = be32(header + 8), d = be32(header + 12), e = be32(header + 16);
    if (a + b != c || c + d != e || e > static_cast<uint64_t>(fileSize)) return false;
    // The tables lie after the five header words; the index holds at least
    // one record and the frequency table at least its 256 byte entries.
    return a >= 20 && b >= INDEX_RECORD && b % INDEX_RECORD == 0 && d >= 512;
}

int CHuffmanDecoder::versionForHint(unsigned hint, const char* path) {
    if (hint == 4 || hint == 5) return VERSION_4;
    if (hint != 0) return VERSION_6;
    return path ? catalogVersion(path) : -1;
}

int CHuffmanDecoder::catalogVersion(const char* path) {
    if (!path || !*path) return -1;
    std::string file = namePart(path);
    std::string data = dirPart(path);
    if (strcasecmp(namePart(data).c_str(), "DATA") != 0) return -1;
    std::string subbookDir = dirPart(data);
    std::string subbook = namePart(subbookDir);
    std::string catalog = findInDir(dirPart(subbookDir), "CATALOGS");
    if (catalog.empty()) catalog = findInDir(dirPart(subbookDir), "CATALOGS.ebz");
    if (catalog.empty() || subbook.empty()) return -1;

    uint8_t cat[kCatalogBytes];
    if (!readCatalogBytes(catalog, cat, sizeof cat)) return -1;
    unsigned count = be16(cat);
    if (count < 1 || count > 12) return -1;
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* rec = cat + 16 + 164 * i;
        if (strcasecmp(fieldName(rec + 82, 8).c_str(), subbook.c_str()) != 0) continue;
        if (rec[1] <= 1) return 0;  // a version-1 subbook has no compression codes
        const uint8_t* second = cat + 16 + 164 * (count + i);
        std::string text = second[4] ? fieldName(second + 4, 8) : std::string("HONMON");
        unsigned code;
        if (sameName(file, fieldName(second + 44, 8)))
            code = second[54];
        else if (sameName(file, fieldName(second + 56, 8)))
            code = second[53];
        else if (sameName(file, text))
            code = second[55];
        else
            return 0;  // not a file the catalog marks as compressed
        if (code == 0x11) return VERSION_4;
        if (code == 0x12) return VERSION_6;
        return code == 0 ? 0 : -1;
    }
    return -1;
}

int CHuffmanDecoder::open(FILE* file, int64_t fileSize, int version) {
    close();
    if (!file || (version != VERSION_4 && version != VERSION_6)) return -1;
    uint8_t head[20];
    if (!legacyio::readAt(file, fileSize, 0, head, sizeof head) || !detect(head, sizeof head, fileSize)) return -1;
    for (int i = 0; i < 5; ++i) header_[i] = be32(head + 4 * i);
    const uint32_t a = header_[0], b = header_[1], c = header_[2], d = header_[3];

    // Leaves in file order: V6 four-byte leaves, two-byte leaves, the 256
    // single bytes, then the end-of-page leaf.
    size_t quads = 0, pairs = 0;
    if (version == VERSION_4) {
        pairs = (d - 512) / 4;
    } else {
        if (d < 4096 + 512) return -1;
        quads = (d - 4096 - 512) / 6;
        pairs = 1024;
    }
    size_t leaves = quads + pairs + 256 + 1;
    if (leaves > MAX_LEAVES) return -1;
    std::vector<uint8_t> table(d);
    if (!legacyio::readAt(file, fileSize, c, table.data(), table.size())) return -1;

    std::vector<uint32_t> values(leaves), freqs(leaves);
    std::vector<uint8_t> kinds(leaves);
    size_t n = 0, p = 0;
    for (size_t i = 0; i < quads; ++i, ++n, p += 6) {
        values[n] = be32(&table[p]);
        freqs[n] = be16(&table[p + 4]);
        kinds[n] = KIND_QUAD;
    }
    for (size_t i = 0; i < pairs; ++i, ++n, p += 4) {
        values[n] = be16(&table[p]);
        freqs[n] = be16(&table[p + 2]);
        kinds[n] = KIND_PAIR;
    }
    for (size_t i = 0; i < 256; ++i, ++n, p += 2) {
        values[n] = static_cast<uint32_t>(i);
        freqs[n] = be16(&table[p]);
        kinds[n] = KIND_BYTE;
    }
    values[n] = 0;
    freqs[n] = 1;
    kinds[n] = KIND_EOF;
    for (size_t i = 0; i < n; ++i)
        if (freqs[i] == 0) return -1;
    if (buildTree(values, kinds, freqs) != 0) return -1;

    // Size from the last index record: its pages end at the first zero offset.
    uint32_t groups = b / INDEX_RECORD;
    uint8_t rec[INDEX_RECORD];
    if (!legacyio::readAt(file, fileSize, static_cast<int64_t>(a) + static_cast<int64_t>(groups - 1) * INDEX_RECORD,
                          rec, sizeof rec)) {
        close();
        return -1;
    }
    int pages = GROUP_PAGES;
    for (int k = 1; k < GROUP_PAGES; ++k) {
        if (be16(rec + 4 + 2 * k) == 0) {
            pages = k;
            break;
        }
    }
    size_ = static_cast<int64_t>(groups - 1) * GROUP_PAGES * PAGE_SIZE + static_cast<int64_t>(pages) * PAGE_SIZE;
    file_ = file;
    fileSize_ = fileSize;
    version_ = version;
    return 0;
}

// Rebuilds the tree exactly as the books' encoder did: the leaves are put in
// descending order of frequency by a selection sort (the first largest wins,
// then it is exchanged into place), then the two nodes of least frequency are
// merged until one is left (on ties the one latest in order wins; the first
// taken becomes the child for bit 1). Both steps run in O(n log n).
int CHuffmanDecoder::buildTree(const std::vector<uint32_t>& values, const std::vector<uint8_t>& kinds,
                               const std::vector<uint32_t>& freqs) {
    const size_t n = freqs.size();
    if (n < 2) return -1;
    std::vector<size_t> order(n);  // leaf held at each position
    for (size_t i = 0; i < n; ++i) order[i] = i;

    // Segment tree over positions giving the leftmost largest frequency.
    size_t width = 1;
    while (width < n) width <<= 1;
    std::vector<uint32_t> best(2 * width, UINT32_MAX);  // position, UINT32_MAX = none
    auto better = [&](uint32_t x, uint32_t y) -> uint32_t {
        if (x == UINT32_MAX) return y;
        if (y == UINT32_MAX) return x;
        uint32_t fx = freqs[order[x]], fy = freqs[order[y]];
        if (fx != fy) return fx > fy ? x : y;
        return x < y ? x : y;
    };
    auto update = [&](size_t pos) {
        size_t i = pos + width;
        best[i] = static_cast<uint32_t>(pos);
        for (i >>= 1; i >= 1; i >>= 1) best[i] = better(best[2 * i], best[2 * i + 1]);
    };
    for (size_t i = 0; i < n; ++i) best[width + i] = static_cast<uint32_t>(i);
    for (size_t i = width - 1; i >= 1; --i) best[i] = better(best[2 * i], best[2 * i + 1]);
    auto query = [&](size_t lo) -> uint32_t {  // leftmost largest in lo..n-1
        uint32_t res = UINT32_MAX;
        size_t l = lo + width, r = n - 1 + width + 1;
        uint32_t right = UINT32_MAX;
        while (l < r) {
            if (l & 1) res = better(res, best[l++]);
            if (r & 1) right = better(best[--r], right);
            l >>= 1;
            r >>= 1;
        }
        return better(res, right);
    };
    for (size_t i = 0; i + 1 < n; ++i) {
        uint32_t m = query(i);
        if (m != i) {
            std::swap(order[i], order[m]);
            update(i);
            update(m);
        }
    }

    nodes_.assign(2 * n - 1, Node());
    std::vector<uint64_t> weight(2 * n - 1);
    for (size_t i = 0; i < n; ++i) {
        Node& node = nodes_[i];
        node.left = node.right = 0;
        node.value = values[order[i]];
        node.kind = kinds[order[i]];
        weight[i] = freqs[order[i]];
    }
    // Least weight first; on equal weight the later node first.
    auto later = [&](uint32_t x, uint32_t y) {
        if (weight[x] != weight[y]) return weight[x] > weight[y];
        return x < y;
    };
    std::priority_queue<uint32_t, std::vector<uint32_t>, decltype(later)> queue(later);
    for (size_t i = 0; i < n; ++i) queue.push(static_cast<uint32_t>(i));
    for (size_t next = n; next < 2 * n - 1; ++next) {
        uint32_t left = queue.top();
        queue.pop();
        uint32_t right = queue.top();
        queue.pop();
        Node& node = nodes_[next];
        node.left = left;
        node.right = right;
        node.value = 0;
        node.kind = KIND_INTERNAL;
        weight[next] = weight[left] + weight[right];
        queue.push(static_cast<uint32_t>(next));
    }
    root_ = static_cast<uint32_t>(2 * n - 2);
    return 0;
}

int CHuffmanDecoder::decodePage(int64_t page, uint8_t* out) {
    if (!out) return -1;
    memset(out, 0, PAGE_SIZE);
    if (!file_ || page < 0 || page >= pageCount()) return -1;
    uint8_t rec[INDEX_RECORD];
    int64_t recAt = static_cast<int64_t>(header_[0]) + (page / GROUP_PAGES) * INDEX_RECORD;
    if (!legacyio::readAt(file_, fileSize_, recAt, rec, sizeof rec)) return -1;
    int64_t start = static_cast<int64_t>(be32(rec)) + be16(rec + 4 + 2 * (page % GROUP_PAGES));
    if (start >= fileSize_) return -1;

    BitInput in(file_, fileSize_, start);
    size_t pos = 0;
    if (version_ == VERSION_6) {
        int type = in.byte();
        if (type < 0) return -1;
        if (type != 0) {
            for (; pos < PAGE_SIZE; ++pos) {
                int b = in.byte();
                if (b < 0) {
                    memset(out, 0, PAGE_SIZE);
                    return -1;
                }
                out[pos] = static_cast<uint8_t>(b);
            }
            return 0;
        }
    }
    for (;;) {
        if (version_ == VERSION_6 && pos == PAGE_SIZE) return 0;
        uint32_t node = root_;
        while (nodes_[node].kind == KIND_INTERNAL) {
            int bit = in.bit();
            if (bit < 0) {
                memset(out, 0, PAGE_SIZE);
                return -1;
            }
            node = bit ? nodes_[node].left : nodes_[node].right;
        }
        const Node& leaf = nodes_[node];
        if (leaf.kind == KIND_EOF) return 0;  // the rest of the page stays zero
        if (pos == PAGE_SIZE) {               // V4: a full page must end with EOF
            memset(out, 0, PAGE_SIZE);
            return -1;
        }
        for (int i = leaf.kind - 1; i >= 0 && pos < PAGE_SIZE; --i)
            out[pos++] = static_cast<uint8_t>(leaf.value >> (8 * i));
    }
}

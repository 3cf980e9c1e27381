#include "bookreader/fts/FtsPostingList.h"

#include <algorithm>
#include <cstring>

#include "foundation/byteorder.h"

namespace ftslist {

namespace {

const char kPlainMagic[4] = {'F', 'T', 'S', '4'};
const char kCompactMagic[4] = {'F', 'T', 'S', '5'};

uint8_t* putVarint(uint8_t* p, uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<uint8_t>(v | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<uint8_t>(v);
    return p;
}

size_t varintSize(uint64_t v) {
    size_t n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

// Reads a number of at most 64 bits; 0 bytes when it does not end within size.
size_t getVarint(const uint8_t* p, size_t size, uint64_t* v) {
    uint64_t r = 0;
    for (size_t i = 0; i < size && i < 10; ++i) {
        r |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * i);
        if (!(p[i] & 0x80)) {
            *v = r;
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

void putHeader(std::vector<uint8_t>* out, Format format, uint32_t keyCount, uint64_t headingCount) {
    uint8_t head[kCompactHeaderSize];
    std::memcpy(head, format == kPlain ? kPlainMagic : kCompactMagic, 4);
    byteorder::putLe32(head + 4, keyCount);
    byteorder::putLe32(head + 8, static_cast<uint32_t>(headingCount));
    byteorder::putLe32(head + 12, static_cast<uint32_t>(headingCount >> 32));
    out->insert(out->end(), head, head + (format == kPlain ? kPlainHeaderSize : kCompactHeaderSize));
}

int formatOf(const uint8_t* head, size_t size, uint64_t* headingCount) {
    *headingCount = 0;
    if (size >= kPlainHeaderSize && std::memcmp(head, kPlainMagic, 4) == 0) return kPlain;
    if (size >= kCompactHeaderSize && std::memcmp(head, kCompactMagic, 4) == 0) {
        *headingCount = byteorder::le32(head + 8) | (static_cast<uint64_t>(byteorder::le32(head + 12)) << 32);
        return kCompact;
    }
    return 0;
}

void appendListOfPairs(std::vector<uint8_t>* out, Format format, const uint64_t* pairs, size_t n) {
    auto get = [pairs](size_t i) { return static_cast<uint32_t>(pairs[i]); };
    const size_t at = out->size();
    if (format == kPlain) {
        out->resize(at + 4 + 4 * n);
        uint8_t* p = out->data() + at;
        byteorder::putLe32(p, static_cast<uint32_t>(n));
        for (size_t i = 0; i < n; ++i) byteorder::putLe32(p + 4 + 4 * i, get(i));
        return;
    }
    uint64_t bytes = 0;
    for (size_t i = 0; i < n; ++i) bytes += varintSize(get(i) - (i ? get(i - 1) : 0));
    out->resize(at + varintSize(n) + varintSize(bytes) + static_cast<size_t>(bytes));
    uint8_t* p = putVarint(putVarint(out->data() + at, n), bytes);
    for (size_t i = 0; i < n; ++i) p = putVarint(p, get(i) - (i ? get(i - 1) : 0));
}

bool readHead(const uint8_t* p, size_t size, uint64_t available, Format format, ListHead* head) {
    if (size > available) size = static_cast<size_t>(available);
    if (format == kPlain) {
        if (size < 4) return false;
        head->count = byteorder::le32(p);
        head->body = 4;
        head->bodySize = head->count * 4;
    } else {
        uint64_t count = 0, bytes = 0;
        size_t a = getVarint(p, size, &count);
        size_t b = a ? getVarint(p + a, size - a, &bytes) : 0;
        if (!b) return false;
        head->count = count;
        head->body = a + b;
        head->bodySize = bytes;
        // Every position takes one byte at least and five at most.
        if (count > bytes || bytes > count * 5) return false;
    }
    return head->bodySize <= available - head->body;
}

bool decodeBody(const uint8_t* body, const ListHead& head, Format format, size_t limit, uint32_t upTo,
                std::vector<uint32_t>* out) {
    const size_t at = out->size();
    const uint64_t want = head.count < limit ? head.count : limit;
    // Lists are often appended one after another: room grows by doubling.
    if (out->capacity() < at + want)
        out->reserve(std::max<size_t>(at + static_cast<size_t>(want), 2 * out->capacity()));
    uint64_t previous = 0;
    size_t used = 0;
    for (uint64_t i = 0; i < head.count && i < limit; ++i) {
        uint64_t p;
        if (format == kPlain) {
            p = byteorder::le32(body + 4 * i);
        } else {
            uint64_t delta;
            size_t len = getVarint(body + used, static_cast<size_t>(head.bodySize - used), &delta);
            if (!len || delta > UINT32_MAX) break;
            used += len;
            p = previous + delta;
        }
        if (p > UINT32_MAX || (i && p <= previous)) {  // positions must rise
            out->resize(at);
            return false;
        }
        if (p > upTo) return true;
        out->push_back(static_cast<uint32_t>(p));
        previous = p;
    }
    const bool whole = out->size() - at == head.count;
    if (format == kCompact && ((whole && used != head.bodySize) || (!whole && out->size() - at < want))) {
        out->resize(at);
        return false;
    }
    return true;
}

}  // namespace ftslist

#include "tests/common/PdicWriter.h"

#include <algorithm>

#include "foundation/byteorder.h"

namespace lftest {

namespace {

// BOCU-1 state after a character coded as a difference.
long bocuState(long c) {
    if (c >= 0x3040 && c <= 0x309F) return 0x3070;
    if (c >= 0x4E00 && c <= 0x9FA5) return 0x7711;
    if (c >= 0xAC00 && c <= 0xD7A3) return 0xC1D1;
    return (c / 128) * 128 + 64;
}

// Trail digit (0..242) -> byte: the bytes that are not controls used by
// text (00, 07..0F, 1A, 1B, 20) in ascending order.
uint8_t trailByte(long d) {
    static Bytes table;
    if (table.empty()) {
        for (int b = 1; b < 256; ++b) {
            const bool skip = (b >= 7 && b <= 15) || b == 0x1A || b == 0x1B || b == 0x20;
            if (!skip) table.push_back(static_cast<uint8_t>(b));
        }
    }
    return table.at(static_cast<size_t>(d));
}

}  // namespace

Bytes pdicBocu1(const std::u32string& text) {
    Bytes out;
    long prev = 0x40;
    for (char32_t ch : text) {
        const long c = static_cast<long>(ch);
        if (c <= 0x20) {
            out.push_back(static_cast<uint8_t>(c));
            if (c != 0x20) prev = 0x40;
            continue;
        }
        long d = c - prev;
        prev = bocuState(c);
        if (d >= -64 && d <= 63) {
            out.push_back(static_cast<uint8_t>(0x90 + d));
            continue;
        }
        struct Range {
            long from, to;
            int lead;
            long offset;
            int trails;
        };
        static const Range ranges[] = {
            {64, 10512, 0xD0, 64, 1},    {10513, 187659, 0xFB, 10513, 2},    {187660, 0x7FFFFFFF, 0xFE, 187660, 3},
            {-10513, -65, 0x50, -64, 1}, {-187660, -10514, 0x25, -10513, 2}, {-0x7FFFFFFF, -187661, 0x22, -187660, 3},
        };
        for (const Range& r : ranges) {
            if (d < r.from || d > r.to) continue;
            d -= r.offset;
            Bytes trail;
            for (int k = 0; k < r.trails; ++k) {
                long m = ((d % 243) + 243) % 243;  // floor division
                d = (d - m) / 243;
                trail.push_back(trailByte(m));
            }
            out.push_back(static_cast<uint8_t>(r.lead + d));
            out.insert(out.end(), trail.rbegin(), trail.rend());
            break;
        }
    }
    return out;
}

Bytes pdicSjis(const std::u32string& text) {
    Bytes out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<uint8_t>(c));
            continue;
        }
        switch (c) {
            case U'り':
                out.push_back(0x82);
                out.push_back(0xE8);
                break;
            case U'ん':
                out.push_back(0x82);
                out.push_back(0xF1);
                break;
            case U'ご':
                out.push_back(0x82);
                out.push_back(0xB2);
                break;
            case U'あ':
                out.push_back(0x82);
                out.push_back(0xA0);
                break;
            case U'い':
                out.push_back(0x82);
                out.push_back(0xA2);
                break;
            default:
                out.push_back('?');
                break;
        }
    }
    return out;
}

Bytes buildPdic(const PdicOptions& o, const std::vector<PdicBlock>& blocks, PdicLayout* layout) {
    auto enc = [&](const std::u32string& t) { return o.sjis ? pdicSjis(t) : pdicBocu1(t); };
    const size_t headerSize = o.headerSize ? o.headerSize : (o.major < 6 ? 256 : 1024);
    const size_t bs = o.blockSize ? o.blockSize : (o.major < 6 ? 256 : 1024);
    const bool attrAfter = o.major == 4;
    PdicLayout lay;

    // Logical blocks.
    std::vector<Bytes> logical;
    for (const PdicBlock& b : blocks) {
        const int lw = b.wideLengths ? 4 : 2;
        Bytes bytes(2, 0);
        Bytes prev;
        std::vector<size_t> cursors;
        for (const PdicEntry& e : b.entries) {
            const Bytes stored = enc(e.word);
            size_t c = 0;
            if (!cursors.empty())
                while (c < prev.size() && c < stored.size() && c < 255 && prev[c] == stored[c]) ++c;
            const bool extended = !e.example.empty() || !e.pron.empty() || !e.records.empty();
            int attr = (e.level & 0x0F) | (extended ? 0x10 : 0) | (e.memorise ? 0x20 : 0) | (e.modified ? 0x40 : 0);
            if (e.attrOverride >= 0) attr = e.attrOverride;
            Bytes body = enc(e.meaning);
            if (extended) {
                body.push_back(0);
                if (!e.example.empty()) {
                    body.push_back(0x01);
                    const auto t = enc(e.example);
                    body.insert(body.end(), t.begin(), t.end());
                    body.push_back(0);
                }
                if (!e.pron.empty()) {
                    body.push_back(0x02);
                    const auto t = enc(e.pron);
                    body.insert(body.end(), t.begin(), t.end());
                    body.push_back(0);
                }
                for (const auto& r : e.records) body.insert(body.end(), r.begin(), r.end());
                body.push_back(0x80);
            }
            const size_t rest = stored.size() - c;
            cursors.push_back(bytes.size());
            if (!attrAfter) {
                appendLe(bytes, rest + 1 + body.size(), lw);
                bytes.push_back(static_cast<uint8_t>(c));
                bytes.push_back(static_cast<uint8_t>(attr));
                bytes.insert(bytes.end(), stored.begin() + c, stored.end());
                bytes.push_back(0);
            } else {
                appendLe(bytes, rest + 1 + 1 + body.size(), lw);
                bytes.push_back(static_cast<uint8_t>(c));
                bytes.insert(bytes.end(), stored.begin() + c, stored.end());
                bytes.push_back(0);
                bytes.push_back(static_cast<uint8_t>(attr));
            }
            bytes.insert(bytes.end(), body.begin(), body.end());
            prev = stored;
        }
        appendLe(bytes, 0, lw);
        const size_t count = (bytes.size() + bs - 1) / bs;
        byteorder::putLe16(&bytes[0], count | (b.wideLengths ? 0x8000 : 0));
        bytes.resize(count * bs, 0);
        logical.push_back(bytes);
        lay.entryCursor.push_back(cursors);
    }

    // Physical placement.
    std::vector<int> order = o.physicalOrder;
    if (order.empty())
        for (size_t i = 0; i < blocks.size(); ++i) order.push_back(static_cast<int>(i));
    Bytes data;
    lay.blockPhys.assign(blocks.size(), 0);
    std::vector<size_t> dataPos(blocks.size(), 0);
    for (size_t k = 0; k < order.size(); ++k) {
        if (std::find(o.freeBefore.begin(), o.freeBefore.end(), static_cast<int>(k)) != o.freeBefore.end()) {
            Bytes free(bs, 0);
            byteorder::putLe32(&free[2], 0xFFFFFFFFu);
            data.insert(data.end(), free.begin(), free.end());
        }
        const int lb = order[k];
        lay.blockPhys[lb] = static_cast<uint32_t>(data.size() / bs);
        dataPos[lb] = data.size();
        data.insert(data.end(), logical[lb].begin(), logical[lb].end());
    }

    // Index.
    Bytes index;
    for (size_t i = 0; i < blocks.size(); ++i) {
        appendLe(index, lay.blockPhys[i], o.indexBlkbit ? 4 : 2);
        if (!blocks[i].entries.empty()) {
            const auto w = enc(blocks[i].entries[0].word);
            index.insert(index.end(), w.begin(), w.end());
        }
        index.push_back(0);
    }
    appendLe(index, 0, 4);
    index.resize((index.size() + bs - 1) / bs * bs, 0);

    // Header.
    Bytes file(headerSize, 0);
    const char banner[] = "             =============== Dictionary for PDIC ===============";
    std::copy(banner, banner + sizeof banner - 1, file.begin());
    const auto t = enc(o.title);
    std::copy(t.begin(), t.begin() + std::min<size_t>(t.size(), 40), file.begin() + 100);
    size_t words = 0;
    for (const PdicBlock& b : blocks) words += b.entries.size();
    byteorder::putLe16(&file[140], (o.major << 8) | o.minor);
    byteorder::putLe16(&file[142], o.major < 6 ? 248 : 1024);
    byteorder::putLe16(&file[146], bs);
    byteorder::putLe16(&file[148], index.size() / bs);
    byteorder::putLe16(&file[150], headerSize);
    byteorder::putLe16(&file[154], 0xFFFF);
    byteorder::putLe32(&file[160], words);
    file[164] = 0;
    file[165] = static_cast<uint8_t>(o.dictype >= 0 ? o.dictype : (o.sjis ? 0 : 0x08));
    file[166] = static_cast<uint8_t>(o.attrlen);
    const uint8_t os = static_cast<uint8_t>(o.os >= 0 ? o.os : (o.sjis ? 0 : 0x20));
    const size_t nblock = data.size() / bs;
    if (o.major == 4) {
        file[171] = os;
        byteorder::putLe32(&file[182], o.extheader);
        byteorder::putLe32(&file[186], 0xFFFFFFFFu);
        byteorder::putLe32(&file[190], blocks.size());
        byteorder::putLe32(&file[194], nblock);
        file[198] = static_cast<uint8_t>(o.indexBlkbit);
    } else {
        file[167] = os;
        file[182] = static_cast<uint8_t>(o.indexBlkbit);
        byteorder::putLe32(&file[184], o.extheader);
        byteorder::putLe32(&file[188], 0xFFFFFFFFu);
        byteorder::putLe32(&file[192], blocks.size());
        byteorder::putLe32(&file[196], nblock);
    }
    file.resize(headerSize + o.extheader, 0);
    lay.indexOffset = file.size();
    file.insert(file.end(), index.begin(), index.end());
    lay.dataOffset = file.size();
    file.insert(file.end(), data.begin(), data.end());
    for (size_t i = 0; i < blocks.size(); ++i) lay.blockOffset.push_back(lay.dataOffset + dataPos[i]);
    if (layout) *layout = lay;
    return file;
}

std::vector<PdicBlock> pdicWorkedExampleBlocks() {
    PdicBlock b0;
    PdicEntry apple;
    apple.word = U"apple\tApple";
    apple.meaning = U"りんご";
    PdicEntry apply;
    apply.word = U"apply\tapply";
    apply.meaning = U"適用する";
    apply.example = U"apply for a job";
    apply.pron = U"əplái";
    apply.level = 3;
    b0.entries = {apple, apply};
    PdicBlock b1;
    PdicEntry zoo;
    zoo.word = U"zoo\tzoo";
    zoo.meaning = U"動物園";
    b1.entries = {zoo};
    return {b0, b1};
}

}  // namespace lftest

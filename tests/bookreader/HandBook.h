// Hand-made book files for the reader's byte-level tests: an index table in
// block 1 listing the given areas, and the given bytes at given blocks.
//
//   lftest::HandBook b;
//   b.area(0x00, 2, 1);                       // body text: block 2
//   b.put(2, 0, {0x1F, 0x02, 0x24, 0x22, 0x1F, 0x03});
//   std::string path = b.write(dir.path(), "HONMON");
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "tests/common/TestDir.h"

namespace lftest {

// Big-endian 16-bit codes as bytes.
inline std::vector<uint8_t> codeBytes(std::initializer_list<unsigned> list) {
    std::vector<uint8_t> bytes;
    for (unsigned c : list) {
        bytes.push_back(static_cast<uint8_t>(c >> 8));
        bytes.push_back(static_cast<uint8_t>(c));
    }
    return bytes;
}

class HandBook {
public:
    struct Area {
        uint8_t id;
        uint32_t start, blocks;
        uint8_t info[4];
    };

    // An area of the index table; info: information kind and three style bytes.
    HandBook& area(uint8_t id, uint32_t start, uint32_t blocks, std::initializer_list<uint8_t> info = {}) {
        Area a{id, start, blocks, {0, 0, 0, 0}};
        int i = 0;
        for (uint8_t b : info)
            if (i < 4) a.info[i++] = b;
        m_areas.push_back(a);
        return *this;
    }
    // Header byte 4: the table's index-information handling.
    HandBook& globalAvailability(uint8_t v) {
        m_global = v;
        return *this;
    }
    // Any other byte of the table header (2 book type, 3 protection, 5-7
    // display values).
    HandBook& headerByte(int n, uint8_t v) {
        if (n >= 2 && n < 16) m_header[n] = v;
        return *this;
    }
    // Bytes at block:offset (blocks from 2; the file grows to hold them).
    HandBook& put(uint32_t block, uint32_t offset, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t>& b = m_data[block];
        if (b.size() < 2048) b.resize(2048, 0);
        for (size_t i = 0; i < bytes.size(); ++i) {
            uint32_t at = offset + static_cast<uint32_t>(i);
            std::vector<uint8_t>& target = m_data[block + at / 2048];
            if (target.size() < 2048) target.resize(2048, 0);
            target[at % 2048] = bytes[i];
            if (block + at / 2048 > m_blocks) m_blocks = block + at / 2048;
        }
        return *this;
    }
    // Big-endian 16-bit codes at block:offset.
    HandBook& codes(uint32_t block, uint32_t offset, std::initializer_list<unsigned> list) {
        return put(block, offset, codeBytes(list));
    }
    // The file's bytes: the index table and every block up to the last one
    // written by put (areas may claim more).
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out(static_cast<size_t>(m_blocks < 1 ? 1 : m_blocks) * 2048, 0);
        out[0] = static_cast<uint8_t>(m_areas.size() >> 8);
        out[1] = static_cast<uint8_t>(m_areas.size());
        for (int i = 2; i < 16; ++i) out[i] = m_header[i];
        out[4] = m_global;
        for (size_t i = 0; i < m_areas.size(); ++i) {
            uint8_t* r = &out[16 + 16 * i];
            const Area& a = m_areas[i];
            r[0] = a.id;
            for (int k = 0; k < 4; ++k) {
                r[2 + k] = static_cast<uint8_t>(a.start >> (24 - 8 * k));
                r[6 + k] = static_cast<uint8_t>(a.blocks >> (24 - 8 * k));
                r[10 + k] = a.info[k];
            }
        }
        for (const auto& kv : m_data)
            if (kv.first >= 2 && kv.first <= m_blocks)
                std::copy(kv.second.begin(), kv.second.end(), out.begin() + (kv.first - 1) * 2048);
        return out;
    }
    std::string write(const std::string& dir, const std::string& name) const {
        std::string path = dir + "/" + name;
        writeFile(path, bytes());
        return path;
    }

private:
    std::vector<Area> m_areas;
    std::map<uint32_t, std::vector<uint8_t>> m_data;
    uint32_t m_blocks = 1;
    uint8_t m_global = 0;
    uint8_t m_header[16] = {};
};

}  // namespace lftest

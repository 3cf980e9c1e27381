// A bounded cache of decoded MDict blocks (key blocks with their entry lists,
// record blocks), so that repeated and neighbouring lookups skip reading and
// inflating. Blocks are shared with the reader that holds them loaded; the
// least recently used ones are dropped once the cached bytes pass the bound,
// and a block larger than the bound is never kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

// One entry of a decoded key block.
struct DATA_ITEM {
    uint64_t keyPos;  // decomp_offs of its block + position of its key there
    uint64_t recordOffset;
};

// A decoded block: its bytes and, for a key block, its entries.
struct MDICT_DECODED_BLOCK {
    std::vector<uint8_t> bytes;
    std::vector<DATA_ITEM> entries;
};
typedef std::shared_ptr<const MDICT_DECODED_BLOCK> MdictBlockRef;

class CMdictBlockCache {
public:
    enum Kind { kKeyBlock = 0, kRecordBlock = 1 };
    // The most bytes (decoded bytes plus entry lists) the cache keeps.
    static constexpr size_t kMaxBytes = size_t(8) << 20;

    explicit CMdictBlockCache(size_t maxBytes = kMaxBytes) : m_maxBytes(maxBytes) {}

    // The cached block, made the most recently used; null when not cached.
    MdictBlockRef find(Kind kind, size_t index);
    // Keeps the block (replacing one of the same kind and index), then drops
    // the least recently used blocks until the bound holds.
    void put(Kind kind, size_t index, const MdictBlockRef& block);
    // Drops every block.
    void clear();
    size_t bytes() const { return m_bytes; }
    size_t size() const { return m_items.size(); }

private:
    struct Item {
        uint64_t id;
        MdictBlockRef block;
        size_t bytes;
    };
    static uint64_t idOf(Kind kind, size_t index) { return (static_cast<uint64_t>(index) << 1) | kind; }
    void drop(std::list<Item>::iterator it);

    size_t m_maxBytes;
    size_t m_bytes = 0;
    std::list<Item> m_items;  // most recently used first
    std::unordered_map<uint64_t, std::list<Item>::iterator> m_byId;
};

#include "bookreader/backends/BackendSearch.h"

#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"

namespace backend {

bool beginSearch(CEBReader& reader) {
    reader.setLastText(0, 0);
    if (reader.hits().cancelled()) {
        reader.hits().setExternalResults(0, false);
        return false;
    }
    return true;
}

int hitLimit(const CEBReader& reader, int max) {
    if (reader.hits().hitLimit50()) return CHitStore::kLimit50;
    return max >= 1 ? max : 0;
}

int fullTextLimit(const CEBReader& reader) {
    return hitLimit(reader, reader.hits().maxHits());
}

const std::atomic<uint16_t>* cancelFlag(const CEBReader& reader) {
    return reader.hits().cancelFlag();
}

int endSearch(CEBReader& reader, int n, bool more) {
    if (n < 0) n = 0;
    reader.hits().setExternalResults(n, more);
    return n;
}

void writeItems(CItemList* list, int start, int base, int n) {
    list->resize(start + n);
    for (int i = 0; i < n; ++i) {
        const uint32_t record = static_cast<uint32_t>(base + i);
        list->items()[start + i] = HIT_ITEM{record, 0, record, 0, 1, 0};
    }
}

}  // namespace backend

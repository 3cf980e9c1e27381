// The book reader's full-text search, kept beside the index it uses.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "bookreader/core/CEBReader.h"
#include "bookreader/fts/CEBFTS.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

bool indexDir(const CEBReader& reader, std::string* dir) {
    char d[kPathSize];
    if (pathDirName(reader.path(), d) < 0) return false;
    *dir = *d ? d : ".";
    return true;
}

bool readerCancelled(void* user) {
    return static_cast<CEBReader*>(user)->hits().cancelled();
}

}  // namespace

int CEBReader::searchFullText(const char* query, SearchProgress progress, void* user, int level) {
    const READER_INDEX_INFO* body = isBlockKind(kind()) ? findIndex(0x00) : nullptr;
    std::string dir;
    if (!body || !query || !indexDir(*this, &dir)) return 0;
    const uint32_t textStart = body->start;

    CEBFTS fts;
    fts.setCancelSource(readerCancelled, this);
    if (fts.open((dir + "/fts.db").c_str()) != 0) return 0;
    const int len = static_cast<int>(std::strlen(query));
    std::vector<uint32_t> wide(static_cast<size_t>(len) + 1);
    sjisToWide(wide.data(), query, len);
    // A hit is an entry. A first search is cut at the store's limit: one
    // entry more is asked for, and the store refusing it tells the caller
    // that more exist. A search that raises stored hits needs them all.
    int limit = 0;
    if (level == 0) {
        limit = hits().maxHits();
        if (hits().hitLimit50() && limit > CHitStore::kLimit50) limit = CHitStore::kLimit50;
        if (limit < INT_MAX) ++limit;
    }
    const int n = fts.searchEntries(wide.data(), limit);
    const HIT_ITEM* found = fts.hits();
    for (int i = 0; i < n; ++i) {
        const uint32_t block = found[i].headingBlock + textStart;
        const uint16_t offset = found[i].headingOffset;
        if (addHit(block, offset, block, offset, level, level != 0 ? HIT_RAISE : HIT_ADD) < 0) break;
    }
    if (progress) progress(user, hitCount(), static_cast<int>(body->count), static_cast<int>(body->count));
    fts.close();
    if (level == 0 || !hits().finished()) finishHits(false);
    return hitCount();
}

#include "foundation/book/DictionaryOpeners.h"

#include <atomic>

namespace {

// Indexed by kind - kDictionaryPdic. Set at start-up, read by the catalog.
std::atomic<DictionaryProbe> g_probes[4];

int slotOf(int kind) {
    return (kind >= kDictionaryPdic && kind <= kDictionaryMdict) ? kind - kDictionaryPdic : -1;
}

}  // namespace

void registerDictionaryProbe(int kind, DictionaryProbe probe) {
    int slot = slotOf(kind);
    if (slot >= 0) g_probes[slot].store(probe);
}

DictionaryProbe dictionaryProbe(int kind) {
    int slot = slotOf(kind);
    return slot >= 0 ? g_probes[slot].load() : nullptr;
}

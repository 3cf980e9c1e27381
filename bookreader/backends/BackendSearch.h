// What every dictionary back end (kinds 4 to 7) does around a search: the
// hit limit it asks its reader for, the cancel flag it honours and where its
// result count goes, so that the four kinds behave alike.
#pragma once

#include <atomic>
#include <cstdint>

class CEBReader;
class CItemList;

namespace backend {

// Starts a search: clears the last-decode positions. False when the
// reader's cancel flag is set (the search then ends with 0 hits; the flag
// stays set until resetHits, as for the block searches).
bool beginSearch(CEBReader& reader);
// 50 with the 50-hit option, else max when it is at least 1, else 0 (no
// limit). Full-text searches pass the reader's maxHits.
int hitLimit(const CEBReader& reader, int max);
int fullTextLimit(const CEBReader& reader);
// The reader's cancel flag, polled by the dictionary readers' scans.
const std::atomic<uint16_t>* cancelFlag(const CEBReader& reader);
// Stores a back end's result count in the reader's hit store; returns n.
int endSearch(CEBReader& reader, int n, bool more);

// Writes items start .. start + n - 1 of list for n records about to be
// appended to a family that holds base records: item i names record base + i.
void writeItems(CItemList* list, int start, int base, int n);

}  // namespace backend

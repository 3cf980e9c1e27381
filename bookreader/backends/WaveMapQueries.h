// Two queries on a reader's sound map ("WaveFile.map"), for readers of any
// kind.
#pragma once

#include <cstdint>

class CEBReader;

// 1 when the reader holds WaveFile.map records, else 0.
int waveMapLoaded(const CEBReader& reader);
// Block and offset of the first record whose name equals name exactly: 1;
// 0 (both outputs 0) when there is no map or no such record.
int findWaveMapEntry(const CEBReader& reader, const char* name, uint32_t* block, uint32_t* offset);

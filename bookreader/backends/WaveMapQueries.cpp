#include "bookreader/backends/WaveMapQueries.h"

#include <cstring>

#include "bookreader/core/CEBReader.h"

int waveMapLoaded(const CEBReader& reader) {
    return reader.waveMapCount() > 0 ? 1 : 0;
}

int findWaveMapEntry(const CEBReader& reader, const char* name, uint32_t* block, uint32_t* offset) {
    if (block) *block = 0;
    if (offset) *offset = 0;
    // A name as long as the field or longer matches no entry.
    if (!name || strlen(name) >= sizeof WAVE_MAP_ENTRY::name) return 0;
    const WAVE_MAP_ENTRY* map = reader.waveMap();
    for (int i = 0; i < reader.waveMapCount(); ++i) {
        if (strncmp(map[i].name, name, sizeof map[i].name) != 0) continue;
        if (block) *block = map[i].block;
        if (offset) *offset = map[i].offset;
        return 1;
    }
    return 0;
}

// Reader of a gaiji map file: GAIJIMAP tags whose attributes (mojikyo,
// unicode, ebcode, name, alt) describe one gaiji entry each. The entries go
// to a sink, which owns the table (the gaiji manager).
#pragma once

#include "foundation/book/GaijiState.h"

class CGaijiMapFile {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        // A cleared entry at the end of the table for a GAIJIMAP start tag;
        // a later start tag before its end tag fills the same entry again.
        virtual GAIJI_ITEM& beginEntry() = 0;
        // Makes the entry from beginEntry part of the table.
        virtual void commitEntry() = 0;
        // Keeps n bytes of a name or alternative text; returns the copy.
        virtual const char* keepText(const char* bytes, int n) = 0;
    };

    // Reads the file at path into sink. Returns 0, or -1 when it cannot be
    // opened. Throws "<GAIJIMAP></GAIJIMAP> Miss Match!!(parseGaijiMap)" for
    // an end tag without its start tag, "gaiji map file too
    // large(parseGaijiMap)", and whatever the sink throws.
    static int read(const char* path, Sink& sink);
};

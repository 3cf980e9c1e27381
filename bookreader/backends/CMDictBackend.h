// The MDict back end of a book reader of kind 7: the ".mdx" reader and up to
// two resource files beside it ("stem.mdd", "stem.1.mdd"). Forwards
// searches, renders hits as HTML (UTF-8) with a head block per entry,
// follows one "@@@LINK=" redirection, and writes the images and sounds an
// entry refers to out of the resource files into a folder. Sizes are in
// bytes; a hit index is the index of an MDict record in the item list. Only
// hits of this dictionary (its instance number) are rendered.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictformats/mdict/CMDictReader.h"
#include "foundation/CBoundedText.h"

class CEBReader;
class CItemList;

class CMDictBackend {
public:
    explicit CMDictBackend(CEBReader& reader);
    ~CMDictBackend();
    CMDictBackend(const CMDictBackend&) = delete;
    CMDictBackend& operator=(const CMDictBackend&) = delete;

    // Opens the ".mdx" and the resource files that exist and open; 1, or 0
    // when the ".mdx" does not open (missing resource files do not matter).
    int open(const char* path);
    // Reader 0 is the ".mdx", 1 and 2 the resource files (null when absent).
    CMDictReader* mdictReader(int i) { return i >= 0 && i < 3 ? m_mdict[i].get() : nullptr; }

    // exact: 1 whole key, 0 prefix.
    int search(const char* word, int exact, int maxHits);
    int fullTextSearch(const char* text, MdictProgress progress, void* data);
    int collect(CItemList* list, int start);

    // The hit's key, escaped for the tagged text; its length.
    int hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength);
    // The hit's entry (single) or the run of this dictionary's hits from it
    // on while the output is shorter than the continuation limit; withHead:
    // a head block with the key before each record.
    int renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize, uint32_t* outLength,
                   int single, int withHead);
    // One record without a head.
    int renderRecord(uint64_t recordOffset, char* out, uint32_t outSize, uint32_t* outLength);
    // Writes the resources that the img, a (sound://) and link elements of
    // the NUL-terminated HTML name into directory and rewrites their
    // references (every "/" and "\\" becomes "_", so "/a/b.png" is the file
    // "_a_b.png") to the files; the text keeps its length. A reference is
    // rewritten only when its resource exists. Each file is written under a
    // temporary name and moved to its own, so a link standing at the name is
    // never followed; something already at the name is kept (and the
    // reference still rewritten to it) unless replace is set. Names with a
    // ".." component are refused and, when refused is not null, appended to
    // it as the reference gave them. Returns the number of files written.
    int extractResources(char* html, const char* directory, bool replace = false,
                         std::vector<std::string>* refused = nullptr);
    // The ".mdx" header's Description, null without an ".mdx" reader.
    const char* description() const;
    int information(char* buf, uint32_t size, int crlf);

private:
    // The record text, once redirected by "@@@LINK=", in HTML, appended.
    void appendRecord(CBoundedText& text, const std::string& record);

    CEBReader& m_reader;
    std::unique_ptr<CMDictReader> m_mdict[3];
};

#include "bookreader/backends/CStarDictBackend.h"

#include <cstring>
#include <string>

#include "bookreader/backends/BackendSearch.h"
#include "bookreader/backends/BackendText.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "foundation/CBoundedText.h"

namespace {

// Shown in place of an article that cannot be read (a cut or damaged file).
const char kUnreadable[] = "<p class=\"error\">The article cannot be read: the dictionary file is damaged or incomplete.</p>";

}  // namespace

CStarDictBackend::CStarDictBackend(CEBReader& reader) : m_reader(reader) {}

CStarDictBackend::~CStarDictBackend() = default;

int CStarDictBackend::open(const char* path) {
    if (m_starDict) return 0;
    std::unique_ptr<CStarDictReader> reader(new CStarDictReader);
    if (!reader->open(path)) return 0;
    m_starDict = std::move(reader);
    return 1;
}

int CStarDictBackend::search(const char* word, int exact, int maxHits) {
    if (!m_starDict || !word || !backend::beginSearch(m_reader)) return 0;
    int more = 0;
    int n = m_starDict->search(word, exact, backend::hitLimit(m_reader, maxHits), &more);
    return backend::endSearch(m_reader, n, more != 0);
}

int CStarDictBackend::fullTextSearch(const char* text, STARDICT_PROGRESS progress, void* data) {
    if (!m_starDict || !text || !backend::beginSearch(m_reader)) return 0;
    int more = 0;
    int n = m_starDict->searchText(text, backend::fullTextLimit(m_reader), &more, backend::cancelFlag(m_reader),
                                   progress, data);
    return backend::endSearch(m_reader, n, more != 0);
}

int CStarDictBackend::collect(CItemList* list, int start) {
    if (!m_starDict || !list) return 0;
    const STARDICT_HIT* hits = nullptr;
    uint64_t count = 0;
    if (m_starDict->getResults(&hits, &count) != 0 || count == 0 || count > 0x7FFFFFFF) return 0;
    const int n = static_cast<int>(count);
    backend::writeItems(list, start, list->starDictHitCount(), n);
    list->appendStarDictHits(hits, n);
    m_starDict->clearResults();
    return n;
}

int CStarDictBackend::hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_starDict || !list || !out) return 0;
    const STARDICT_HIT* h = list->starDictHit(hit);
    if (!h || h->instance != m_starDict->instance()) return 0;
    const char* word = m_starDict->idxEntryAt(h->entryOffset);
    if (!word) return 0;
    CBoundedText text(out, outSize);
    backend::appendEscaped(text, word, strlen(word));
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

int CStarDictBackend::renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize,
                                 uint32_t* outLength, int single) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_starDict || !list || !out || outSize == 0) return 0;
    const uint32_t instance = m_starDict->instance();
    CBoundedText text(out, outSize);
    m_cut = false;
    for (int i = hit; i < list->starDictHitCount() && text.length() < limit; ++i) {
        const STARDICT_HIT* h = list->starDictHit(i);
        if (!h || h->instance != instance) break;
        const char* word = nullptr;
        const char* article = nullptr;
        const bool readable = m_starDict->readHit(h, &word, &article) == 0 && article;
        if (!word) break;
        // Both live in the reader's buffers.
        const std::string wordCopy(word);
        const size_t before = text.length();
        if (!text.append("<b><div class=\"head\">") || !backend::appendEscaped(text, wordCopy.data(), wordCopy.size()) ||
            !text.append("</div></b>")) {
            // A head that does not fit is taken back whole.
            text = CBoundedText(out, outSize, before);
            m_cut = true;
            break;
        }
        if (!readable) {
            // An article that cannot be read is shown as such, never as an
            // empty one.
            if (!text.append(kUnreadable)) m_cut = true;
            break;
        }
        if (!m_starDict->renderArticle(reinterpret_cast<const uint8_t*>(article), h->articleSize, text.end(),
                                       text.room() + 1))
            m_cut = true;
        text.grow(strlen(text.end()));
        if (single || m_cut) break;
    }
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

int CStarDictBackend::renderArticle(uint32_t offset, uint32_t size, char* out, uint32_t outSize, uint32_t* outLength) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_starDict || !out || outSize == 0) return 0;
    const char* article = m_starDict->readArticle(offset, size);
    if (!article) {
        CBoundedText text(out, outSize);
        m_cut = !text.append(kUnreadable);
        if (outLength) *outLength = static_cast<uint32_t>(text.length());
        return static_cast<int>(text.length());
    }
    m_cut = !m_starDict->renderArticle(reinterpret_cast<const uint8_t*>(article), size, out, outSize);
    uint32_t n = static_cast<uint32_t>(strlen(out));
    if (outLength) *outLength = n;
    return static_cast<int>(n);
}

int CStarDictBackend::information(char* buf, uint32_t size, int crlf) const {
    if (!m_starDict || !buf || size == 0) return 0;
    m_starDict->formatInfo(buf, size);
    if (!crlf) backend::crOnlyLineEnds(buf);
    return static_cast<int>(strlen(buf));
}

// CEBBook: complex (multi-field) search: the definition, the entries kept in
// the temp file while the sources are read, and the multi-search and
// search-title areas (build step 14).
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "builder/CEBBook.h"
#include "builder/complex/CComplexDef.h"
#include "builder/complex/CComplexTemp.h"
#include "builder/complex/CComplexWriter.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/index/CIndexWriter.h"
#include "foundation/book/CBookFile.h"

void CEBBook::loadComplexDef(const char* path) {
    CComplexDef def;
    def.load(path);
    m_complexDefs = def.definitions();
}

void CEBBook::addComplexEntry(const char* name, int nameLen, const char* key, int keyLen, const char* heading,
                              int headingLen, const BLOCK_POS& pos) {
    if (!m_complexTemp || !m_complexTemp->isOpen() || nameLen <= 0 || keyLen <= 0) return;
    if (!m_complexTemp->add(name, nameLen, key, keyLen, heading, headingLen, pos.block, pos.offset))
        throw std::runtime_error("can't write temp file(cplx)\r\n");
    m_complexCount = m_complexTemp->count();
}

int CEBBook::LoadComplexTemp() {
    m_complexEntries.clear();
    m_complexNames.clear();
    if (!m_complexTemp) return 0;
    std::unordered_map<std::string, uint32_t> names;
    char key[kMaxKeyLen + 2];
    bool ok = m_complexTemp->load([&](const CComplexTemp::Entry& e) {
        if ((m_complexEntries.size() & 0xFFF) == 0) checkAbort();
        // Chosen words, not running text: blanks and symbols stay, as the
        // multi search takes a typed word as it is.
        int kl = normalizeKey(key, e.key, e.keyLen, 0, kMaxKeyLen);
        if (kl <= 0) return;
        std::string name(e.name, static_cast<size_t>(e.nameLen));
        auto found = names.find(name);
        if (found == names.end()) {
            found = names.emplace(name, static_cast<uint32_t>(m_complexNames.size())).first;
            m_complexNames.push_back(name);
        }
        COMPLEX_ENTRY c;
        c.name = found->second;
        c.key = addStringT(key, static_cast<size_t>(kl));
        c.keyLen = static_cast<uint8_t>(kl);
        c.heading = addStringT(e.heading, static_cast<size_t>(e.headingLen));
        c.headingLen = static_cast<uint8_t>(e.headingLen);
        c.bodyPos = static_cast<uint64_t>(e.block) * 2048 + e.offset;
        m_complexEntries.push_back(c);
    });
    if (!ok) throw std::runtime_error("complex temp file damaged(LoadComplexTemp)\r\n");
    return static_cast<int>(m_complexEntries.size());
}

namespace {

// Candidate words in the form of the keys: readers send a picked candidate
// as it stands, without folding it as they fold a typed word, so it must
// equal the key. Groups keep their labels: they only lead to a sub-list.
template <class Normalize>
void toKeyForm(std::vector<COMPLEX_CANDIDATE>* list, Normalize normalize) {
    for (COMPLEX_CANDIDATE& c : *list) {
        if (!c.children.empty()) {
            toKeyForm(&c.children, normalize);
            continue;
        }
        std::string key = normalize(c.label);
        if (!key.empty()) c.label = key;
    }
}

}  // namespace

void CEBBook::writeComplexIndexes() {
    if (m_opt->idx[IDX_COMPLEX] && !m_complexDefs.empty()) {
        message("Complex Index...");
        const size_t mark = stringTUsed();
        LoadComplexTemp();
        GAIJI_CODE_STATE* gaiji = m_gaiji ? m_gaiji->getGaijiMap() : nullptr;
        CIndexWriter index;
        index.setCancelCheck([] { CEBBook::checkAbort(); });
        CComplexWriter writer(&index);
        const CIndexWriter::Layout layout = m_opt->typeCplxKwd ? CIndexWriter::kPlain : CIndexWriter::kComplexGrouped;
        // The book's complex keyword index (build step 13), when written.
        CComplexWriter::Block bookIndex;
        if (INDEX_TABLE_ITEM* a1 = m_bookFile->findEntry(0xA1)) {
            if (a1->start > 0 && a1->stream != nullptr) {
                bookIndex.start = a1->start;
                bookIndex.count = a1->stream->blockCount();
            }
        }
        auto normalize = [this](const std::string& word) {
            char key[kMaxKeyLen + 2];
            int n = normalizeKey(key, word.data(), static_cast<int>(word.size()), 0, kMaxKeyLen);
            return std::string(key, static_cast<size_t>(n > 0 ? n : 0));
        };
        for (COMPLEX_DEF def : m_complexDefs) {
            checkAbort();
            for (COMPLEX_FIELD& f : def.fields) toKeyForm(&f.candidates, normalize);
            // The entries of each field: those whose KEY name the field takes.
            std::vector<std::vector<INDEX_ITEM>> items(def.fields.size());
            for (size_t f = 0; f < def.fields.size(); ++f) {
                if (def.fields[f].bookIndex && bookIndex.count > 0) continue;
                std::vector<char> takes(m_complexNames.size(), 0);
                for (const std::string& n : def.fields[f].names)
                    for (size_t k = 0; k < m_complexNames.size(); ++k)
                        if (m_complexNames[k] == n) takes[k] = 1;
                for (size_t i = 0; i < m_complexEntries.size(); ++i) {
                    const COMPLEX_ENTRY& e = m_complexEntries[i];
                    if (!takes[e.name]) continue;
                    INDEX_ITEM it;
                    std::memset(&it, 0, sizeof it);
                    it.key = e.key;
                    it.keyLen = e.keyLen;
                    it.heading = e.heading;
                    it.headingLen = e.headingLen;
                    it.bodyPos = e.bodyPos;
                    it.order = static_cast<uint32_t>(i);
                    items[f].push_back(it);
                }
                CIndexWriter::sortItems(items[f].data(), items[f].size());
                if (layout == CIndexWriter::kComplexGrouped) CIndexWriter::markGroups(items[f].data(), items[f].size());
            }
            CBlockStream* area = new CBlockStream(m_nextBlock, 1);
            addArea(0xFF, area, true);
            area->setGaijiMap(gaiji);
            writer.writeSearch(area, def, &items, bookIndex, layout, m_opt->omitHeader, m_opt->titleLen);
            endArea(area);
        }
        restoreStringT(mark);
        char line[32];
        std::snprintf(line, sizeof line, "(%d)\r\n", m_complexCount);
        message(line);
    }
    writeComplexTitles();
}

void CEBBook::writeComplexTitles() {
    bool named = false;
    for (const COMPLEX_DEF& d : m_complexDefs) named = named || !d.title.empty();
    if (!named) return;
    CBlockStream* area = new CBlockStream(m_nextBlock, 1);
    addArea(0x16, area, false);
    CComplexWriter::writeTitles(area, m_complexDefs);
    endArea(area);
}

// Anchors, links and record numbers of CEBBook: registered by the markup
// readers while the body text is written, resolved after the last source by
// patching each link's six-byte BCD placeholder.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "builder/CEBBook.h"
#include "builder/index/CIndexWriter.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"

namespace {

// Lines of the build log naming links without an exact anchor; the rest are
// only counted.
const int kMaxLinkReports = 20;

unsigned char foldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Length of a name cut to kMaxNameLen bytes without splitting a character
// or a reference.
int cutName(const char* name, int len) {
    if (name == nullptr || len <= 0) return 0;
    return CIndexWriter::headingCut(name, len, CEBBook::kMaxNameLen);
}

// How a link's file part names a source's file: 3 by its file name or its
// stem, byte for byte; 2 the same with ASCII case ignored; 1 as the
// beginning of its file name (case ignored); 0 not at all. Pages whose
// names differ only in case (index.html, Index.html) stay apart.
int fileMatch(const char* part, size_t partLen, const std::string& name, const std::string& stem) {
    int rank = 0;
    for (const std::string* candidate : {&name, &stem}) {
        if (candidate->size() != partLen) continue;
        if (std::memcmp(candidate->data(), part, partLen) == 0) return 3;
        if (strncasecmp(candidate->data(), part, partLen) == 0) rank = 2;
    }
    if (rank == 0 && partLen > 0 && name.size() > partLen && strncasecmp(name.data(), part, partLen) == 0) rank = 1;
    return rank;
}

void writePosition(CBlockStream* body, const BLOCK_POS& site, uint64_t value) {
    body->seek(site);
    body->writeBcd(value / kBlockSize, 4);
    body->writeBcd(value % kBlockSize, 2);
}

// Shift_JIS text as UTF-8 for the build log.
std::string logText(const char* text, int len) {
    std::string out(static_cast<size_t>(len) * 3 + 1, '\0');
    int n = sjisToUtf8(reinterpret_cast<const unsigned char*>(text), len, &out[0], out.size());
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace

int CEBBook::compareAnchors(int sourceA, const char* a, int lenA, int sourceB, const char* b, int lenB) {
    if (sourceA != sourceB) return sourceA < sourceB ? -1 : 1;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    const int n = std::min(lenA, lenB);
    for (int i = 0; i < n; ++i) {
        // The second byte of a two-byte character is compared as it is: its
        // range overlaps the ASCII letters.
        const bool lead = jclib::isSjisLead(p[i]) && jclib::isSjisLead(q[i]) && p[i] == q[i] && i + 1 < n;
        if (lead) {
            ++i;
            if (p[i] != q[i]) return p[i] < q[i] ? -1 : 1;
            continue;
        }
        unsigned char x = foldAscii(p[i]);
        unsigned char y = foldAscii(q[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (lenA != lenB) return lenA < lenB ? -1 : 1;
    return 0;
}

int CEBBook::addAnchor(const char* name, int length, const BLOCK_POS* pos, int source) {
    const int n = cutName(name, length);
    if (n == 0 || pos == nullptr) return 0;
    if (!m_anchorNames.insert(std::string(name, static_cast<size_t>(n))).second) return 0;
    ANCHOR_ENTRY a{};
    a.name = addStringT(name, static_cast<size_t>(n));
    a.nameLen = static_cast<uint8_t>(n);
    a.position = *pos;
    a.source = source;
    m_anchors.push_back(a);
    m_anchorCount = static_cast<int>(m_anchors.size());
    return 1;
}

int CEBBook::sourceNamed(const char* part, size_t length) const {
    // The last path component: "../guide/intro.html" names intro.html.
    for (size_t i = length; i-- > 0;) {
        if (part[i] == '/' || part[i] == '\\') {
            part += i + 1;
            length -= i + 1;
            break;
        }
    }
    if (length == 0) return -1;
    // The names of the sources, taken once (a book may hold many links).
    while (m_sourceNames.size() < m_sources.size()) {
        char name[kPathSize];
        char stem[kPathSize];
        pathFileName(m_sources[m_sourceNames.size()].path, name, sizeof name);
        pathStem(m_sources[m_sourceNames.size()].path, stem, sizeof stem);
        m_sourceNames.push_back({name, stem});
    }
    int best = -1, bestRank = 0;
    for (size_t i = 0; i < m_sources.size(); ++i) {
        const int rank = fileMatch(part, length, m_sourceNames[i].first, m_sourceNames[i].second);
        if (rank > 0 && rank >= bestRank) {
            best = static_cast<int>(i);
            bestRank = rank;
        }
    }
    return best;
}

void CEBBook::addLink(const char* target, int length, const BLOCK_POS* site, int source, int kind) {
    if (site == nullptr || target == nullptr || length < 0) return;
    const char* anchor = target;
    int anchorLen = length;
    int to = source;
    int page = -1;
    if (kind == LINK_ANCHOR) {
        const char* hash = static_cast<const char*>(std::memchr(target, '#', static_cast<size_t>(length)));
        if (hash != nullptr) {
            const size_t partLen = static_cast<size_t>(hash - target);
            anchor = hash + 1;
            anchorLen = length - static_cast<int>(partLen) - 1;
            const int named = sourceNamed(target, partLen);
            if (named >= 0) to = named;
            // "page.html#" and "#" alone name the top of a page.
            if (anchorLen == 0) page = partLen == 0 ? source : named;
        } else {
            page = sourceNamed(target, static_cast<size_t>(length));
        }
    }
    const int n = cutName(anchor, anchorLen);
    LINK_ENTRY e{};
    e.target = n > 0 ? addStringT(anchor, static_cast<size_t>(n)) : "";
    e.targetLen = static_cast<uint8_t>(n);
    e.site = *site;
    e.source = to;
    e.from = source;
    e.kind = kind;
    e.page = page;
    m_links.push_back(e);
    m_linkCount = static_cast<int>(m_links.size());
}

void CEBBook::resolveLinks(CBlockStream* body) {
    std::stable_sort(m_anchors.begin(), m_anchors.end(), [](const ANCHOR_ENTRY& a, const ANCHOR_ENTRY& b) {
        return compareAnchors(a.source, a.name, a.nameLen, b.source, b.name, b.nameLen) < 0;
    });
    int reported = 0;
    int unreported = 0;
    auto report = [&](const LINK_ENTRY& link, const char* what) {
        if (reported >= kMaxLinkReports) {
            ++unreported;
            return;
        }
        ++reported;
        char file[kPathSize] = "";
        if (link.from >= 0 && static_cast<size_t>(link.from) < m_sources.size())
            pathFileName(m_sources[link.from].path, file, sizeof file);
        std::string line = "Link \"" + logText(link.target, link.targetLen) + "\" in " + file + ": " + what + "\r\n";
        message(line.c_str());
    };

    for (const LINK_ENTRY& link : m_links) {
        checkAbort();
        bool patched = false;
        if (link.kind == LINK_RECORD) {
            std::string digits(link.target, link.targetLen);
            const char* s = digits.c_str();
            char* end = nullptr;
            // Text that does not start with a number names record 0.
            long long n = std::strtoll(s, &end, 10);
            if (end == s) n = 0;
            if (n >= 0 && static_cast<unsigned long long>(n) < m_recordNumbers.size()) {
                // A record that no entry followed has no position.
                const uint32_t entry = m_recordNumbers[static_cast<size_t>(n)];
                if (entry < m_entries.size()) {
                    writePosition(body, link.site, m_entries[entry].bodyPos);
                    patched = true;
                }
            }
            if (!patched) report(link, "no such record");
        } else if (link.kind == LINK_ANCHOR) {
            auto it = std::lower_bound(
                m_anchors.begin(), m_anchors.end(), link, [](const ANCHOR_ENTRY& a, const LINK_ENTRY& l) {
                    return compareAnchors(a.source, a.name, a.nameLen, l.source, l.target, l.targetLen) < 0;
                });
            const bool exact =
                it != m_anchors.end() &&
                compareAnchors(it->source, it->name, it->nameLen, link.source, link.target, link.targetLen) == 0;
            // In an HTML page a target without "#" is always a page; in
            // dictionary markup it is an anchor name first. Only an anchor
            // of the link's name counts: the next name in the order would be
            // an unrelated place.
            const bool html = link.from >= 0 && static_cast<size_t>(link.from) < m_sources.size() &&
                              m_sources[link.from].type == 7;
            if ((html || !exact) && link.page >= 0 && static_cast<size_t>(link.page) < m_sourceStarts.size()) {
                writePosition(body, link.site, positionValue(m_sourceStarts[link.page]));
                patched = true;
            } else if (exact) {
                // Among names equal but for case, the one of the same bytes.
                for (auto k = it;
                     exact && k != m_anchors.end() &&
                     compareAnchors(k->source, k->name, k->nameLen, link.source, link.target, link.targetLen) == 0;
                     ++k) {
                    if (std::memcmp(k->name, link.target, link.targetLen) == 0) {
                        it = k;
                        break;
                    }
                }
                writePosition(body, link.site, positionValue(it->position));
                patched = true;
            } else {
                report(link, "no anchor");
            }
        }
        if (!patched && link.from >= 0 && static_cast<size_t>(link.from) < m_sourceStarts.size())
            writePosition(body, link.site, positionValue(m_sourceStarts[link.from]));
    }
    if (unreported > 0) {
        char line[96];
        std::snprintf(line, sizeof line, "... and %d more links without an exact anchor\r\n", unreported);
        message(line);
    }
}

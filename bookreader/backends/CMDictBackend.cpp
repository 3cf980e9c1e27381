#include "bookreader/backends/CMDictBackend.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bookreader/backends/BackendSearch.h"
#include "bookreader/backends/BackendText.h"
#include "bookreader/core/CEBReader.h"
#include "bookreader/hits/CItemList.h"
#include "foundation/FileHandle.h"
#include "foundation/pathutil.h"

namespace {

const char kLinkMarker[] = "@@@LINK=";
constexpr size_t kMaxLinkTarget = 255;
constexpr size_t kMaxResourceName = 254;

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The target of a "@@@LINK=" marker in text (the marker must be followed by
// at least one character), or "" when there is none.
std::string linkTarget(const std::string& text) {
    const size_t m = sizeof kLinkMarker - 1;
    for (size_t i = 0; i + m < text.size(); ++i) {
        size_t k = 0;
        while (k < m && lowerAscii(text[i + k]) == lowerAscii(kLinkMarker[k])) ++k;
        if (k < m) continue;
        size_t start = i + m, end = start;
        while (end < text.size() && end - start < kMaxLinkTarget && text[end] && text[end] != '\r' && text[end] != '\n')
            ++end;
        return text.substr(start, end - start);
    }
    return std::string();
}

bool startsWith(const char* p, const char* s) {
    return strncmp(p, s, strlen(s)) == 0;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// A resource name that would leave the folder even with its separators
// turned into "_": one with a ".." component, or one that names the folder
// itself.
bool leavesFolder(const std::string& value) {
    if (value == ".") return true;
    for (size_t start = 0; start <= value.size();) {
        size_t end = start;
        while (end < value.size() && !isSeparator(value[end])) ++end;
        if (value.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

enum class WriteResult { Written, Kept, Failed };

// Writes the resource under a temporary name in the folder and moves it to
// its name, so that a link already standing at the name is replaced, never
// written through. Without replace, anything already at the name is kept.
WriteResult writeResource(const std::string& directory, const std::string& file, const uint8_t* data, uint64_t size,
                          bool replace) {
    const std::string path = directory + "/" + file;
    struct stat st;
    if (!replace && lstat(path.c_str(), &st) == 0) return WriteResult::Kept;
    std::string tmp = directory + "/.mdd-XXXXXX";
    const int fd = mkstemp(&tmp[0]);
    if (fd < 0) return WriteResult::Failed;
    bool ok = fchmod(fd, 0644) == 0;
    for (uint64_t done = 0; ok && done < size;) {
        const ssize_t n = write(fd, data + done, static_cast<size_t>(size - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<uint64_t>(n);
    }
    if (close(fd) != 0) ok = false;
    WriteResult result = WriteResult::Failed;
    if (ok && replace) {
        if (rename(tmp.c_str(), path.c_str()) == 0) result = WriteResult::Written;
    } else if (ok) {
        // A hard link never replaces what appeared at the name meanwhile.
        if (link(tmp.c_str(), path.c_str()) == 0) {
            result = WriteResult::Written;
        } else if (errno == EEXIST) {
            result = WriteResult::Kept;
        } else if (lstat(path.c_str(), &st) != 0 && rename(tmp.c_str(), path.c_str()) == 0) {
            result = WriteResult::Written;  // a file system without hard links
        }
    }
    unlink(tmp.c_str());
    return result;
}

}  // namespace

CMDictBackend::CMDictBackend(CEBReader& reader) : m_reader(reader) {}

CMDictBackend::~CMDictBackend() {
    for (auto& m : m_mdict)
        if (m) m->close();
}

int CMDictBackend::open(const char* path) {
    if (m_mdict[0] || !path) return 0;
    std::unique_ptr<CMDictReader> mdx(new CMDictReader);
    if (!mdx->open(path)) return 0;
    const size_t n = strlen(path);
    if (n >= 3) {
        const std::string stem(path, n - 3);
        const std::string names[2] = {
            stem + "mdd", n >= 4 && path[n - 4] == '.' ? std::string(path, n - 4) + ".1.mdd" : stem + "1.mdd"};
        for (int i = 0; i < 2; ++i) {
            if (!fileExists(names[i].c_str())) continue;
            std::unique_ptr<CMDictReader> mdd(new CMDictReader);
            if (mdd->open(names[i].c_str())) m_mdict[i + 1] = std::move(mdd);
        }
    }
    m_mdict[0] = std::move(mdx);
    return 1;
}

int CMDictBackend::search(const char* word, int exact, int maxHits) {
    if (!m_mdict[0] || !word || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_mdict[0]->search(word, exact, backend::hitLimit(m_reader, maxHits), &more);
    return backend::endSearch(m_reader, n, more != 0);
}

int CMDictBackend::fullTextSearch(const char* text, MdictProgress progress, void* data) {
    if (!m_mdict[0] || !text || !backend::beginSearch(m_reader)) return 0;
    uint32_t more = 0;
    int n = m_mdict[0]->searchText(text, backend::fullTextLimit(m_reader), &more, backend::cancelFlag(m_reader),
                                   progress, data);
    return backend::endSearch(m_reader, n, more != 0);
}

int CMDictBackend::collect(CItemList* list, int start) {
    if (!m_mdict[0] || !list) return 0;
    MDICT_HIT* hits = nullptr;
    uint32_t count = 0;
    if (m_mdict[0]->getResults(&hits, &count) != 0 || count == 0 || count > 0x7FFFFFFF) return 0;
    const int n = static_cast<int>(count);
    backend::writeItems(list, start, list->mdictHitCount(), n);
    list->appendMDictHits(hits, n);
    m_mdict[0]->clearResults();
    return n;
}

int CMDictBackend::hitHeadword(const CItemList* list, int hit, char* out, uint32_t outSize, uint32_t* outLength) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_mdict[0] || !list || !out) return 0;
    const MDICT_HIT* h = list->mdictHit(hit);
    if (!h || h->instance != m_mdict[0]->instance()) return 0;
    const char* key = m_mdict[0]->keyText(h->keyPos);
    if (!key) return 0;
    CBoundedText text(out, outSize);
    backend::appendEscaped(text, key, strlen(key));
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

void CMDictBackend::appendRecord(CBoundedText& text, const std::string& record) {
    std::string body = record;
    const std::string target = linkTarget(record);
    uint64_t keyPos = 0, offset = 0;
    if (!target.empty() && m_mdict[0]->findKey(target.c_str(), &keyPos, &offset, 1) >= 0) {
        const char* linked = m_mdict[0]->recordText(offset);
        if (linked) body = linked;
    }
    if (!text.append("<p></p><div>")) return;
    if (text.room() > 0) {
        m_mdict[0]->applyStyleSheet(body.c_str(), static_cast<uint32_t>(body.size()), text.end(),
                                    static_cast<uint32_t>(text.room() + 1));
        text.grow(strlen(text.end()));
    }
    text.append("</div>\n");
}

int CMDictBackend::renderHits(const CItemList* list, int hit, char* out, uint32_t limit, uint32_t outSize,
                              uint32_t* outLength, int single, int withHead) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_mdict[0] || !list || !out || outSize == 0) return 0;
    const uint32_t instance = m_mdict[0]->instance();
    CBoundedText text(out, outSize);
    for (int i = hit; i < list->mdictHitCount() && text.length() < limit && !text.stopped(); ++i) {
        const MDICT_HIT* h = list->mdictHit(i);
        if (!h || h->instance != instance) break;
        char* key = nullptr;
        char* record = nullptr;
        if (m_mdict[0]->readHit(h, &key, &record) != 0) break;
        // Both live in the reader's buffers, which the redirection refills.
        const std::string keyCopy(key), recordCopy(record);
        if (withHead) {
            text.append("<b><div class=\"head\">");
            backend::appendEscaped(text, keyCopy.data(), keyCopy.size());
            text.append("</div></b>");
        }
        appendRecord(text, recordCopy);
        if (single) break;
    }
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

int CMDictBackend::renderRecord(uint64_t recordOffset, char* out, uint32_t outSize, uint32_t* outLength) {
    backend::clearOutput(out, outSize, outLength);
    if (!m_mdict[0] || !out || outSize == 0) return 0;
    const char* record = m_mdict[0]->recordText(recordOffset);
    if (!record) return 0;
    CBoundedText text(out, outSize);
    appendRecord(text, std::string(record));
    if (outLength) *outLength = static_cast<uint32_t>(text.length());
    return static_cast<int>(text.length());
}

int CMDictBackend::extractResources(char* html, const char* directory, bool replace,
                                    std::vector<std::string>* refused) {
    if (!html || !directory || !m_mdict[1]) return 0;
    int written = 0;
    for (char* p = html; *p;) {
        const char* attribute = nullptr;
        const char* prefix = nullptr;  // passed over when the value begins with it
        bool soundOnly = false;
        if (startsWith(p, "<img ")) {
            attribute = "src=";
            prefix = "file://";
        } else if (startsWith(p, "<a ")) {
            attribute = "href=";
            prefix = "sound://";
            soundOnly = true;
        } else if (startsWith(p, "<link ")) {
            attribute = "href=";
        } else {
            ++p;
            continue;
        }
        // The element's attribute, before its ">".
        char* q = p + 1;
        while (*q && *q != '>' && !startsWith(q, attribute)) ++q;
        if (*q != '>' && *q) q += strlen(attribute);
        if (!*q || *q == '>') {
            p = *q ? q + 1 : q;
            continue;
        }
        const char delimiter = (*q == '"' || *q == '\'') ? *q : 0;
        char* value = delimiter ? q + 1 : q;
        if (prefix && startsWith(value, prefix)) {
            value += strlen(prefix);
        } else if (soundOnly) {
            while (*value && *value != '>') ++value;
            p = value;
            continue;
        }
        char* end = value;
        while (*end && (delimiter ? *end != delimiter : !isSpace(*end) && *end != '>')) ++end;
        const std::string raw(value, static_cast<size_t>(end - value));
        p = end;
        if (raw.empty() || raw.size() > kMaxResourceName) continue;
        if (leavesFolder(raw)) {
            if (refused) refused->push_back(raw);
            continue;
        }
        // The stored name begins with a separator; one is added when the
        // reference has none.
        std::string name = isSeparator(raw[0]) ? "" : "\\";
        for (char c : raw) name += isSeparator(c) ? '\\' : c;
        uint64_t size = 0;
        const uint8_t* data = m_mdict[1]->resourceData(name.c_str(), &size);
        if (!data && m_mdict[2]) data = m_mdict[2]->resourceData(name.c_str(), &size);
        if (!data) continue;
        std::string file = raw;
        for (char& c : file)
            if (isSeparator(c)) c = '_';
        const WriteResult result = writeResource(directory, file, data, size, replace);
        if (result == WriteResult::Failed) continue;
        memcpy(value, file.data(), file.size());
        if (result == WriteResult::Written) ++written;
    }
    return written;
}

const char* CMDictBackend::description() const {
    return m_mdict[0] ? m_mdict[0]->description().c_str() : nullptr;
}

int CMDictBackend::information(char* buf, uint32_t size, int crlf) {
    if (!m_mdict[0] || !buf || size == 0) return 0;
    m_mdict[0]->formatInfo(buf, size);
    if (!crlf) backend::crOnlyLineEnds(buf);
    return static_cast<int>(strlen(buf));
}

// HTML pages against the book made of them: see HtmlLinkCheck.h.
#include "tests/common/HtmlLinkCheck.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/common/EbProbe.h"

namespace lftest {

namespace {

// Letters and digits of ASCII text, in order.
std::string alnum(const std::string& text) {
    std::string out;
    for (char c : text)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) out += c;
    return out;
}

// The same of Shift_JIS text: the second byte of a two-byte character is
// no letter.
std::string alnumSjis(const std::string& text) {
    std::string ascii;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i;
            continue;
        }
        if (c < 0x80) ascii += static_cast<char>(c);
    }
    return alnum(ascii);
}

bool startsWithNoCase(const std::string& s, const char* prefix) {
    size_t n = std::strlen(prefix);
    return s.size() >= n && strncasecmp(s.data(), prefix, n) == 0;
}

std::string fileNameOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isMediaTarget(const std::string& href) {
    std::string name = href.substr(0, href.find('#'));
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    for (const char* e : {"wav", "mid", "avi", "mpg", "mpeg", "bmp", "dib", "jpg", "jpeg", "png", "gif"})
        if (strcasecmp(ext.c_str(), e) == 0) return true;
    return false;
}

struct Link {
    std::string href;
    std::string text;  // alnum
};

// One page as the check reads it: its text (alnum), where each id starts in
// it, its links in document order, and its style sheets and scripts.
struct Page {
    std::string name;
    std::string text;
    std::map<std::string, size_t> ids;
    std::vector<Link> links;
    std::vector<std::string> hidden;  // alnum of each style or script
};

std::string attr(xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    if (v == nullptr) return std::string();
    std::string out(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
}

bool hasAttr(xmlNode* n, const char* name) {
    return xmlHasProp(n, reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

std::string contentOf(xmlNode* n) {
    xmlChar* v = xmlNodeGetContent(n);
    if (v == nullptr) return std::string();
    std::string out(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return out;
}

class Walker {
public:
    explicit Walker(Page* page) : m_page(page) {}

    void walk(xmlNode* n, bool inHead) {
        for (; n != nullptr; n = n->next) {
            if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
                if (!inHead || m_inTitle) append(contentOf(n));
                continue;
            }
            if (n->type != XML_ELEMENT_NODE) continue;
            const std::string name = reinterpret_cast<const char*>(n->name);
            if (name == "style" || name == "script" || name == "template") {
                m_page->hidden.push_back(alnum(contentOf(n)));
                continue;
            }
            if (name == "head") {
                walk(n->children, true);
                continue;
            }
            if (inHead && name != "title") continue;
            const std::string id = attr(n, "id");
            if (!id.empty()) m_page->ids.emplace(id, m_page->text.size());
            if (name == "a" && hasAttr(n, "name")) m_page->ids.emplace(attr(n, "name"), m_page->text.size());
            if (name == "li" && !m_ol.empty()) {
                append(std::to_string(m_ol.back()) + ".");
                ++m_ol.back();
            }
            if (name == "img") append(attr(n, "alt"));
            bool reference = false;
            if (name == "a" && m_references == 0) {
                const std::string href = attr(n, "href");
                if (!href.empty() && !isExternal(href) && !isMediaTarget(href)) {
                    reference = true;
                    m_page->links.push_back({href, std::string()});
                }
            }
            if (name == "ol") m_ol.push_back(hasAttr(n, "start") ? std::atoi(attr(n, "start").c_str()) : 1);
            if (name == "title") m_inTitle = true;
            if (reference) ++m_references;
            const size_t before = m_page->text.size();
            const size_t link = reference ? m_page->links.size() - 1 : 0;
            walk(n->children, inHead);
            // The link's text is what its content shows, "alt" texts too.
            if (reference) {
                --m_references;
                m_page->links[link].text = m_page->text.substr(before);
            }
            if (name == "title") m_inTitle = false;
            if (name == "ol") m_ol.pop_back();
        }
    }

private:
    static bool isExternal(const std::string& href) {
        for (const char* p : {"http:", "https:", "ftp:", "mailto:"})
            if (startsWithNoCase(href, p)) return true;
        return false;
    }
    void append(const std::string& text) { m_page->text += alnum(text); }

    Page* m_page;
    bool m_inTitle = false;
    int m_references = 0;
    std::vector<int> m_ol;
};

bool readPage(const std::string& path, Page* page) {
    page->name = fileNameOf(path);
    htmlDocPtr doc = htmlReadFile(path.c_str(), nullptr,
                                  HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER);
    if (doc == nullptr) return false;
    Walker(page).walk(xmlDocGetRootElement(doc), false);
    xmlFreeDoc(doc);
    return true;
}

// Links the build log names ("Link ...") or counts ("... and N more").
int loggedLinks(const std::string& log) {
    int n = 0;
    for (size_t at = log.find("Link \""); at != std::string::npos; at = log.find("Link \"", at + 1)) ++n;
    size_t more = log.find("... and ");
    if (more != std::string::npos) n += std::atoi(log.c_str() + more + 8);
    return n;
}

}  // namespace

std::vector<std::pair<int, int>> pageStarts(EbProbe& probe, size_t count) {
    std::vector<std::pair<int, int>> out;
    int block = 0, offset = 0;
    if (!probe.textStart(0, &block, &offset)) return out;
    const size_t kChunk = 1 << 20;
    long long at = (static_cast<long long>(block) - 1) * 2048 + offset;
    while (out.size() < count) {
        Bytes raw = probe.readText(0, static_cast<int>(at / 2048 + 1), static_cast<int>(at % 2048), kChunk);
        if (raw.size() < 2) break;
        for (size_t i = 0; i + 1 < raw.size() && out.size() < count; i += 2)
            if (raw[i] == 0x1F && raw[i + 1] == 0x02) {
                long long p = at + static_cast<long long>(i);
                out.push_back({static_cast<int>(p / 2048 + 1), static_cast<int>(p % 2048)});
            }
        at += static_cast<long long>(raw.size() & ~static_cast<size_t>(1));
        if (raw.size() < kChunk) break;
    }
    return out;
}

std::string HtmlLinkReport::summary() const {
    std::string s = std::to_string(pages) + " pages, " + std::to_string(links) + " links, " + std::to_string(checked) +
                    " checked (" + std::to_string(pageLinks) + " to whole pages), " + std::to_string(missing) +
                    " to missing targets, " + std::to_string(loggedMissing) + " in the log; " +
                    std::to_string(failures.size()) + " failures";
    for (size_t i = 0; i < failures.size() && i < 30; ++i) s += "\n  " + failures[i];
    return s;
}

bool realFilesRequired() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

HtmlLinkReport checkHtmlLinks(const std::vector<std::string>& paths, const std::string& bookDir,
                              const std::string& log) {
    HtmlLinkReport r;
    std::vector<Page> pages(paths.size());
    std::map<std::string, size_t> byName;
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!readPage(paths[i], &pages[i])) r.failures.push_back("cannot parse " + paths[i]);
        byName.emplace(pages[i].name, i);
    }
    r.pages = static_cast<int>(pages.size());
    EbProbe probe(bookDir);
    if (!probe.ok()) {
        r.failures.push_back("book: " + probe.error());
        return r;
    }
    const auto starts = pageStarts(probe, pages.size());
    if (starts.size() != pages.size()) {
        r.failures.push_back("the book has " + std::to_string(starts.size()) + " texts for " +
                             std::to_string(pages.size()) + " pages");
        return r;
    }
    const size_t kCompare = 16;  // letters and digits compared at each target
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page& page = pages[i];
        const std::string where = page.name + ": ";
        const std::string pageText = alnumSjis(probe.readWholeText(0, starts[i].first, starts[i].second));
        for (const std::string& hidden : page.hidden) {
            const std::string probeText = hidden.substr(0, 24);
            if (probeText.size() >= 12 && pageText.find(probeText) != std::string::npos)
                r.failures.push_back(where + "style or script text in the book: " + probeText);
        }
        const std::vector<EbReference> refs = probe.references(0, starts[i].first, starts[i].second);
        r.links += static_cast<int>(page.links.size());
        if (refs.size() != page.links.size()) {
            r.failures.push_back(where + std::to_string(refs.size()) + " references for " +
                                 std::to_string(page.links.size()) + " links");
            continue;
        }
        for (size_t k = 0; k < refs.size(); ++k) {
            const Link& link = page.links[k];
            const std::string what = where + "link " + std::to_string(k) + " \"" + link.href + "\": ";
            if (alnumSjis(refs[k].text).compare(0, kCompare, link.text, 0, kCompare) != 0) {
                r.failures.push_back(what + "reference text \"" + refs[k].text + "\"");
                continue;
            }
            const size_t hash = link.href.find('#');
            std::string file = link.href.substr(0, hash);
            file = fileNameOf(file.substr(0, file.find('?')));
            const std::string id = hash == std::string::npos ? std::string() : link.href.substr(hash + 1);
            size_t target = i;
            if (!file.empty()) {
                auto it = byName.find(file);
                if (it == byName.end()) {
                    ++r.missing;
                    continue;
                }
                target = it->second;
            }
            size_t from = 0;
            if (!id.empty()) {
                auto it = pages[target].ids.find(id);
                if (it == pages[target].ids.end()) {
                    ++r.missing;
                    continue;
                }
                from = it->second;
            } else {
                ++r.pageLinks;
            }
            const std::string expected = pages[target].text.substr(from, kCompare);
            const std::string got = alnumSjis(probe.readWholeText(0, refs[k].block, refs[k].offset, 1024));
            ++r.checked;
            if (got.compare(0, expected.size(), expected) != 0)
                r.failures.push_back(what + "leads to \"" + got.substr(0, kCompare) + "\", not \"" + expected + "\"");
        }
    }
    r.loggedMissing = loggedLinks(log);
    if (r.loggedMissing != r.missing)
        r.failures.push_back("the log names " + std::to_string(r.loggedMissing) + " links for " +
                             std::to_string(r.missing) + " links to missing targets");
    return r;
}

}  // namespace lftest

#include "tests/common/StarDictPeers.h"

#include <cstdlib>

#include "foundation/codes/jclib.h"
#include "tests/common/TestDir.h"

namespace lftest {

namespace {

std::string xmlUnescape(const std::string& s) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        bool done = false;
        for (const auto& e : kEntities) {
            const std::string name = e.first;
            if (s.compare(i, name.size(), name) == 0) {
                out += e.second;
                i += name.size();
                done = true;
                break;
            }
        }
        if (!done) out += s[i++];
    }
    return out;
}

// The JSON string starting at s[i] (its opening quote); i ends after it.
std::string jsonString(const std::string& s, size_t& i) {
    std::string out;
    for (++i; i < s.size() && s[i] != '"'; ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                unsigned cp = static_cast<unsigned>(std::strtoul(s.substr(i + 1, 4).c_str(), nullptr, 16));
                i += 4;
                if (cp >= 0xD800 && cp < 0xDC00 && s.compare(i + 1, 2, "\\u") == 0) {
                    unsigned lo = static_cast<unsigned>(std::strtoul(s.substr(i + 3, 4).c_str(), nullptr, 16));
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    i += 6;
                }
                char utf8[4];
                const uint32_t wide = cp;
                out.append(utf8, static_cast<size_t>(wideToUtf8(&wide, 1, utf8)));
                break;
            }
            default:
                out += c;
        }
    }
    ++i;
    return out;
}

}  // namespace

std::string starDictTool(const char* name) {
    return std::string("/usr/lib/stardict-tools/") + name;
}

bool starDictBin2Text(const std::string& ifoPath, const std::string& scratchDir, std::vector<PeerArticle>* out) {
    const std::string xmlPath = scratchDir + "/bin2text.xml";
    if (runCommand(shellQuote(starDictTool("stardict-bin2text")) + " " + shellQuote(ifoPath) + " " +
                   shellQuote(xmlPath) + " >/dev/null 2>&1") != 0)
        return false;
    const std::vector<unsigned char> bytes = readFile(xmlPath);
    const std::string xml(bytes.begin(), bytes.end());
    out->clear();
    for (size_t at = xml.find("<article>"); at != std::string::npos; at = xml.find("<article>", at + 1)) {
        const size_t end = xml.find("</article>", at);
        if (end == std::string::npos) return false;
        PeerArticle a;
        const size_t k = xml.find("<key>", at), ke = xml.find("</key>", at);
        a.word = xmlUnescape(xml.substr(k + 5, ke - k - 5));
        for (size_t d = xml.find("<definition type=\"", at); d < end; d = xml.find("<definition type=\"", d + 1)) {
            const size_t c = xml.find("<![CDATA[", d), ce = xml.find("]]>", c);
            a.fields.push_back({xml[d + 18], xml.substr(c + 9, ce - c - 9)});
        }
        out->push_back(a);
    }
    return true;
}

bool starDictText2Bin(const std::string& xml, const std::string& dir, const std::string& stem) {
    const std::string src = dir + "/" + stem + ".xml";
    return writeFile(src, xml) && runCommand(shellQuote(starDictTool("stardict-text2bin")) + " " + shellQuote(src) +
                                             " " + shellQuote(dir + "/" + stem + ".ifo") + " >/dev/null 2>&1") == 0;
}

bool starDictTabfile(const std::string& lines, const std::string& dir, const std::string& stem) {
    const std::string src = dir + "/" + stem + ".txt";
    return writeFile(src, lines) &&
           runCommand(shellQuote(starDictTool("tabfile")) + " " + shellQuote(src) + " >/dev/null 2>&1") == 0;
}

bool sdcvLookup(const std::string& dataDir, const std::vector<std::string>& queries,
                std::vector<std::vector<SdcvHit>>* out) {
    std::string command = "HOME=" + shellQuote(dataDir) + " sdcv -n -x -e -j --data-dir " + shellQuote(dataDir);
    for (const std::string& q : queries) command += " " + shellQuote(q);
    std::string text;
    if (runCommand(command + " 2>/dev/null", &text) != 0) return false;
    out->clear();
    size_t line = 0;
    while (line < text.size() && out->size() < queries.size()) {
        size_t end = text.find('\n', line);
        if (end == std::string::npos) end = text.size();
        const std::string json = text.substr(line, end - line);
        std::vector<SdcvHit> hits;
        for (size_t i = 0; i < json.size(); ++i) {
            if (json.compare(i, 8, "\"word\":\"") == 0) {
                i += 7;
                hits.push_back(SdcvHit{jsonString(json, i), std::string()});
            } else if (json.compare(i, 14, "\"definition\":\"") == 0 && !hits.empty()) {
                i += 13;
                hits.back().definition = jsonString(json, i);
            }
            if (i >= json.size()) break;
        }
        out->push_back(hits);
        line = end + 1;
    }
    return out->size() == queries.size();
}

}  // namespace lftest

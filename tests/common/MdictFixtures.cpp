#include "tests/common/MdictFixtures.h"

#include <unistd.h>

#include <memory>
#include <sstream>

#include "dictformats/mdict/CMDictReader.h"
#include "tests/common/TestDir.h"

namespace lftest {

namespace {

std::string fromHex(const std::string& hex) {
    std::string out;
    if (hex == "~") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

}  // namespace

std::string mdictPython() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

std::string mdictFixture(const std::string& name) {
    static std::unique_ptr<TestDir> dir;
    static bool made = false;
    if (!dir) {
        dir.reset(new TestDir);
        std::string out;
        made =
            runCommand(mdictPython() + " " +
                           shellQuote(std::string(LF_SOURCE_DIR) + "/tests/dictformats/mdict/make_mdict_fixtures.py") +
                           " " + shellQuote(dir->path()) + " 2>&1",
                       &out) == 0;
    }
    return made ? dir->file(name) : std::string();
}

std::vector<std::string> mdictHitKeys(CMDictReader& r) {
    std::vector<std::string> keys;
    MDICT_HIT* hits = nullptr;
    uint32_t count = 0;
    if (r.getResults(&hits, &count) != 0) return keys;
    for (uint32_t i = 0; i < count; ++i) {
        const char* key = r.keyText(hits[i].keyPos);
        keys.push_back(key ? key : "(null)");
    }
    return keys;
}

MdictPeerView mdictPeerRead(const std::string& path, const std::vector<std::string>& prefixQueries) {
    MdictPeerView view;
    const std::string js = std::string(LF_SOURCE_DIR) + "/tests/dictformats/mdict/js";
    if (access((js + "/node_modules/js-mdict").c_str(), R_OK) != 0) {
        view.error = "js-mdict is not installed: run scripts/setup.sh";
        return view;
    }
    std::string cmd = "node " + shellQuote(js + "/dump.mjs") + " " + shellQuote(path);
    for (const std::string& q : prefixQueries) cmd += " " + shellQuote(q);
    std::string out;
    if (runCommand(cmd + " 2>&1", &out) != 0) {
        view.error = "js-mdict failed: " + out;
        return view;
    }
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind, a, b;
        words >> kind >> a;
        if (kind == "K" || kind == "R") {
            words >> b;
            std::string text = b == "-" ? "-" : fromHex(b);
            if (kind == "K" && !text.empty() && text.back() == '\0') text.pop_back();
            view.entries.emplace_back(fromHex(a), text);
        } else if (kind == "P") {
            std::vector<std::string>& keys = view.prefix[fromHex(a)];
            while (words >> b) keys.push_back(fromHex(b));
        }
    }
    view.ok = true;
    return view;
}

}  // namespace lftest

// MDict fixtures and the independent reader they are checked with.
// The fixtures are written once per test program by
// tests/dictformats/mdict/make_mdict_fixtures.py into a temporary folder; the
// peer is the npm package js-mdict, run by Node.js through
// tests/dictformats/mdict/js/dump.mjs.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace lftest {

// Path of a fixture by file name (the folder is made on first use; empty when
// the generator failed).
std::string mdictFixture(const std::string& name);
// The Python that runs the generator (the system one, which has python3-lzo).
std::string mdictPython();

// What js-mdict reads from a file: each key with its record text (.mdx, the
// trailing 0 dropped) or resource bytes (.mdd), in its order, and the keys
// its prefix search gives for each query.
struct MdictPeerView {
    bool ok = false;
    std::string error;
    std::vector<std::pair<std::string, std::string>> entries;  // key, text or bytes ("-" none)
    std::map<std::string, std::vector<std::string>> prefix;
};
MdictPeerView mdictPeerRead(const std::string& path, const std::vector<std::string>& prefixQueries = {});

}  // namespace lftest

class CMDictReader;

namespace lftest {

// The keys of the hits of the reader's last search, in order ("(null)" for
// one that cannot be read).
std::vector<std::string> mdictHitKeys(CMDictReader& reader);

}  // namespace lftest

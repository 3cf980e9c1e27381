// The README's command lines: each program's usage lines name the options
// its --help names, and the walk-through from a spreadsheet export to a book
// runs as written and gives a book the EB Library searches.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "tests/common/EbProbe.h"
#include "tests/common/TestDir.h"

namespace {

using lftest::shellQuote;
using lftest::TestDir;

std::string readme() {
    lftest::Bytes b = lftest::readFile(std::string(LF_SOURCE_DIR) + "/README.md");
    return std::string(b.begin(), b.end());
}

// Usage lines ("PROGRAM COMMAND ... [--option] ...", continuation lines
// joined) by their command words, each with the options it names.
typedef std::map<std::string, std::set<std::string>> Usage;

void addUsageLine(const std::string& line, Usage* usage) {
    std::istringstream words(line);
    std::string word, key;
    while (words >> word && !word.empty() && word[0] >= 'a' && word[0] <= 'z') key += (key.empty() ? "" : " ") + word;
    std::set<std::string>& options = (*usage)[key];
    static const std::regex option("--[a-z0-9-]+");
    for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) options.insert(it->str());
}

Usage helpUsage(const std::string& program) {
    std::string help;
    EXPECT_EQ(lftest::runCommand(shellQuote(lftest::binDir() + "/" + program) + " --help", &help), 0);
    Usage usage;
    std::istringstream lines(help);
    std::string line, joined;
    const std::string start = program + " ";
    while (std::getline(lines, line) && !line.empty()) {
        size_t at = line.find(start);
        bool first = at != std::string::npos && line.find_first_not_of(' ', line.compare(0, 6, "Usage:") == 0 ? 6 : 0) == at;
        if (first) {
            if (!joined.empty()) addUsageLine(joined, &usage);
            joined = line.substr(at + start.size());
        } else {
            joined += " " + line;
        }
    }
    if (!joined.empty()) addUsageLine(joined, &usage);
    return usage;
}

Usage readmeUsage(const std::string& program) {
    Usage usage;
    std::istringstream lines(readme());
    std::string line;
    const std::string start = "    build/bin/" + program + " ";
    while (std::getline(lines, line))
        if (line.compare(0, start.size(), start) == 0) addUsageLine(line.substr(start.size()), &usage);
    return usage;
}

TEST(Readme, UsageLinesNameTheOptionsOfHelp) {
    for (const char* program : {"lexforge", "packwell"}) {
        SCOPED_TRACE(program);
        Usage help = helpUsage(program), doc = readmeUsage(program);
        EXPECT_GT(help.size(), 2u);
        EXPECT_EQ(doc, help);
    }
}

TEST(Readme, TheSpreadsheetWalkThroughMakesASearchableBook) {
    const std::string text = readme();
    size_t at = text.find("### A spreadsheet export to a searchable book");
    ASSERT_NE(at, std::string::npos);
    // Its section runs to the next heading.
    std::istringstream lines(text.substr(at, text.find("\n#", at + 1) - at));
    std::vector<std::string> commands;
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, 13, "    lexforge ") == 0) commands.push_back(line.substr(13));
    ASSERT_EQ(commands.size(), 5u);

    TestDir dir;
    lftest::writeFile(dir.file("words.csv"), std::string("melon,めろん,a large sweet fruit\ntea,ちゃ,a drink\n"));
    for (const std::string& c : commands) {
        std::string out;
        ASSERT_EQ(lftest::runCommand("cd " + shellQuote(dir.path()) + " && " +
                                         shellQuote(lftest::binDir() + "/lexforge") + " " + c + " 2>&1",
                                     &out),
                  0)
            << c << "\n" << out;
    }
    lftest::EbProbe probe(dir.file("book"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    ASSERT_EQ(probe.subbooks().size(), 1u);
    auto hits = probe.searchText(0, lftest::EbSearchKind::Word, {"melon"});
    ASSERT_EQ(hits.size(), 1u) << probe.error();
    EXPECT_NE(hits[0].text.find("a large sweet fruit"), std::string::npos) << hits[0].text;
    // By reading: "ちゃ" in Shift_JIS.
    EXPECT_EQ(probe.search(0, lftest::EbSearchKind::Word, {"\x82\xBF\x82\xE1"}).size(), 1u) << probe.error();
}

}  // namespace

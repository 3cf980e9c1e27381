// The temp file of complex entries: what a line keeps, and damaged files
// refused when read back.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "builder/complex/CComplexTemp.h"
#include "tests/common/TestDir.h"

namespace {

struct Read {
    std::string name, key, heading;
    uint32_t block;
    uint16_t offset;
    bool operator==(const Read& o) const {
        return name == o.name && key == o.key && heading == o.heading && block == o.block && offset == o.offset;
    }
};

std::ostream& operator<<(std::ostream& os, const Read& r) {
    return os << r.name << "|" << r.key << "|" << r.heading << "|" << r.block << ":" << r.offset;
}

bool readBack(const CComplexTemp& t, std::vector<Read>* out) {
    return t.load([out](const CComplexTemp::Entry& e) {
        out->push_back({std::string(e.name, e.nameLen), std::string(e.key, e.keyLen),
                        std::string(e.heading, e.headingLen), e.block, e.offset});
    });
}

TEST(ComplexTemp, EntriesComeBackInOrder) {
    const std::string longText(300, 'k');
    // 254 one-byte characters and a two-byte one: the cut at 255 bytes
    // leaves the two-byte character out whole.
    const std::string split = std::string(254, 'x') + "\x8a\xbf";
    CComplexTemp t;
    ASSERT_TRUE(t.create());
    struct Case {
        std::string name, key, heading;
        uint32_t block;
        uint16_t offset;
        Read read;
    } cases[] = {
        {"author", "Soseki", "Botchan", 2, 10, {"author", "Soseki", "Botchan", 2, 10}},
        {"a\tb",
         "line\nbreak\r",
         "tab\there",
         0xFFFFFFFFu,
         2047,
         {"a b", "line break ", "tab here", 0xFFFFFFFFu, 2047}},
        {"n", longText, "", 3, 0, {"n", std::string(255, 'k'), "", 3, 0}},
        {"n", split, "h", 4, 0, {"n", std::string(254, 'x'), "h", 4, 0}},
        {"nul", std::string("a\0b", 3), "h", 5, 1, {"nul", "a b", "h", 5, 1}},
    };
    std::vector<Read> want;
    for (const Case& c : cases) {
        ASSERT_TRUE(t.add(c.name.data(), static_cast<int>(c.name.size()), c.key.data(), static_cast<int>(c.key.size()),
                          c.heading.data(), static_cast<int>(c.heading.size()), c.block, c.offset));
        want.push_back(c.read);
    }
    EXPECT_EQ(t.count(), 5);
    ASSERT_TRUE(t.close());
    std::vector<Read> got;
    ASSERT_TRUE(readBack(t, &got));
    EXPECT_EQ(got, want);
    const std::string path = t.path();
    t.remove();
    struct stat st;
    EXPECT_NE(stat(path.c_str(), &st), 0) << "left behind";
}

TEST(ComplexTemp, DamagedLinesAreRefused) {
    const char* damaged[] = {
        "author\tkey\theading\t2\n",              // a field missing
        "author\tkey\theading\t2\t5\textra\n",    // a field too many
        "author\tkey\theading\t2\t2048\n",        // offset past the block
        "author\tkey\theading\t4294967296\t0\n",  // block past 32 bits
        "author\tkey\theading\t-1\t0\n",
        "author\tkey\theading\t2\t5",  // no line end: cut short
    };
    for (const char* text : damaged) {
        CComplexTemp t;
        ASSERT_TRUE(t.create());
        ASSERT_TRUE(t.close());
        FILE* f = std::fopen(t.path().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
        std::vector<Read> got;
        EXPECT_FALSE(readBack(t, &got)) << text;
    }
}

}  // namespace

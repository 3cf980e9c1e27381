// lfdemo SAMPLE.txt OUTDIR
//
// Writes a small text (Shift_JIS, or UTF-8 which is converted first) as book
// text into OUTDIR/HONMON through a file-mode block stream, reads the codes
// back from the file and prints them in hexadecimal.
#include <cstdio>
#include <string>
#include <vector>

#include "foundation/CBlockStream.h"
#include "foundation/escapecodes.h"
#include "foundation/jclib.h"
#include "foundation/pathutil.h"

namespace {

// Owns a FILE handle.
struct File {
    FILE* f;
    File(const std::string& path, const char* mode) : f(std::fopen(path.c_str(), mode)) {}
    ~File()
    {
        if (f)
            std::fclose(f);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
};

bool readAll(const std::string& path, std::vector<unsigned char>* out)
{
    File in(path, "rb");
    if (!in.f)
        return false;
    unsigned char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in.f)) > 0)
        out->insert(out->end(), buf, buf + n);
    return !std::ferror(in.f);
}

// True when the bytes are well-formed UTF-8 and hold at least one
// multi-byte character (plain ASCII is read as it is either way).
bool looksLikeUtf8(const std::vector<unsigned char>& t)
{
    bool multi = false;
    for (size_t i = 0; i < t.size();) {
        unsigned char b = t[i];
        size_t n = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (n == 0 || i + n > t.size())
            return false;
        for (size_t k = 1; k < n; ++k) {
            if ((t[i + k] & 0xC0) != 0x80)
                return false;
        }
        multi = multi || n > 1;
        i += n;
    }
    return multi;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lfdemo SAMPLE.txt OUTDIR\n");
        return 2;
    }
    std::vector<unsigned char> text;
    if (!readAll(argv[1], &text)) {
        std::fprintf(stderr, "lfdemo: can't read %s\n", argv[1]);
        return 1;
    }
    size_t start = 0;
    if (text.size() >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF)
        start = 3;  // byte-order mark
    std::vector<unsigned char> body(text.begin() + static_cast<long>(start), text.end());
    const bool utf8 = looksLikeUtf8(body);
    std::vector<unsigned char> sjis(body.size() + 1);
    int length;
    if (utf8) {
        length = utf8ToSjis(reinterpret_cast<const char*>(body.data()), static_cast<int>(body.size()),
                                   sjis.data(), sjis.size());
    } else {
        sjis.assign(body.begin(), body.end());
        length = static_cast<int>(sjis.size());
    }

    if (makeDirectories(argv[2]) != 0) {
        std::fprintf(stderr, "lfdemo: can't create directory %s\n", argv[2]);
        return 1;
    }
    const std::string out = std::string(argv[2]) + "/HONMON";
    File file(out, "w+b");
    if (!file.f) {
        std::fprintf(stderr, "lfdemo: can't create %s\n", out.c_str());
        return 1;
    }

    CBlockStream stream(1, 1);
    stream.attachFile(file.f);
    stream.writeCode(EB_BEGIN_TEXT);
    const int columns = stream.writeText(reinterpret_cast<const char*>(sjis.data()), length, 1, 1);
    stream.writeCode(EB_END_TEXT);
    BLOCK_POS end{};
    stream.tell(&end);
    stream.flushBlock();

    std::printf("%s: %s, %d bytes of Shift_JIS, %d columns, %u block(s)\n", out.c_str(),
                utf8 ? "UTF-8" : "Shift_JIS", length, columns, stream.blockCount());

    // Read the codes back from the file through a second stream.
    std::fflush(file.f);
    CBlockStream reader(1, 1);
    reader.attachFile(file.f);
    int n = 0;
    while (reader.currentBlock() < end.block ||
           (reader.currentBlock() == end.block && reader.currentOffset() < end.offset)) {
        if (n % 8 == 0)
            std::printf("%s%04X:", n ? "\n" : "", static_cast<unsigned>(n * 2));
        std::printf(" %04X", reader.readWord16());
        ++n;
    }
    std::printf("\n");
    return 0;
}

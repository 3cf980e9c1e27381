// Books with figures, sounds and movies, read back through the EB Library:
// the media references of the text lead to the monochrome bitmap, the BMP
// and JPEG data, the samples and the movie files byte for byte, in one text
// file and with the separate graphics and sound files; media the book cannot
// carry are reported by name and left out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "builder/CEBBook.h"
#include "builder/CEPWing.h"
#include "foundation/book/CBookFile.h"
#include "foundation/pathutil.h"
#include "tests/common/BookBuilder.h"
#include "tests/common/EbProbe.h"
#include "tests/common/MediaFixtures.h"
#include "tests/common/TestDir.h"

namespace {

unsigned checker(int x, int y) {
    return ((x / 2 + y) % 3) == 0 ? 1 : 0;
}

unsigned colours(int x, int y) {
    return static_cast<unsigned>(x * 0x300000 + y * 0x2000 + 0x40);
}

using lftest::Bytes;

// The pixel rows of a 1-bit BMP as libeb writes it (bottom-up, rows of 4n
// bytes) as a bitmap of top-first rows of (width + 7) / 8 bytes.
Bytes monoRowsOfBmp(const Bytes& bmp, int width, int height) {
    const size_t row = static_cast<size_t>((width + 31) / 32 * 4);
    const size_t out = static_cast<size_t>((width + 7) / 8);
    const size_t offset = bmp.size() < 14 ? 0 : (bmp[10] | (bmp[11] << 8));
    Bytes rows;
    for (int y = 0; y < height; ++y) {
        const size_t at = offset + static_cast<size_t>(height - 1 - y) * row;
        if (at + out > bmp.size()) return {};
        rows.insert(rows.end(), bmp.begin() + static_cast<long>(at), bmp.begin() + static_cast<long>(at + out));
    }
    return rows;
}

// ASCII of the full-width letters and digits of raw text, up to its end
// code, skipping the operands of media and reference codes.
std::string lettersOf(const Bytes& raw) {
    std::string out;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const unsigned c = (raw[i] << 8) | raw[i + 1];
        if (c == 0x1F03) break;
        if (c == 0x1F09 || c == 0x1F41) i += 2;
        if (c == 0x1F44) i += 10;
        if (c == 0x1F64 || c == 0x1F62) i += 6;
        if (c == 0x1F4D || c == 0x1F3C) i += 18;
        if (c == 0x1F4A) i += 16;
        if (c == 0x1F39) i += 44;
        if ((c >> 8) == 0x23) out += static_cast<char>(c & 0xFF);
    }
    return out;
}

std::vector<std::string> hooksOf(const std::vector<lftest::EbMediaEvent>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.hook);
    return out;
}

// True when the messages hold want as a run of consecutive messages.
bool hasRun(const std::vector<std::string>& messages, const std::vector<std::string>& want) {
    return std::search(messages.begin(), messages.end(), want.begin(), want.end()) != messages.end();
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const char kHeading[] = "<H1>media</H1>\n";

lftest::BookRun build(const lftest::TestDir& dir, const std::string& markup, int ebType, bool separate, int withHeader,
                      bool mono = true, uint64_t areaLimit = 0) {
    lftest::writeFile(dir.file("a.html"), std::string(kHeading) + markup + "\n");
    lftest::BookRecipe r;
    r.outDir = dir.file("out");
    r.ebType = ebType;
    r.separateMMData = separate;
    r.sources.push_back({dir.file("a.html"), "", 0});
    r.configure = [=](CEPWing& w) {
        w.setBoolOption("optMono", mono);
        w.setIntOption("withHeader", withHeader);
        if (areaLimit != 0) w.book()->setMediaAreaLimit(areaLimit);
    };
    return lftest::buildBook(r);
}

TEST(MediaBook, ReadsBackThroughTheEbLibrary) {
    const Bytes mono = lftest::makeBmp(13, 5, 1, checker);
    const Bytes colour = lftest::makeBmp(4, 3, 24, colours);
    const Bytes jpeg = lftest::makeJpeg(20, 10);
    const Bytes sound = lftest::makeWave(1, 22050, 16, 1500);  // 3000 bytes: crosses a block
    const Bytes sound2 = lftest::makeWave(1, 22050, 16, 50, 7);
    const Bytes movie = lftest::makeMpeg(160, 120);
    const std::string markup =
        "<P>m <IMG src=\"mono.bmp\" alt=\"M\"> c <IMG src=\"colour.bmp\" alt=\"C\"> j <IMG src=\"pic.jpg\" "
        "alt=\"J\"> s <A href=\"snd.wav\">S</A> t <A href=\"snd2.wav\">T</A> v <A href=\"clip.mpg\">V</A> i <IMG "
        "class=\"inline\" src=\"colour.bmp\"> m <IMG src=\"mono.bmp\" alt=\"N\"></P>";
    const std::vector<std::string> hooks = {"begin-mono",         "end-mono",     "begin-color-bmp", "end-color",
                                            "begin-color-jpeg",   "end-color",    "begin-wave",      "end-wave",
                                            "begin-wave",         "end-wave",     "begin-mpeg",      "end-mpeg",
                                            "begin-in-color-bmp", "end-in-color", "begin-mono",      "end-mono"};

    for (bool separate : {false, true}) {
        for (int withHeader : {0, 1}) {
            SCOPED_TRACE(std::string(separate ? "separate files" : "one text file") +
                         (withHeader ? ", sounds with their chunks" : ", samples alone"));
            lftest::TestDir dir;
            lftest::writeFile(dir.file("mono.bmp"), mono);
            lftest::writeFile(dir.file("colour.bmp"), colour);
            lftest::writeFile(dir.file("pic.jpg"), jpeg);
            lftest::writeFile(dir.file("snd.wav"), sound);
            lftest::writeFile(dir.file("snd2.wav"), sound2);
            lftest::writeFile(dir.file("clip.mpg"), movie);
            lftest::BookRun run = build(dir, markup, 1, separate, withHeader);
            EXPECT_TRUE(hasRun(run.messages,
                               {" done\r\n", "Movies...(1)\r\n", "Monochrome Figure...", " done\r\n", "Color Figure...",
                                "done\r\n", "# of Figures=(3)\r\n", "PCM Sound...", "done\r\n", "# of Sounds=(2)\r\n"}))
                << run.log();
            EXPECT_EQ(run.log().find("skipped"), std::string::npos) << run.log();
            const std::string data = dir.file("out/TEST/DATA/");
            EXPECT_EQ(fileExists((data + "HONMONG").c_str()) == 1, separate);
            EXPECT_EQ(fileExists((data + "HONMONS").c_str()) == 1, separate);
            EXPECT_EQ(fileExists((data + "HONMON2").c_str()) == 1, separate);

            lftest::EbProbe probe(dir.file("out"));
            ASSERT_TRUE(probe.ok()) << probe.error();
            const std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, 2, 0);
            ASSERT_EQ(hooksOf(ev), hooks) << probe.error();
            EXPECT_EQ(lettersOf(probe.readText(0, 2, 0, 2048)), "mediamMcCjJsStTvVimN");

            // Monochrome: height and width in the begin code, the bitmap's
            // position in the end code; both references lead to one bitmap.
            EXPECT_EQ(ev[0].argv[2], 5u);
            EXPECT_EQ(ev[0].argv[3], 13u);
            EXPECT_EQ(monoRowsOfBmp(probe.monoGraphic(0, ev[1].argv[1], ev[1].argv[2], 13, 5), 13, 5),
                      lftest::monoRows(13, 5, checker))
                << probe.error();
            EXPECT_EQ(ev[15].argv, ev[1].argv);

            EXPECT_EQ(probe.colorGraphic(0, ev[2].argv[2], ev[2].argv[3]), colour) << probe.error();
            EXPECT_EQ(probe.colorGraphic(0, ev[4].argv[2], ev[4].argv[3]), jpeg) << probe.error();
            EXPECT_EQ(probe.colorGraphic(0, ev[12].argv[2], ev[12].argv[3]), colour) << probe.error();

            // Sounds: the form and format digits (samples alone or with
            // their chunks; mono, 16 bits, 22050 Hz), then the first and the
            // last byte.
            for (size_t k : {size_t(6), size_t(8)}) {
                EXPECT_EQ(ev[k].argv[1], withHeader ? 0x0010u : 0x10010u);
                const Bytes wave = probe.wave(0, ev[k].argv[2], ev[k].argv[3], ev[k].argv[4], ev[k].argv[5]);
                const Bytes& source = k == 6 ? sound : sound2;
                EXPECT_EQ(lftest::waveSamples(wave), lftest::waveSamples(source)) << probe.error();
                // The "fmt " chunk reaches the reader either way.
                ASSERT_GE(wave.size(), 36u);
                EXPECT_TRUE(std::equal(wave.begin() + 12, wave.begin() + 36, source.begin() + 12));
            }

            // The movie's name leads to its file in MOVIE.
            EXPECT_EQ(probe.mpeg(0, {ev[10].argv[2], ev[10].argv[3], ev[10].argv[4], ev[10].argv[5]}), movie)
                << probe.error();
            EXPECT_EQ(lftest::readFile(dir.file("out/TEST/MOVIE/CLIP")), movie);
        }
    }
}

TEST(MediaBook, MediaTheBookCannotCarryAreReportedAndLeftOut) {
    Bytes truncatedBmp = lftest::makeBmp(8, 8, 24, colours);
    truncatedBmp.resize(truncatedBmp.size() - 5);
    Bytes truncatedJpeg = lftest::makeJpeg(8, 8);
    truncatedJpeg.resize(truncatedJpeg.size() - 1);
    Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    png.resize(64, 0);
    const struct {
        const char* what;
        const char* name;  // the file the markup names twice
        Bytes bytes;       // empty: no such file
        int ebType;
        int withHeader;
        const char* message;  // null: carried
        int special;          // the name is 1 a folder, 2 a FIFO, 3 a link to a device (bytes unused)
    } cases[] = {
        {"PNG", "bad.png", png, 1, 0, "Media file skipped (a form the book cannot carry): ", 0},
        {"GIF",
         "bad.gif",
         {'G', 'I', 'F', '8', '9', 'a'},
         1,
         0,
         "Media file skipped (a form the book cannot carry): ",
         0},
        {"MIDI", "bad.mid", {'M', 'T', 'h', 'd'}, 1, 0, "Media file skipped (a form the book cannot carry): ", 0},
        {"truncated BMP", "bad.bmp", truncatedBmp, 1, 0, "Media file skipped (truncated): ", 0},
        {"truncated JPEG", "bad.jpg", truncatedJpeg, 1, 0, "Media file skipped (truncated): ", 0},
        {"PNG named .bmp", "bad.bmp", png, 1, 0, "Media file skipped (not a BMP file): ", 0},
        {"WAVE at 48000 Hz", "bad.wav", lftest::makeWave(1, 48000, 16, 8), 1, 1,
         "Media file skipped (48000 Hz is not a book sample rate (44100, 22050 or 11025 Hz)): ", 0},
        {"WAVE at 8000 Hz", "bad.wav", lftest::makeWave(1, 8000, 16, 8), 1, 0,
         "Media file skipped (8000 Hz is not a book sample rate (44100, 22050 or 11025 Hz)): ", 0},
        {"WAVE of 24 bits", "bad.wav", lftest::makeWave(1, 44100, 24, 8), 1, 1,
         "Media file skipped (a sample format no book carries (PCM, 1 or 2 channels, 8 or 16 bits)): ", 0},
        {"folder named as a figure", "bad.bmp", {}, 1, 0, "Media file skipped (not a regular file): ", 1},
        {"FIFO named as a sound", "bad.wav", {}, 1, 0, "Media file skipped (not a regular file): ", 2},
        {"device named as a figure", "bad.jpg", {}, 1, 0, "Media file skipped (not a regular file): ", 3},
        {"samples alone in another format than the first sound's", "bad.wav", lftest::makeWave(2, 22050, 16, 8), 1, 0,
         "Media file skipped (a sample format other than the book's): ", 0},
        {"sounds with their chunks in another format", "bad.wav", lftest::makeWave(2, 22050, 16, 8), 1, 1, nullptr, 0},
        {"missing file", "gone.bmp", {}, 1, 0, "Media file not found: ", 0},
        {"colour figure in an EB book", "bad.bmp", lftest::makeBmp(4, 4, 24, colours), 0, 0,
         "Media file skipped (an EB book carries monochrome figures only): ", 0},
        {"sound in an EB book", "bad.wav", lftest::makeWave(1, 22050, 16, 8), 0, 0,
         "Media file skipped (an EB book carries no sounds): ", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lftest::TestDir dir;
        // The good figure and sound come first: the book's sound format is
        // that of good.wav.
        lftest::writeFile(dir.file("good.bmp"), lftest::makeBmp(9, 3, 1, checker));
        lftest::writeFile(dir.file("good.wav"), lftest::makeWave(1, 22050, 16, 8));
        if (!c.bytes.empty()) lftest::writeFile(dir.file(c.name), c.bytes);
        if (c.special == 1) {
            ASSERT_EQ(mkdir(dir.file(c.name).c_str(), 0755), 0);
        } else if (c.special == 2) {
            ASSERT_EQ(mkfifo(dir.file(c.name).c_str(), 0644), 0);
        } else if (c.special == 3) {
            ASSERT_EQ(symlink("/dev/null", dir.file(c.name).c_str()), 0);
        }
        const bool sounds = c.ebType == 1;
        const std::string markup = std::string("<P><IMG src=\"good.bmp\" alt=\"G\">") +
                                   (sounds ? "<A href=\"good.wav\">W</A>" : "") + "<IMG src=\"" + c.name +
                                   "\" alt=\"BAD\"><A href=\"" + c.name + "\">AGAIN</A></P>";
        lftest::BookRun run = build(dir, markup, c.ebType, false, c.withHeader);
        const std::string log = run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        std::vector<std::string> hooks = hooksOf(probe.mediaEvents(0, 2, 0));
        std::vector<std::string> want = {"begin-mono", "end-mono"};
        if (sounds) want.insert(want.end(), {"begin-wave", "end-wave"});
        if (c.message != nullptr) {
            // Named once, however often the text names it; its text is
            // written plainly.
            EXPECT_EQ(countOf(log, std::string(c.message) + dir.file(c.name) + "\r\n"), 1u) << log;
            EXPECT_EQ(hooks, want);
            EXPECT_EQ(lettersOf(probe.readText(0, 2, 0, 2048)), sounds ? "mediaGWBADAGAIN" : "mediaGBADAGAIN");
        } else {
            EXPECT_EQ(log.find("Media file"), std::string::npos) << log;
            want.insert(want.end(), {"begin-wave", "end-wave", "begin-wave", "end-wave"});
            EXPECT_EQ(hooks, want);
        }
        // The rest of the book is whole.
        EXPECT_NE(log.find("# of Figures=(1)\r\n"), std::string::npos) << log;
        EXPECT_NE(log.find("# of Links"), std::string::npos) << log;
    }
}

// Character references in a media attribute are decoded before the file is
// looked up: the files are found and carried.
TEST(MediaBook, ReferencesInMediaNamesAreDecoded) {
    lftest::TestDir dir;
    const Bytes movie = lftest::makeMpeg(64, 48, 300);
    lftest::writeFile(dir.file("we\"ird.mpg"), movie);
    lftest::writeFile(dir.file("a&b.bmp"), lftest::makeBmp(9, 3, 1, checker));
    lftest::writeFile(dir.file("it's.wav"), lftest::makeWave(1, 22050, 16, 8));
    lftest::BookRun run = build(dir,
                                "<P><A href=\"we&quot;ird.mpg\">M</A><IMG src=\"a&amp;b.bmp\" alt=\"F\">"
                                "<A href=\"it&apos;s.wav\">S</A></P>",
                                1, false, 0);
    const std::string log = run.log();
    EXPECT_EQ(log.find("Media file"), std::string::npos) << log;
    EXPECT_NE(log.find("# of Figures=(1)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("# of Sounds=(1)\r\n"), std::string::npos) << log;
    EXPECT_EQ(lftest::readFile(dir.file("out/TEST/MOVIE/WEIRD")), movie);
}

TEST(MediaBook, MovieNamesCutToEightCharactersStayDistinct) {
    lftest::TestDir dir;
    const char* files[] = {"LongMovieA.mpg", "longmovieB.mpeg", "long-mov.mpg", "LongMovieC.MPG"};
    const char* names[] = {"LONGMOVI", "LONGMOV1", "LONGMOV", "LONGMOV2"};
    std::string markup = "<P>";
    for (size_t i = 0; i < 4; ++i) {
        lftest::writeFile(dir.file(files[i]), lftest::makeMpeg(64, 48, 300 + 50 * i));
        markup += std::string("<A href=\"") + files[i] + "\">x</A>";
    }
    lftest::BookRun run = build(dir, markup + "</P>", 1, false, 0);
    const std::string log = run.log();
    EXPECT_NE(log.find("Movies...(4)\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Movie " + dir.file(files[1]) + " is written as LONGMOV1: LONGMOVI is taken\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Movie " + dir.file(files[3]) + " is written as LONGMOV2: LONGMOVI is taken\r\n"),
              std::string::npos)
        << log;
    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, 2, 0);
    ASSERT_EQ(ev.size(), 8u) << probe.error();
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(files[i]);
        const Bytes source = lftest::readFile(dir.file(files[i]));
        EXPECT_EQ(lftest::readFile(dir.file(std::string("out/TEST/MOVIE/") + names[i])), source);
        const auto& a = ev[2 * i].argv;
        EXPECT_EQ(probe.mpeg(0, {a[2], a[3], a[4], a[5]}), source) << probe.error();
    }
}

TEST(MediaBook, AnAreaPastItsLimitIsRefused) {
    // A sound whose samples reach 4 GiB (a sparse file: only its headers
    // are read) does not fit the sound area beside its format block.
    {
        lftest::TestDir dir;
        Bytes head = lftest::makeWave(1, 44100, 16, 0);
        const uint32_t samples = 0xFFFFFF00u;
        for (int i = 0; i < 4; ++i) {
            head[4 + i] = static_cast<uint8_t>((samples + 36) >> (8 * i));
            head[40 + i] = static_cast<uint8_t>(samples >> (8 * i));
        }
        lftest::writeFile(dir.file("huge.wav"), head);
        ASSERT_EQ(truncate(dir.file("huge.wav").c_str(), static_cast<off_t>(head.size()) + samples), 0);
        lftest::BookRun run = build(dir, "<P><A href=\"huge.wav\">H</A></P>", 1, false, 0);
        EXPECT_NE(run.log().find("Media file skipped (the sound area would pass 4 GiB): " + dir.file("huge.wav")),
                  std::string::npos)
            << run.log();
        EXPECT_NE(run.log().find("# of Sounds=(0)"), std::string::npos) << run.log();
    }
    // Figures: the second does not fit the figure area of a smaller limit.
    {
        lftest::TestDir dir;
        const Bytes a = lftest::makeBmp(4, 3, 24, colours);
        lftest::writeFile(dir.file("a.bmp"), a);  // 90 bytes, 98 in the area
        lftest::writeFile(dir.file("b.bmp"), lftest::makeBmp(4, 3, 24, checker));
        lftest::BookRun run =
            build(dir, "<P><IMG src=\"a.bmp\"><IMG src=\"b.bmp\" alt=\"B\"></P>", 1, false, 0, true, 150);
        EXPECT_NE(run.log().find("Media file skipped (the figure area would pass 4 GiB): " + dir.file("b.bmp")),
                  std::string::npos)
            << run.log();
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, 2, 0);
        ASSERT_EQ(hooksOf(ev), std::vector<std::string>({"begin-color-bmp", "end-color"}));
        EXPECT_EQ(probe.colorGraphic(0, ev[0].argv[2], ev[0].argv[3]), a);
    }
}

TEST(MediaBook, EbBookKeepsMonochromeFiguresWithTheirList) {
    lftest::TestDir dir;
    lftest::writeFile(dir.file("m.bmp"), lftest::makeBmp(21, 4, 1, checker, true));
    // optMono is off: an EB book takes a 1-bit BMP as a monochrome figure.
    lftest::BookRun run = build(dir, "<P><IMG src=\"m.bmp\" alt=\"F\"></P>", 0, false, 0, false);
    EXPECT_TRUE(hasRun(run.messages, {"Monochrome Figure...", " done\r\n", "# of Figures=(1)\r\n", "Prefix Index..."}))
        << run.log();
    EXPECT_EQ(run.log().find("Sounds"), std::string::npos) << run.log();

    CBookFile book;
    ASSERT_EQ(book.open(dir.file("out/TEST/").c_str(), "START", "r", 0, 0, nullptr, 1, 1), 0);
    ASSERT_NE(book.findEntry(0xD1), nullptr);
    ASSERT_NE(book.findEntry(0x0F), nullptr);
    EXPECT_EQ(book.findEntry(0xD0), nullptr);
    const int list = static_cast<int>(book.findEntry(0x0F)->start);
    book.close();

    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    EXPECT_EQ(probe.discType(), 0);
    std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, 2, 0);
    ASSERT_EQ(hooksOf(ev), std::vector<std::string>({"begin-mono", "end-mono"})) << probe.error();
    EXPECT_EQ(monoRowsOfBmp(probe.monoGraphic(0, ev[1].argv[1], ev[1].argv[2], 21, 4), 21, 4),
              lftest::monoRows(21, 4, checker));
    // The figure list names the figure and leads to the same bitmap.
    std::vector<lftest::EbMediaEvent> listed = probe.mediaEvents(0, list, 0);
    ASSERT_EQ(hooksOf(listed), hooksOf(ev));
    EXPECT_EQ(listed[1].argv, ev[1].argv);
    EXPECT_EQ(lettersOf(probe.readText(0, list, 0, 256)), "mbmp");
}

TEST(MediaBook, CopyrightPageFigureLeadsToItsData) {
    lftest::TestDir dir;
    const Bytes logo = lftest::makeJpeg(16, 16);
    lftest::writeFile(dir.file("logo.jpg"), logo);
    lftest::writeFile(dir.file("c.html"), "<P>Copyright <IMG src=\"logo.jpg\" alt=\"L\"></P>\n");
    lftest::writeFile(dir.file("a.html"), std::string(kHeading));
    lftest::BookRecipe r;
    r.outDir = dir.file("out");
    r.sources.push_back({dir.file("a.html"), "", 0});
    r.copyright = dir.file("c.html");
    lftest::BookRun run = lftest::buildBook(r);
    EXPECT_NE(run.log().find("# of Figures=(1)"), std::string::npos) << run.log();
    lftest::EbProbe probe(dir.file("out"));
    ASSERT_TRUE(probe.ok()) << probe.error();
    lftest::EbCopyright c = probe.copyright(0, 512);
    ASSERT_TRUE(c.found) << probe.error();
    std::vector<lftest::EbMediaEvent> ev = probe.mediaEvents(0, c.block, c.offset);
    ASSERT_EQ(hooksOf(ev), std::vector<std::string>({"begin-color-jpeg", "end-color"})) << probe.error();
    EXPECT_EQ(probe.colorGraphic(0, ev[0].argv[2], ev[0].argv[3]), logo);
}

TEST(MediaBook, BooksWithoutMediaAreasStayReadable) {
    const struct {
        const char* what;
        bool separate;
        bool makeFig;
        const char* markup;
        const char* letters;
    } cases[] = {
        {"separate files without media", true, true, "<P>plain</P>", "mediaplain"},
        {"figures off", false, false, "<P><IMG src=\"x.bmp\" alt=\"ALT\"></P>", "mediaALT"},
        {"figure inside a sound reference", false, true, "<P><A href=\"x.wav\">s<IMG src=\"x.bmp\" alt=\"IN\"></A></P>",
         "mediasIN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("x.bmp"), lftest::makeBmp(4, 3, 24, colours));
        lftest::writeFile(dir.file("x.wav"), lftest::makeWave(1, 11025, 8, 4));
        lftest::writeFile(dir.file("a.html"), std::string(kHeading) + c.markup + "\n");
        lftest::BookRecipe r;
        r.outDir = dir.file("out");
        r.separateMMData = c.separate;
        r.sources.push_back({dir.file("a.html"), "", 0});
        const bool makeFig = c.makeFig;
        r.configure = [makeFig](CEPWing& w) { w.setBoolOption("makeFig", makeFig); };
        lftest::BookRun run = lftest::buildBook(r);
        lftest::EbProbe probe(dir.file("out"));
        ASSERT_TRUE(probe.ok()) << probe.error();
        EXPECT_EQ(lettersOf(probe.readText(0, 2, 0, 2048)), c.letters) << probe.error();
        EXPECT_EQ(run.log().find("Figure..."), std::string::npos) << run.log();
    }
}

}  // namespace

namespace {

TEST(MediaBook, SeparateFilesThatCannotBeCreatedEndTheBuild) {
    for (const char* name : {"HONMONG", "HONMONS"}) {
        SCOPED_TRACE(name);
        lftest::TestDir dir;
        lftest::writeFile(dir.file("x.bmp"), lftest::makeBmp(4, 3, 24, colours));
        lftest::writeFile(dir.file("x.wav"), lftest::makeWave(1, 11025, 8, 4));
        // A folder where the file should go.
        ASSERT_EQ(makeDirectories(dir.file(std::string("out/TEST/DATA/") + name).c_str()), 0);
        lftest::BookRun run = build(dir, "<P><IMG src=\"x.bmp\"><A href=\"x.wav\">s</A></P>", 1, true, 0);
        EXPECT_NE(run.log().find(std::string("can't create output file(") + name + ")"), std::string::npos)
            << run.log();
        EXPECT_EQ(run.log().find("# of Anchors"), std::string::npos) << run.log();
    }
}

}  // namespace

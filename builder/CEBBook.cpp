// CEBBook: book writer set-up (open, sources, string table, stop words,
// keyword list) and the build run (make).
#include "builder/CEBBook.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "builder/CParseTag0.h"
#include "builder/complex/CComplexTemp.h"
#include "builder/gaiji/CGaiji.h"
#include "builder/gaiji/CGaijiFontWriter.h"
#include "builder/sources/CCSVParser.h"
#include "builder/sources/CEIJIROParser.h"
#include "builder/sources/CHTMLParser.h"
#include "builder/sources/CPDICParser.h"
#include "builder/sources/CPlainParser.h"
#include "builder/sources/CSAXParser.h"
#include "builder/sources/entrywriter.h"
#include "builder/sources/sourcetext.h"
#include "builder/sources/ucsToSjis.h"
#include "foundation/FileHandle.h"
#include "foundation/book/CBookFile.h"
#include "foundation/codes/jclib.h"
#include "foundation/pathutil.h"
#include "foundation/storage/CZOutputFile.h"

namespace {

// The process-wide abort flag: set from any thread, polled by every long
// loop of the build.
std::atomic<int> g_abort(0);

// Copies text into a fixed field; false (field untouched) when it does not fit.
bool copyField(char* field, size_t size, const char* text) {
    size_t n = std::strlen(text);
    if (n >= size) return false;
    std::memcpy(field, text, n + 1);
    return true;
}

void freeSource(SOURCE_INFO* s) {
    std::free(s->fields);
    s->fields = nullptr;
}

char* dupString(const char* text) {
    size_t n = std::strlen(text);
    char* p = static_cast<char*>(std::malloc(n + 1));
    if (p == nullptr) throw std::runtime_error("memory allocate error!!(open)");
    std::memcpy(p, text, n + 1);
    return p;
}

}  // namespace

CEBBook::CEBBook()
    : m_opt(nullptr),
      m_spec(nullptr),
      m_opened(false),
      m_progress(0),
      m_sourceType(0),
      m_failedSources(0),
      m_leftOutSources(0),
      m_epwingVersion(1),
      m_stringTSize(kDefaultStringT),
      m_stopWordCount(0),
      m_anchorCount(0),
      m_linkCount(0),
      m_complexCount(0),
      m_nextBlock(2),
      m_body(nullptr),
      m_fontMask(0),
      m_writtenFontMask(0),
      m_mediaPlanned{0, 0, 0},
      m_mediaAreaLimit(0x100000000ull),
      m_figureCount(0),
      m_soundCount(0),
      m_callback(nullptr) {
    m_copyright[0] = 0;
    std::memset(m_delChars, 0, sizeof m_delChars);
    std::memset(m_stopWords, 0, sizeof m_stopWords);
    m_bookPath[0] = 0;
    std::memset(m_attr, 0, sizeof m_attr);
    std::memset(m_writtenFontNames, 0, sizeof m_writtenFontNames);
    m_reverse[0] = 0;
    m_recent.resize(kRecentSlots);
    std::memset(m_recent.data(), 0, sizeof(RecentSlot) * m_recent.size());
    m_sources.reserve(16);
    g_abort = 0;
}

CEBBook::~CEBBook() {
    closeComplexTemp(true);
    for (auto& s : m_sources) freeSource(&s);
    m_body = nullptr;
    if (m_bookFile) m_bookFile->close();
    freeStringT();
}

void CEBBook::postMessage(CEBBook* book, const char* text) {
    if (book && book->m_callback && text) book->m_callback(text);
}

void CEBBook::setMessageCallback(void (*callback)(const char* text)) {
    m_callback = callback;
    if (m_gaiji) m_gaiji->setMessageCallback(callback);
}

void CEBBook::message(const char* text) const {
    if (m_callback != nullptr) m_callback(text);
}

int CEBBook::percentOf(int64_t done, int64_t total) {
    if (total <= 0 || done >= total) return 100;
    if (done <= 0) return 0;
    // 64-bit: done * 100 cannot overflow for any file size.
    return static_cast<int>((done * 100) / total);
}

void CEBBook::abort() {
    g_abort = 1;
}

bool CEBBook::isAborted() {
    return g_abort != 0;
}

void CEBBook::checkAbort() {
    if (g_abort != 0) throw std::runtime_error("");
}

const char* CEBBook::writtenFontName(int slot) const {
    if (slot < 0 || slot >= FONT_SLOTS) return "";
    return m_writtenFontNames[slot];
}

// ---- string table ----

char* CEBBook::addStringT(const void* bytes, size_t n) {
    char* p;
    try {
        p = m_stringT.add(bytes, n);
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("memory allocate error!!(stringT)");
    }
    if (p == nullptr) throw std::runtime_error("string table overflow");
    return p;
}

int CEBBook::allocStringT(size_t size) {
    if (m_stringT.isOpen()) return 0;
    // Only the first chunk is allocated here; the rest come as the table
    // fills, up to size bytes in all.
    if (!m_stringT.open(size)) {
        message("memory allocate error!!(stringT)\r\n");
        return -1;
    }
    m_stringTSize = size;
    m_stringT.add("", 1);  // offset 0 holds an empty string
    return 0;
}

void CEBBook::freeStringT() {
    m_stringT.release();
}

void CEBBook::restoreStringT(size_t mark) {
    m_stringT.restore(mark);
}

// ---- stop words and keyword list ----

void CEBBook::setStopWords(const char* text) {
    m_stopWordCount = 0;
    if (text == nullptr) return;
    char work[256];
    std::strncpy(work, text, 255);
    work[255] = 0;
    char* save = nullptr;
    for (char* w = strtok_r(work, " ,\t\n", &save); w != nullptr && m_stopWordCount < kMaxStopWords;
         w = strtok_r(nullptr, " ,\t\n", &save)) {
        char key[kMaxKeyLen + 2];
        int n = normalizeKey(key, w, static_cast<int>(std::strlen(w)), 1, kMaxKeyLen);
        if (n <= 0) continue;
        m_stopWords[m_stopWordCount].text = addStringT(key, static_cast<size_t>(n) + 1);
        m_stopWords[m_stopWordCount].len = n;
        ++m_stopWordCount;
    }
}

void CEBBook::LoadKeyword(const char* path) {
    m_keywords.clear();
    FilePtr f(path ? std::fopen(path, "rb") : nullptr);
    if (!f) throw std::runtime_error("Keyword file not found(LoadKeyword)");
    // One line of the list: a key and, after a tab, its second form.
    auto addLine = [this](char* line) {
        // A CR of a CR LF line end is a delimiter too: it belongs to no key.
        char* key = jclib::mbstok(line, "\t\r\n");
        if (key == nullptr) return;
        char* second = jclib::mbstok(nullptr, "\t\r\n");
        KEYWORD_ITEM item;
        size_t kl = std::strlen(key);
        item.key = addStringT(key, kl + 1);
        item.keyLen = static_cast<uint8_t>(kl);
        item.second = nullptr;
        item.secondLen = 0;
        if (second != nullptr) {
            size_t sl = std::strlen(second);
            item.second = addStringT(second, sl + 1);
            item.secondLen = static_cast<uint8_t>(sl);
        }
        m_keywords.push_back(item);
    };
    char line[255];
    const SourceEncoding encoding = textEncoding(f.get());
    if (encoding != kSourceShiftJis) {
        // A list in UTF-8 or UTF-16 is turned into the working Shift_JIS
        // line by line, each line taken as a Shift_JIS list line would be.
        CSourceLines lines(f.get(), encoding, this, "LoadKeyword");
        std::string text;
        while (lines.next(&text)) {
            checkAbort();
            // At most as much as a Shift_JIS list line holds, whole characters.
            size_t n = 0;
            while (n < text.size()) {
                const size_t step = jclib::isSjisLead(static_cast<unsigned char>(text[n])) ? 2 : 1;
                if (n + step > sizeof line - 1) break;
                n += step;
            }
            n = std::min(n, text.size());
            std::memcpy(line, text.data(), n);
            line[n] = 0;
            addLine(line);
        }
    } else {
        std::string working;
        while (std::fgets(line, sizeof line, f.get()) != nullptr) {
            checkAbort();
            // Written the way the text of a Shift_JIS source is, so that its
            // words match that text; a line that would outgrow a list line
            // stays as it is.
            if (sjisToWorking(line, std::strlen(line), &working) && working.size() < sizeof line) {
                addLine(&working[0]);
                continue;
            }
            addLine(line);
        }
    }
    char sentinel[31];
    std::memset(sentinel, 0xFF, 30);
    sentinel[30] = 0;
    KEYWORD_ITEM last = {addStringT(sentinel, 31), nullptr, 30, 0};
    m_keywords.push_back(last);
    std::sort(m_keywords.begin(), m_keywords.end(),
              [](const KEYWORD_ITEM& a, const KEYWORD_ITEM& b) { return std::strcmp(a.key, b.key) < 0; });
}

// ---- sources ----

int CEBBook::addSource(const char* path, const char* title, int type, const char* fields) {
    // Counted until the source is in the book.
    ++m_leftOutSources;
    if (path == nullptr) return -1;
    SOURCE_INFO s;
    std::memset(&s, 0, sizeof s);
    if (!copyField(s.path, sizeof s.path, path)) return -1;
    if (title != nullptr && !copyField(s.title, sizeof s.title, title)) s.title[0] = 0;
    s.type = type;
    uint64_t size = 0;
    if (!openRegularFile(path, &size)) return -1;
    s.fileSize = static_cast<int64_t>(size);
    if (fields != nullptr) {
        size_t n = std::strlen(fields);
        s.fields = static_cast<char*>(std::malloc(n + 1));
        if (s.fields == nullptr) return -1;
        std::memcpy(s.fields, fields, n + 1);
    }
    m_sources.push_back(s);
    --m_leftOutSources;
    return 0;
}

int CEBBook::setCopyright(const char* path) {
    if (path == nullptr) {
        m_copyright[0] = 0;
        return 0;
    }
    if (!copyField(m_copyright, sizeof m_copyright, path)) {
        m_copyright[0] = 0;
        return -1;
    }
    return 0;
}

int CEBBook::ucsToSjis(char* out, int outSize, const uint32_t* units, int count, int wideRange) {
    int create = (m_opt != nullptr && m_opt->autoUniGaiji) ? 1 : 0;
    return ::ucsToSjis(out, outSize, units, count, wideRange, m_gaiji.get(), create);
}

bool CEBBook::sjisToWorking(const char* text, size_t len, std::string* out) {
    int create = (m_opt != nullptr && m_opt->autoUniGaiji) ? 1 : 0;
    return ::sjisToWorking(text, len, out, m_gaiji.get(), create);
}

// ---- open ----

int CEBBook::open(ConvertOpt* opt, BOOK_SPEC* spec) {
    // A book left open by an earlier open without make is closed first.
    cleanUp();
    m_progress = 0;
    try {
        if (opt == nullptr || spec == nullptr) throw std::runtime_error("no book to open(open)");
        m_opt = opt;
        m_spec = spec;
        m_bookFile.reset(new CBookFile);
        m_parseTag.reset(new CParseTag0);
        m_gaiji.reset(new CGaiji);
        m_gaiji->setMessageCallback(m_callback);
        if (spec->hanStart != 0 && spec->zenStart != 0) m_gaiji->setStartCodes(spec->hanStart, spec->zenStart);

        for (auto& s : m_sources) freeSource(&s);
        m_sources.clear();
        m_leftOutSources = 0;
        // The copyright file is set per book, after open.
        m_copyright[0] = 0;
        m_anchorCount = 0;
        m_linkCount = 0;
        clearNavigation();
        clearMedia();
        m_keywords.clear();
        clearIndexEntries();
        m_complexCount = 0;
        m_fontMask = 0;
        m_writtenFontMask = 0;
        std::memset(m_writtenFontNames, 0, sizeof m_writtenFontNames);
        m_writtenFiles.clear();
        m_failedParts = 0;
        g_abort = 0;

        // The search bytes tell readers how keys are folded. None of them
        // speaks of blanks: readers drop blanks from every query, so keys
        // that keep theirs (delBlank off) get a blank-free twin as well
        // (pushBlankFreeTwin).
        m_attr[0] = m_attr[1] = m_attr[2] = 0;
        m_attr[3] = opt->delSym ? 0x41 : 0x45;
        m_attr[4] = 0x55;
        m_attr[5] = 0x40;

        if (opt->stopWord == nullptr) opt->stopWord = dupString("a the");
        if (opt->delChars == nullptr) opt->delChars = dupString("");
        if (opt->arrowCode == nullptr) opt->arrowCode = dupString("222A");
        if (opt->kanaSep1 == nullptr) opt->kanaSep1 = dupString("\x81\x79");
        if (opt->kanaSep2 == nullptr) opt->kanaSep2 = dupString("\x81\x7A");

        if (spec->complexDef[0] == 0) opt->idx[IDX_COMPLEX] = 0;

        std::memset(m_delChars, 0, sizeof m_delChars);
        {
            size_t n = std::strlen(opt->delChars);
            if (n > 128) n = 128;
            toFullWidthSJIS(m_delChars, reinterpret_cast<const unsigned char*>(opt->delChars), static_cast<int>(n),
                            static_cast<int>(sizeof m_delChars) - 1);
        }

        if (opt->maxStringT > m_stringTSize) m_stringTSize = opt->maxStringT;
        if (m_stringTSize < kDefaultStringT) m_stringTSize = kDefaultStringT;
        if (allocStringT(m_stringTSize) != 0) throw std::runtime_error("can't allocate maxStringT");

        setStopWords(opt->stopWord);
        if (opt->keywordFile[0] != 0) LoadKeyword(opt->keywordFile);
        // The definition is read before any file of the book is made, so
        // that a refused definition leaves nothing half-written.
        m_complexDefs.clear();
        if (opt->idx[IDX_COMPLEX]) loadComplexDef(spec->complexDef);

        openBook();

        m_nextBlock = 2;
        if (opt->gaijiFile[0] != 0) m_fontMask = m_gaiji->parseGaijiFont(opt->gaijiFile);
        if (opt->gaijiMapFile[0] != 0) m_gaiji->parseGaijiMap(this, opt->gaijiMapFile);

        if (opt->idx[IDX_COMPLEX]) {
            // The complex entries of the sources go to a temp file until
            // the complex areas are written.
            m_complexTemp.reset(new CComplexTemp);
            if (!m_complexTemp->create()) throw std::runtime_error("can't create temp file(cplx)\r\n");
            m_complexCount = 0;
        }

        message("Body...");
        CBlockStream* body = new CBlockStream(m_nextBlock, 1);
        if (m_bookFile->addEntry(0x00, body, m_attr) != 0) throw std::runtime_error("can't create output file(HONMON)");
        m_body = body;
        m_opened = true;
        return 0;
    } catch (const std::exception& e) {
        message(e.what());
        cleanUp();
        m_progress = 0;
        return -1;
    }
}

void CEBBook::openBook() {
    std::string dir = std::string(m_opt->outPath) + m_spec->dirName;
    if (dir.size() >= sizeof m_bookPath)
        throw std::runtime_error(m_opt->ebType ? "can't create output file(HONMON)"
                                               : "can't create output file(START)");
    // The output folder itself is the user's choice (it may be a link); the
    // book's own folders are made here and never followed elsewhere.
    makeDirectories(m_opt->outPath);
    makeBookFolder(dir);
    std::memcpy(m_bookPath, dir.c_str(), dir.size() + 1);
    const char* fonts = &m_spec->fontNames[0][0];
    if (m_opt->ebType == 1) {
        makeBookFolder(dir + "/DATA");
        makeBookFolder(dir + "/GAIJI");
        m_epwingVersion = m_spec->separateMMData ? 4 : 1;
        const char* name = m_spec->separateMMData ? "HONMON2" : "HONMON";
        if (m_bookFile->open(m_bookPath, name, "w", 1, m_spec->bookTypeID, fonts, 1, m_epwingVersion) != 0)
            throw std::runtime_error("can't create output file(HONMON)");
    } else {
        m_epwingVersion = 1;
        if (m_bookFile->open(m_bookPath, "START", "w", 0, m_spec->bookTypeID, fonts, 1, 1) != 0)
            throw std::runtime_error("can't create output file(START)");
    }
}

void CEBBook::removeStaleFiles() {
    std::sort(m_writtenFiles.begin(), m_writtenFiles.end());
    const std::string book = m_bookPath;
    auto removeStale = [this](const std::string& path) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode) ||
            std::binary_search(m_writtenFiles.begin(), m_writtenFiles.end(), path))
            return;
        if (unlink(path.c_str()) == 0)
            message(("Removed " + path + ": not a file of this build\r\n").c_str());
        else
            message(("can't remove the earlier file(" + path + ")\r\n").c_str());
    };
    // The text files of either family, also as Packwell leaves them.
    for (const char* name : {"START", "DATA/HONMON", "DATA/HONMON2", "DATA/HONMONG", "DATA/HONMONS"}) {
        removeStale(book + "/" + name);
        removeStale(book + "/" + name + ".ebz");
    }
    // GAIJI and MOVIE hold files of the book alone; the book's folders may
    // hold temporary files of a build that was killed.
    const struct {
        const char* folder;
        bool bookFilesOnly;
    } kFolders[] = {{"/GAIJI", true}, {"/MOVIE", true}, {"/DATA", false}, {"", false}};
    for (const auto& f : kFolders) {
        const std::string dir = book + f.folder;
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) names.push_back(e->d_name);
        closedir(d);
        for (const std::string& name : names)
            if (name != "." && name != ".." && (f.bookFilesOnly || CZOutputFile::isTemporaryName(name)))
                removeStale(dir + "/" + name);
    }
    m_writtenFiles.clear();
}

void CEBBook::makeBookFolder(const std::string& path) {
    const int rc = makeOwnDirectory(path.c_str());
    if (rc == 1) throw std::runtime_error("can't write into a folder that is a symbolic link(" + path + ")\r\n");
    if (rc != 0) throw std::runtime_error("can't create output folder(" + path + ")\r\n");
}

// ---- make ----

BookResult CEBBook::make() {
    BookResult result;
    if (!m_opened) {
        // Nothing was prepared (open failed or was never called): no reader
        // may run on a missing body stream.
        message("no book is open(make)\r\n");
        cleanUp();
        m_progress = 100;
        return result;
    }
    m_failedSources = 0;
    try {
        checkAbort();
        runSources();
        // A book given sources of which none could be read would replace
        // the earlier book with one of no entries: it fails instead, before
        // any file of it is committed. A book given no source is built.
        if ((m_leftOutSources > 0 || !m_sources.empty()) && m_failedSources >= static_cast<int>(m_sources.size()))
            throw std::runtime_error("no source of the book could be read: the book is not written\r\n");
        if (!m_sources.empty()) {
            m_body->flushBlock();
            resolveLinks(m_body);
        }
        m_nextBlock += m_body->blockCount();
        m_body->flushBlock();
        message(" done\r\n");

        writeCopyrightArea();

        // The viewer gaiji map is made now and written with the book's
        // other files once the book is complete.
        std::string mapText, plistText;
        if (m_gaiji) CGaijiFontWriter::glossviewGaijiMap(*m_gaiji, &mapText, &plistText);
        if (m_complexTemp && !m_complexTemp->close()) throw std::runtime_error("can't write temp file(cplx)\r\n");

        writeMediaAreas();
        writeMenuArea();

        m_keywords.clear();
        clearMedia();
        writeSearchIndexes();
        writeComplexIndexes();
        writeGaijiFonts();

        checkAbort();
        const char* textName = m_opt->ebType == 1 ? (m_spec->separateMMData ? "HONMON2" : "HONMON") : "START";
        int written = m_bookFile->writeIndex();
        for (const std::string& path : m_bookFile->outputPaths()) m_writtenFiles.push_back(path);
        m_body = nullptr;
        int closed = m_bookFile->close();
        if (written != 0 || closed != 0)
            throw std::runtime_error(std::string("can't write output file(") + textName + ")");
        if (m_gaiji) {
            const std::string map = std::string(m_opt->outPath) + m_spec->dirName + ".map";
            const std::string plist = CGaijiFontWriter::plistPath(map.c_str());
            for (const auto& file : {std::make_pair(map, &mapText), std::make_pair(plist, &plistText)})
                if (!CZOutputFile::writeWhole(file.first, file.second->data(), file.second->size()))
                    throw std::runtime_error("can't write output file(" + pathFileName(file.first) + ")\r\n");
        }
        removeStaleFiles();
        closeComplexTemp(true);
        char line[64];
        std::snprintf(line, sizeof line, "# of Anchors(%d)\r\n", m_anchorCount);
        message(line);
        std::snprintf(line, sizeof line, "# of Links(%d)\r\n", m_linkCount);
        message(line);
        result.written = true;
    } catch (const std::exception& e) {
        result.aborted = isAborted();
        message(e.what());
    }
    result.failedSources = m_failedSources;
    result.failedParts = m_failedParts;
    cleanUp();
    m_progress = 100;
    return result;
}

void CEBBook::failSource(const SOURCE_INFO* source, const std::string& reason) {
    ++m_failedSources;
    message((std::string(source != nullptr ? source->path : "") + " : " + reason + ", source left out\r\n").c_str());
}

void CEBBook::runSources() {
    for (size_t i = 0; i < m_sources.size(); ++i) {
        checkAbort();
        SOURCE_INFO* src = &m_sources[i];
        m_sourceType = src->type;
        m_progress = 0;
        BLOCK_POS start;
        m_body->tell(&start);
        m_sourceStarts.push_back(start);
        // A file that went away or changed into something else since it
        // was added is named, not read as an empty source.
        if (!openRegularFile(src->path, nullptr)) {
            failSource(src, "can't open source file");
            m_body->flushBlock();
            m_body->finish();
            continue;
        }
        switch (src->type) {
            case 0:
            case 1: {
                clearAnchorNames();
                CHTMLParser parser;
                parser.setMessageCallback(m_callback);
                parser.parse(this, m_opt, src, m_body, 1, static_cast<int>(i));
                break;
            }
            case 2: {
                CPDICParser parser;
                parser.parsePDICText(this, m_opt, src, m_body, static_cast<int>(i));
                break;
            }
            case 3: {
                CEIJIROParser parser;
                parser.parse(this, m_opt, src, m_body, static_cast<int>(i));
                break;
            }
            case 4: {
                CPlainParser parser;
                parser.parse(this, m_opt, src, m_body, 1);
                break;
            }
            case 5: {
                CPDICParser parser;
                parser.parsePDIC1LINE(this, m_opt, src, m_body, static_cast<int>(i));
                break;
            }
            case 6: {
                CPDICParser parser;
                parser.parsePDICDic(this, m_opt, src, m_body, static_cast<int>(i));
                break;
            }
            case 7: {
                clearAnchorNames();
                CSAXParser parser;
                parser.setMessageCallback(m_callback);
                parser.parse(this, m_opt, src, m_body, 1, static_cast<int>(i));
                break;
            }
            case 9: {
                CCSVParser parser;
                parser.parseCSV(this, m_opt, src, m_body, static_cast<int>(i), src->fields);
                break;
            }
            default:
                // A source type without a reader adds nothing to the book.
                failSource(src, "no reader for source type " + std::to_string(src->type));
                break;
        }
        m_body->flushBlock();
        m_body->finish();
    }
}

void CEBBook::addArea(int id, CBlockStream* stream, bool search) {
    if (m_bookFile->addEntry(id, stream, search ? m_attr + 3 : m_attr) != 0) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "can't add area 0x%02X to the index table", id);
        throw std::runtime_error(msg);
    }
}

void CEBBook::endArea(CBlockStream* stream) {
    m_nextBlock += stream->blockCount();
    stream->flushBlock();
}

void CEBBook::writeCopyrightArea() {
    if (m_copyright[0] == 0) return;
    bool added = false;
    CBlockStream* s = nullptr;
    try {
        message("Copyright...");
        if (!openRegularFile(m_copyright, nullptr))
            throw std::runtime_error(std::string("can't open copyright file(") + m_copyright + ")\r\n");
        s = new CBlockStream(m_nextBlock, 1);
        addArea(0x02, s, false);
        added = true;
        writeCopyright(m_copyright, s);
        endArea(s);
        message("done\r\n");
    } catch (const std::exception& e) {
        // An abort ends the build; any other copyright error does not.
        if (isAborted()) throw;
        // A page cut short gets no area: the entry is dropped from the
        // index table (start block 0) and the next area takes its blocks.
        if (added) {
            if (INDEX_TABLE_ITEM* item = m_bookFile->findEntry(0x02)) item->start = 0;
            forgetMediaRefs(s);
        }
        ++m_failedParts;
        message(e.what());
    }
}

void CEBBook::writeCopyright(const char* path, CBlockStream* writer) {
    if (m_gaiji) writer->setGaijiMap(m_gaiji->getGaijiMap());
    SOURCE_INFO src;
    std::memset(&src, 0, sizeof src);
    copyField(src.path, sizeof src.path, path);
    src.type = 0;
    uint64_t size = 0;
    if (openRegularFile(path, &size)) src.fileSize = static_cast<int64_t>(size);
    char ext[kPathSize];
    pathExtension(path, ext, sizeof ext);
    if (strcasecmp(ext, "htm") == 0 || strcasecmp(ext, "html") == 0 || strcasecmp(ext, "xml") == 0) {
        clearAnchorNames();
        CHTMLParser parser;
        parser.setMessageCallback(m_callback);
        parser.parse(this, m_opt, &src, writer, 0, 0);
    } else {
        CPlainParser parser;
        parser.parse(this, m_opt, &src, writer, 0);
    }
}

void CEBBook::writeGaijiFonts() {
    if (!m_gaiji) return;
    const GAIJI_CODE_STATE* st = m_gaiji->getGaijiMap();
    int mask = m_fontMask;
    if (st->narrowNext > st->narrowStart) mask |= GAIJI_MASK_8X16;
    if (st->wideNext > st->wideStart) mask |= GAIJI_MASK_16X16;
    // 12x24 and 16x24 both take area 0xF4 and the catalog's 24-dot narrow
    // slot. A book keeps one: 16x24, the narrow 24-dot size of EB readers.
    if ((mask & GAIJI_MASK_16X24) && (mask & GAIJI_MASK_12X24)) {
        mask &= ~GAIJI_MASK_12X24;
        message("Gaiji(12x24) dropped: 16x24 takes its area\r\n");
    }
    for (const GaijiFontInfo& f : kGaijiFonts) {
        if (!(mask & f.maskBit)) continue;
        checkAbort();
        char line[32];
        std::snprintf(line, sizeof line, "Gaiji(%dx%d)...", f.width, f.height);
        message(line);
        CBlockStream* s = new CBlockStream(m_nextBlock, 0);
        addArea(f.area, s, false);
        int n = CGaijiFontWriter::makeGaiji(*m_gaiji, f.width, f.height, s);
        endArea(s);
        std::snprintf(line, sizeof line, "(%d) done\r\n", n);
        message(line);
        m_writtenFontMask |= kFontSlots[f.slot].maskBit;
        const char* name = m_bookFile->fontName(f.slot);
        std::strncpy(m_writtenFontNames[f.slot], name ? name : "", 8);
        m_writtenFontNames[f.slot][8] = 0;
    }
}

void CEBBook::clearNavigation() {
    m_menu.clear();
    m_menuStack.clear();
    m_anchors.clear();
    m_anchorNames.clear();
    m_links.clear();
    m_recordNumbers.clear();
    m_sourceStarts.clear();
    m_sourceNames.clear();
}

void CEBBook::closeComplexTemp(bool remove) {
    if (!m_complexTemp) return;
    if (remove)
        m_complexTemp.reset();
    else
        m_complexTemp->close();
}

const char* CEBBook::complexTempPath() const {
    return m_complexTemp ? m_complexTemp->path().c_str() : "";
}

void CEBBook::cleanUp() {
    closeComplexTemp(true);
    m_complexEntries.clear();
    m_complexNames.clear();
    freeStringT();
    clearIndexEntries();
    m_keywords.clear();
    clearNavigation();
    clearMedia();
    m_stopWordCount = 0;
    m_body = nullptr;
    if (m_bookFile) {
        m_bookFile->close();
        m_bookFile.reset();
    }
    m_parseTag.reset();
    m_gaiji.reset();
    m_opened = false;
}

#include "app/project/xmlprojectfile.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <optional>

#include "app/project/BookSet.h"
#include "app/project/projectoptions.h"
#include "foundation/codes/jclib.h"
#include "platform/UILog.h"
#include "platform/UITextFile.h"

namespace {

const char kRootStart[] =
    "<BookSet xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";

// Text fields of a book, by the element names of the file.
struct BookText {
    const char* name;
    const std::string& (BookInfo::*get)() const;
    void (BookInfo::*set)(const std::string&);
};
const BookText kBookNames[] = {
    {"bookTitle", &BookInfo::bookTitle, &BookInfo::setBookTitle},
    {"dirName", &BookInfo::dirName, &BookInfo::setDirName},
};
// Paths of a book's side files, stored through toRelPath.
const BookText kBookPaths[] = {
    {"complexDef", &BookInfo::complexDef, &BookInfo::setComplexDef},
    {"copyright", &BookInfo::copyright, &BookInfo::setCopyright},
    {"gaijiMap", &BookInfo::gaijiMap, &BookInfo::setGaijiMap},
    {"gaijiFont", &BookInfo::gaijiFont, &BookInfo::setGaijiFont},
    {"indexFile", &BookInfo::indexFile, &BookInfo::setIndexFile},
};
// Gaiji font file names, in FONT_SLOT_* order.
const char* const kFontElements[FONT_SLOTS] = {"g8x16",  "g16x16", "g12x24", "g24x24",
                                               "g16x30", "g32x30", "g24x48", "g48x48"};

// ---- Writing ----

// Why a value cannot go into the file, or null when it can.
const char* unwritable(const std::string& value) {
    if (value.size() > 0x7FFFFFFF || !isUtf8Text(value.data(), static_cast<int>(value.size())))
        return "is not UTF-8 text";
    for (size_t i = 0; i < value.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return "holds a control character that an XML file cannot carry";
        // U+FFFE and U+FFFF (EF BF BE, EF BF BF) are no XML characters.
        if (c == 0xEF && i + 2 < value.size() && static_cast<unsigned char>(value[i + 1]) == 0xBF &&
            static_cast<unsigned char>(value[i + 2]) >= 0xBE)
            return "holds U+FFFE or U+FFFF, which an XML file cannot carry";
    }
    return nullptr;
}

class ProjectWriter {
public:
    explicit ProjectWriter(std::string* out) : m_out(out) { m_out->clear(); }

    void line(int indent, const std::string& text) {
        if (!m_out->empty()) m_out->push_back('\n');
        m_out->append(static_cast<size_t>(indent), ' ');
        m_out->append(text);
    }
    // A value element; where names its book or source in an error.
    void text(int indent, const char* name, const std::string& value, const std::string& where) {
        if (!m_error.empty()) return;
        if (const char* why = unwritable(value)) {
            m_error = std::string("the value of ") + name + (where.empty() ? "" : " (" + where + ")") + " " + why;
            return;
        }
        std::string escaped;
        escaped.reserve(value.size());
        for (char c : value) {
            switch (c) {
                case '&':
                    escaped += "&amp;";
                    break;
                case '<':
                    escaped += "&lt;";
                    break;
                case '>':
                    escaped += "&gt;";
                    break;
                // A raw CR would come back as a line feed.
                case '\r':
                    escaped += "&#13;";
                    break;
                default:
                    escaped.push_back(c);
            }
        }
        line(indent, std::string("<") + name + ">" + escaped + "</" + name + ">");
    }
    void number(int indent, const char* name, int32_t value) { text(indent, name, std::to_string(value), ""); }
    void flag(int indent, const char* name, bool set) { text(indent, name, set ? "true" : "false", ""); }

    const std::string& error() const { return m_error; }

private:
    std::string* m_out;
    std::string m_error;
    bool m_rootSeen = false;
};

void writeBook(ProjectWriter& w, const BookSet& set, const BookInfo& book, size_t number) {
    const std::string where = "book " + std::to_string(number);
    w.line(4, "<BookInfo>");
    w.line(6, "<source>");
    size_t sourceNumber = 0;
    for (const SourceInfo& source : book.getSource()) {
        const std::string sourceWhere = "source " + std::to_string(++sourceNumber) + " of " + where;
        w.line(8, "<SourceInfo>");
        w.text(10, "inFile", set.toRelPath(source.inFile()), sourceWhere);
        w.text(10, "title", source.title(), sourceWhere);
        w.number(10, "sourceTypeID", source.sourceTypeID());
        if (source.sourceTypeID() == 9) w.text(10, "fields", source.fields(), sourceWhere);
        w.line(8, "</SourceInfo>");
    }
    w.line(6, "</source>");
    for (const BookText& f : kBookNames) w.text(6, f.name, (book.*f.get)(), where);
    w.number(6, "bookTypeID", book.bookTypeID());
    for (const BookText& f : kBookPaths) w.text(6, f.name, set.toRelPath((book.*f.get)()), where);
    for (int slot = 0; slot < FONT_SLOTS; ++slot) w.text(6, kFontElements[slot], book.fontName(slot), where);
    w.flag(6, "separateMMData", book.separateMMData());
    w.number(6, "hanStart", static_cast<int32_t>(book.hanStart()));
    w.number(6, "zenStart", static_cast<int32_t>(book.zenStart()));
    w.line(4, "</BookInfo>");
}

// ---- Reading ----

// The integers a field of the project accepts.
struct AcceptedValues {
    int low, high;  // a range
    int except;     // a value inside it that is not taken (low - 1: none)
    const char* text;
    bool accepts(int32_t v) const { return v >= low && v <= high && v != except; }
};
const AcceptedValues kEbTypes = {0, 1, -1, "0 (EB) or 1 (EPWING)"};
// Source types with a reader: 0-7 and 9.
const AcceptedValues kSourceTypes = {0, 9, 8, "0 to 7 or 9"};
// The catalog keeps the book type in one byte.
const AcceptedValues kBookTypes = {0, 255, -1, "0 to 255"};

class ProjectReader {
public:
    explicit ProjectReader(BookSet* set) : m_set(set) {}

    bool parse(const std::string& path, const std::string& bytes);
    const std::string& error() const { return m_error; }

private:
    // Names as written: "prefix:local" for a prefixed name.
    static std::string qualifiedName(const xmlChar* local, const xmlChar* prefix) {
        std::string name = prefix ? reinterpret_cast<const char*>(prefix) + std::string(":") : std::string();
        return name + reinterpret_cast<const char*>(local);
    }
    static void onStart(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                        int, int, const xmlChar**) {
        static_cast<ProjectReader*>(ctx)->start(qualifiedName(local, prefix));
    }
    static void onEnd(void* ctx, const xmlChar* local, const xmlChar* prefix, const xmlChar*) {
        static_cast<ProjectReader*>(ctx)->end(qualifiedName(local, prefix));
    }
    static void onText(void* ctx, const xmlChar* text, int length) {
        ProjectReader* r = static_cast<ProjectReader*>(ctx);
        if (r->m_current && length > 0) r->m_text.append(reinterpret_cast<const char*>(text), length);
    }
    // A project file has no DOCTYPE; one here could only declare entities
    // (expanding ones, or ones naming other files), so reading stops.
    static void onDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
        ProjectReader* r = static_cast<ProjectReader*>(ctx);
        r->fail("line " + std::to_string(xmlSAX2GetLineNumber(r->m_ctxt)) + ": a DOCTYPE is not allowed");
    }
#if LIBXML_VERSION >= 21200
    static void onError(void* ctx, const xmlError* e) {
#else
    static void onError(void* ctx, xmlErrorPtr e) {
#endif
        // Names are taken as written, so an unbound prefix is no error here.
        if (e == nullptr || e->level < XML_ERR_ERROR || e->domain == XML_FROM_NAMESPACE) return;
        std::string message = e->message ? e->message : "unknown error";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        static_cast<ProjectReader*>(ctx)->fail("line " + std::to_string(e->line) + ": " + message);
    }
    static void quiet(void*, const char*, ...) {}

    void fail(const std::string& description) {
        if (m_error.empty()) m_error = description;
        xmlStopParser(m_ctxt);
    }
    void start(const std::string& name);
    void end(const std::string& name);
    void apply(const std::string& name, const std::string& value);
    bool applyBook(const std::string& name, const std::string& value);
    void applySource(const std::string& name, const std::string& value);
    // The value of a number field, read as leadingInteger does; a text that
    // is no number is recorded as refused.
    int32_t number(const std::string& name, const std::string& value);
    // Records a value that is no integer the field accepts.
    void checkValue(const std::string& name, const std::string& value, const AcceptedValues& accepted);

    BookSet* m_set;
    xmlParserCtxtPtr m_ctxt = nullptr;
    std::optional<std::string> m_current;  // currentElement
    std::string m_text;                    // its text so far
    std::optional<BookInfo> m_book;        // bookitem
    std::optional<SourceInfo> m_source;    // sourceitem
    std::string m_error;
    bool m_rootSeen = false;
};

void ProjectReader::start(const std::string& name) {
    // Any other XML file is not a project: it is neither read as an empty
    // one nor, through that, saved over.
    if (!m_rootSeen) {
        m_rootSeen = true;
        if (name != "BookSet") {
            fail("the root element is <" + name + ">, not <BookSet>: not a Lexforge project");
            return;
        }
    }
    m_current = name;
    m_text.clear();
    if (name == "BookInfo") m_book.emplace();
    if (name == "SourceInfo") m_source.emplace();
}

void ProjectReader::end(const std::string& name) {
    // Only an element with nothing else inside it gives a value. An empty
    // one keeps the field's initial value, but a source's type has none.
    if (m_current && !m_text.empty()) apply(*m_current, m_text);
    if (m_current && m_text.empty() && *m_current == "sourceTypeID" && m_source && name == *m_current)
        m_set->refuseValue(*m_current, "", kSourceTypes.text);
    m_current.reset();
    m_text.clear();
    if (name == "BookInfo" && m_book) {
        m_set->getBookArray().push_back(std::move(*m_book));
        m_book.reset();
    } else if (name == "SourceInfo" && m_source) {
        if (m_book) m_book->getSource().push_back(std::move(*m_source));
        m_source.reset();
    }
}

void ProjectReader::apply(const std::string& name, const std::string& value) {
    if (name == "outputPath") {
        m_set->setOutputPath(value);
    } else if (name == "basePath") {
        m_set->setBasePath(value);
    } else if (name == "ebType") {
        m_set->setEbType(leadingInteger(value));
        checkValue(name, value, kEbTypes);
    } else if (name == "indexDef") {
        m_set->setIndexDef(number(name, value));
    } else if (const ProjectOption* option = findProjectOption(name)) {
        ConvertOpt* opt = m_set->getConvertOpt();
        if (option->kind == OPTION_FLAG) setProjectOptionFlag(opt, *option, value != "false");
        if (option->kind == OPTION_NUMBER) setProjectOptionNumber(opt, *option, number(name, value));
        if (option->kind == OPTION_TEXT) m_set->setTextOption(option->textField, value);
    } else if (!(m_book && applyBook(name, value)) && m_source) {
        applySource(name, value);
    }
}

bool ProjectReader::applyBook(const std::string& name, const std::string& value) {
    BookInfo& book = *m_book;
    for (const BookText& f : kBookNames) {
        if (name != f.name) continue;
        (book.*f.set)(value);
        return true;
    }
    for (const BookText& f : kBookPaths) {
        if (name != f.name) continue;
        (book.*f.set)(value);
        return true;
    }
    for (int slot = 0; slot < FONT_SLOTS; ++slot) {
        if (name != kFontElements[slot]) continue;
        book.setFontName(slot, value);
        return true;
    }
    if (name == "bookTypeID") {
        book.setBookTypeID(leadingInteger(value));
        checkValue(name, value, kBookTypes);
    } else if (name == "hanStart") {
        book.setHanStart(static_cast<uint32_t>(number(name, value)));
    } else if (name == "zenStart") {
        book.setZenStart(static_cast<uint32_t>(number(name, value)));
    } else if (name == "separateMMData") {
        book.setSeparateMMData(value != "false");
    } else {
        return false;
    }
    return true;
}

void ProjectReader::applySource(const std::string& name, const std::string& value) {
    SourceInfo& source = *m_source;
    if (name == "inFile") source.setInFile(value);
    if (name == "title") source.setTitle(value);
    if (name == "fields") source.setFields(value);
    if (name == "sourceTypeID") {
        source.setSourceTypeID(leadingInteger(value));
        checkValue(name, value, kSourceTypes);
    }
}

int32_t ProjectReader::number(const std::string& name, const std::string& value) {
    if (!isDecimalInteger(value)) m_set->refuseValue(name, value, "a number");
    return leadingInteger(value);
}

void ProjectReader::checkValue(const std::string& name, const std::string& value, const AcceptedValues& accepted) {
    int32_t v = 0;
    if (wholeInteger(value, &v) && accepted.accepts(v)) return;
    m_set->refuseValue(name, value, accepted.text);
}

bool ProjectReader::parse(const std::string& path, const std::string& bytes) {
    xmlInitParser();
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = onStart;
    sax.endElementNs = onEnd;
    sax.characters = onText;
    sax.ignorableWhitespace = onText;
    // A CDATA section is text like any other.
    sax.cdataBlock = onText;
    sax.internalSubset = onDoctype;
    sax.serror = onError;

    // Messages that the parser would print go nowhere while it runs.
    xmlGenericErrorFunc savedGeneric = xmlGenericError;
    void* savedGenericContext = xmlGenericErrorContext;
    xmlSetGenericErrorFunc(nullptr, quiet);

    const int head = static_cast<int>(std::min<size_t>(bytes.size(), 4));
    m_ctxt = xmlCreatePushParserCtxt(&sax, this, bytes.data(), head, path.c_str());
    if (m_ctxt == nullptr) {
        xmlSetGenericErrorFunc(savedGenericContext, savedGeneric);
        m_error = "can't create an XML parser";
        return false;
    }
    // No network, no DTD loading, no entity substitution, no size lifts.
    xmlCtxtUseOptions(m_ctxt, XML_PARSE_NONET);
    const size_t kChunk = 65536;
    size_t at = static_cast<size_t>(head);
    // An error in the first bytes (while the parser was made) ends it too.
    while (m_error.empty()) {
        size_t n = std::min(kChunk, bytes.size() - at);
        bool last = at + n == bytes.size();
        int rc = xmlParseChunk(m_ctxt, bytes.data() + at, static_cast<int>(n), last ? 1 : 0);
        at += n;
        if (rc != 0 && m_error.empty())
            m_error = "line " + std::to_string(xmlSAX2GetLineNumber(m_ctxt)) + ": not well-formed";
        if (last) break;
    }
    xmlFreeParserCtxt(m_ctxt);
    m_ctxt = nullptr;
    xmlSetGenericErrorFunc(savedGenericContext, savedGeneric);
    return m_error.empty();
}

}  // namespace

bool makeXMLProject(const BookSet& set, std::string* text, std::string* error) {
    ProjectWriter w(text);
    w.line(0, "<?xml version=\"1.0\"?>");
    w.line(0, kRootStart);
    w.line(2, "<booklist>");
    size_t number = 0;
    for (const BookInfo& book : set.getBookArray()) writeBook(w, set, book, ++number);
    w.line(2, "</booklist>");
    w.text(2, "basePath", set.basePath(), "");
    w.text(2, "outputPath", set.outputPath(), "");
    w.number(2, "ebType", set.ebType());
    w.number(2, "indexDef", set.indexDef());
    w.line(2, "<convertOpt>");
    const ConvertOpt& opt = *set.getConvertOpt();
    for (const ProjectOption& option : kProjectOptions) {
        if (option.kind == OPTION_FLAG) w.flag(4, option.name, projectOptionFlag(opt, option));
        if (option.kind == OPTION_NUMBER) w.number(4, option.name, projectOptionNumber(opt, option));
        if (option.kind == OPTION_TEXT) {
            const char* value = opt.*(option.textField);
            w.text(4, option.name, value ? value : "", "");
        }
    }
    w.line(2, "</convertOpt>");
    w.line(0, "</BookSet>");
    if (!w.error().empty()) {
        text->clear();
        if (error) *error = w.error();
        return false;
    }
    return true;
}

bool writeXMLProject(const BookSet& set, const std::string& path, std::string* error) {
    std::string text, why;
    if (!makeXMLProject(set, &text, &why)) {
        if (error) *error = "can't save " + path + ": " + why;
        return false;
    }
    return UIWriteTextFileAtomically(path, text, error);
}

bool readXMLProject(BookSet* set, const std::string& path, std::string* error) {
    set->setIndexDef(0);
    set->initConvOpt();
    set->getBookArray().clear();
    // What the file before this one gave is no refusal of this one.
    set->clearRefusedValues();
    set->setOutputPath("");
    set->setBasePath("");

    std::string bytes, description;
    bool ok = UIReadFileBytes(path, &bytes, &description);
    if (ok) {
        ProjectReader reader(set);
        ok = reader.parse(path, bytes);
        if (!ok) description = reader.error();
    }
    if (!ok) {
        UILog("Parse Error " + description);
        if (error) *error = description;
    }
    std::vector<BookInfo>& books = set->getBookArray();
    set->setCorrentBook(books.empty() ? -1 : 0);
    set->setCorrentSource(books.empty() || books[0].getSource().empty() ? -1 : 0);
    return ok;
}

#include "app/project/BookSet.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/project/lfsprojectfile.h"
#include "app/project/projectoptions.h"
#include "app/project/projectpaths.h"
#include "app/project/xmlprojectfile.h"

BookSet* BookSet::sharedBookSet() {
    // Initialised once, under the lock that the language holds for it.
    static BookSet instance;
    return &instance;
}

BookSet::BookSet() : m_ebType(1), m_indexDef(0x43), m_correntBook(-1), m_correntSource(0) {
    std::memset(&m_convOpt, 0, sizeof m_convOpt);
    initConvOpt();
}

BookSet::~BookSet() {
    for (const ProjectOption& option : kProjectOptions) {
        if (option.kind != OPTION_TEXT) continue;
        std::free(m_convOpt.*(option.textField));
        m_convOpt.*(option.textField) = nullptr;
    }
}

void BookSet::clear() {
    initConvOpt();
    m_bookArray.clear();
    m_basePath.clear();
    m_outputPath.clear();
    m_ebType = 1;
    m_indexDef = 0x43;
    m_correntBook = -1;
    m_refused.clear();
}

void BookSet::setTextOption(char* ConvertOpt::*field, const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, text.c_str(), text.size() + 1);
    std::free(m_convOpt.*field);
    m_convOpt.*field = copy;
}

void BookSet::initConvOpt() {
    for (const ProjectOption& option : kProjectOptions) {
        if (option.kind == OPTION_FLAG) setProjectOptionFlag(&m_convOpt, option, false);
        if (option.kind == OPTION_NUMBER) setProjectOptionNumber(&m_convOpt, option, 0);
    }
    ConvertOpt& o = m_convOpt;
    o.delBlank = o.delSym = o.titleWord = o.hyokiSep = o.makeFig = o.ruby = 1;
    o.HTagIndex = o.HTagMenu = o.DTTagIndex = o.autoUniGaiji = 1;
    o.eijiPronon = o.eijiPartOfSpeech = o.eijiBreak = 1;
    o.addKana = 1;
    o.titleLen = 128;
    o.leftMargin = 1;
    o.tableWidth = 480;
    o.kwordLen = 1;
    o.maxStringT = 256000000;
    setTextOption(&ConvertOpt::stopWord, "a the");
    setTextOption(&ConvertOpt::delChars, "");
    setTextOption(&ConvertOpt::kanaSep1, "\xE3\x80\x90");  // 【
    setTextOption(&ConvertOpt::kanaSep2, "\xE3\x80\x91");  // 】
    setTextOption(&ConvertOpt::arrowCode, "222A");
}

BookInfo* BookSet::selectedBook() {
    if (m_correntBook < 0 || m_correntBook >= static_cast<int>(m_bookArray.size())) return nullptr;
    return &m_bookArray[static_cast<size_t>(m_correntBook)];
}

SourceInfo* BookSet::selectedSource() {
    BookInfo* book = selectedBook();
    if (book == nullptr) return nullptr;
    std::vector<SourceInfo>& sources = book->getSource();
    if (m_correntSource < 0 || m_correntSource >= static_cast<int>(sources.size())) return nullptr;
    return &sources[static_cast<size_t>(m_correntSource)];
}

std::string BookSet::toRelPath(const std::string& path) const {
    return ::toRelPath(path, m_basePath);
}

bool BookSet::saveXMLFile(const std::string& path, std::string* error) const {
    return writeXMLProject(*this, path, error);
}

bool BookSet::loadXMLFile(const std::string& path, std::string* error) {
    return readXMLProject(this, path, error);
}

bool BookSet::loadLFSFile(const std::string& path, std::string* error) {
    return readLFSProject(this, path, error);
}

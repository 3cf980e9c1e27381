// One source file of a book in the project: its path, title, source type code
// (0 to 9, as the builder numbers them) and, for delimited text (type 9), the
// field spec of its columns. Texts are UTF-8; empty means none.
#pragma once

#include <string>

class SourceInfo {
public:
    int sourceTypeID() const { return m_sourceTypeID; }
    void setSourceTypeID(int type) { m_sourceTypeID = type; }
    const std::string& inFile() const { return m_inFile; }
    void setInFile(const std::string& path) { m_inFile = path; }
    const std::string& title() const { return m_title; }
    void setTitle(const std::string& title) { m_title = title; }
    const std::string& fields() const { return m_fields; }
    void setFields(const std::string& fields) { m_fields = fields; }

private:
    int m_sourceTypeID = 0;
    std::string m_inFile;
    std::string m_title;
    std::string m_fields;
};

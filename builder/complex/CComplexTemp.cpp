// Temporary file of complex entries.
#include "builder/complex/CComplexTemp.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "foundation/FileHandle.h"
#include "foundation/codes/jclib.h"

namespace {

// Writes at most CComplexTemp::kMaxText bytes of text, never splitting a
// two-byte character, with control characters as spaces.
void putText(std::string* line, const char* text, int len) {
    if (text == nullptr || len < 0) len = 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    int i = 0;
    while (i < len) {
        int step = jclib::isSjisLead(s[i]) && i + 1 < len ? 2 : 1;
        if (i + step > CComplexTemp::kMaxText) break;
        for (int k = 0; k < step; ++k)
            line->push_back(s[i + k] < 0x20 || s[i + k] == 0x7F ? ' ' : static_cast<char>(s[i + k]));
        i += step;
    }
}

// The next tab-separated field of a line; null when there is none.
char* nextField(char** p) {
    if (*p == nullptr) return nullptr;
    char* field = *p;
    char* tab = std::strchr(field, '\t');
    if (tab != nullptr) {
        *tab = 0;
        *p = tab + 1;
    } else {
        *p = nullptr;
    }
    return field;
}

bool parseNumber(const char* text, unsigned long max, unsigned long* out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (*end != 0 || v > max) return false;
    *out = v;
    return true;
}

}  // namespace

bool CComplexTemp::create() {
    remove();
    char path[64];
    std::snprintf(path, sizeof path, "/tmp/cplx%dXXXXXX.txt", static_cast<int>(getpid()));
    // mkstemps opens with O_EXCL and mode 0600.
    int fd = mkstemps(path, 4);
    if (fd < 0) return false;
    m_file = fdopen(fd, "w");
    if (m_file == nullptr) {
        ::close(fd);
        ::unlink(path);
        return false;
    }
    m_path = path;
    m_failed = false;
    m_count = 0;
    return true;
}

bool CComplexTemp::add(const char* name, int nameLen, const char* key, int keyLen, const char* heading, int headingLen,
                       uint32_t block, uint16_t offset) {
    if (m_file == nullptr) return false;
    std::string line;
    putText(&line, name, nameLen);
    line += '\t';
    putText(&line, key, keyLen);
    line += '\t';
    putText(&line, heading, headingLen);
    char tail[32];
    std::snprintf(tail, sizeof tail, "\t%u\t%u\n", block, static_cast<unsigned>(offset));
    line += tail;
    if (std::fwrite(line.data(), 1, line.size(), m_file) != line.size()) m_failed = true;
    ++m_count;
    return !m_failed;
}

bool CComplexTemp::close() {
    if (m_file != nullptr) {
        if (std::fclose(m_file) != 0) m_failed = true;
        m_file = nullptr;
    }
    return !m_failed;
}

void CComplexTemp::remove() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
    m_count = 0;
}

bool CComplexTemp::load(const std::function<void(const Entry&)>& each) const {
    if (m_path.empty()) return true;
    FilePtr f(std::fopen(m_path.c_str(), "rb"));
    if (!f) return false;
    // Three texts of at most kMaxText bytes, two numbers and separators.
    char line[3 * kMaxText + 64];
    while (std::fgets(line, sizeof line, f.get()) != nullptr) {
        size_t n = std::strlen(line);
        if (n == 0 || line[n - 1] != '\n') return false;
        line[n - 1] = 0;
        char* p = line;
        Entry e;
        char* name = nextField(&p);
        char* key = nextField(&p);
        char* heading = nextField(&p);
        unsigned long block = 0, offset = 0;
        if (heading == nullptr || !parseNumber(nextField(&p), 0xFFFFFFFFul, &block) ||
            !parseNumber(nextField(&p), 2047, &offset) || p != nullptr)
            return false;
        e.name = name;
        e.nameLen = static_cast<int>(std::strlen(name));
        e.key = key;
        e.keyLen = static_cast<int>(std::strlen(key));
        e.heading = heading;
        e.headingLen = static_cast<int>(std::strlen(heading));
        e.block = static_cast<uint32_t>(block);
        e.offset = static_cast<uint16_t>(offset);
        if (e.nameLen > kMaxText || e.keyLen > kMaxText || e.headingLen > kMaxText) return false;
        each(e);
    }
    return !std::ferror(f.get());
}

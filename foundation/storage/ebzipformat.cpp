#include "foundation/storage/ebzipformat.h"

#include "foundation/FileHandle.h"
#include "foundation/byteorder.h"

#include <strings.h>
#include <zlib.h>
#include <cstring>
#include <new>

namespace ebzip {

unsigned indexWidthFor(uint64_t size) {
    if (size < 0x10000ull) return 2;
    if (size < 0x1000000ull) return 3;
    if (size < 0x100000000ull) return 4;
    return 5;
}

void makeHeader(unsigned char* header, uint64_t size, unsigned level, unsigned byte6, uint32_t adler, uint32_t mtime) {
    memcpy(header, "EBZip", 5);
    header[5] = static_cast<unsigned char>(((size < 0xFFFFFFFFull ? 1 : 2) << 4) | (level & 15));
    header[6] = static_cast<unsigned char>(byte6);
    header[7] = 0;
    byteorder::putBeN(header + 8, size, 6);
    byteorder::putBeN(header + 14, adler, 4);
    byteorder::putBeN(header + 18, mtime, 4);
}

bool hasMagic(const char* path) {
    if (!path) return false;
    FilePtr f = openFile(path, "rb");
    char magic[5];
    return f && fread(magic, 1, sizeof magic, f.get()) == sizeof magic && memcmp(magic, "EBZip", 5) == 0;
}

bool knownForm(unsigned char byte5) {
    const unsigned mode = byte5 >> 4, level = byte5 & 15;
    return (mode == 1 || mode == 2) && level <= kMaxLevel;
}

bool hasEbzName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".ebz") == 0;
}

Deflater::Deflater() : m_stream(new (std::nothrow) z_stream) {
    if (!m_stream) return;
    memset(m_stream, 0, sizeof *m_stream);
    if (deflateInit(m_stream, Z_DEFAULT_COMPRESSION) != Z_OK) {
        delete m_stream;
        m_stream = nullptr;
    }
}

Deflater::~Deflater() {
    if (!m_stream) return;
    deflateEnd(m_stream);
    delete m_stream;
}

long Deflater::deflateSlice(unsigned char* out, const unsigned char* in, unsigned inLen) {
    if (!m_stream) return -1;
    z_stream* z = m_stream;
    z->next_in = const_cast<Bytef*>(in);
    z->avail_in = inLen;
    z->next_out = out;
    z->avail_out = inLen;
    int rc = deflate(z, Z_FINISH);
    long len;
    if (rc == Z_STREAM_END)
        len = static_cast<long>(z->total_out);
    else if (rc == Z_OK || rc == Z_BUF_ERROR)
        len = inLen;
    else
        len = -1;
    if (deflateReset(z) != Z_OK) return -1;
    return len;
}

int deflateSlice(unsigned char* out, unsigned* outLen, const unsigned char* in, unsigned inLen) {
    Deflater d;
    long len = d.deflateSlice(out, in, inLen);
    if (len < 0) return -1;
    *outLen = static_cast<unsigned>(len);
    return 0;
}

}  // namespace ebzip

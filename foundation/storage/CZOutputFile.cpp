#include "foundation/storage/CZOutputFile.h"

#include "foundation/pathutil.h"
#include "foundation/storage/CZComp.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

const char CZOutputFile::kTempPrefix[] = ".packwell-";
const char CZOutputFile::kBookTempPrefix[] = ".lexforge-";

namespace {

// The temporary files being written, for removeTemporaries: a slot is free
// (0), being filled (1) or holds a path (2).
const int kTempSlots = 32;
const size_t kTempPathSize = kPathSize + 32;
char g_tempPaths[kTempSlots][kTempPathSize];
std::atomic<int> g_tempState[kTempSlots];

int registerTemp(const std::string& path) {
    if (path.size() >= kTempPathSize) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = 0;
        if (!g_tempState[i].compare_exchange_strong(expected, 1)) continue;
        memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
        g_tempState[i].store(2);
        return i;
    }
    return -1;
}

void releaseTemp(int slot) {
    if (slot >= 0 && slot < kTempSlots) g_tempState[slot].store(0);
}

// Flushes a folder's entries (a rename in it) to disk, as far as it can.
void syncFolderOf(const std::string& path) {
    std::string dir = pathDirName(path);
    if (dir.empty()) dir = (!path.empty() && path[0] == '/') ? "/" : ".";
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}

// The part of input that keepTree keeps below the output folder (see
// buildName); false when input does not lie below treeRoot.
bool keptPath(const std::string& input, const std::string& treeRoot, std::string* rel) {
    if (input.size() >= 2 && isalpha(static_cast<unsigned char>(input[0])) && input[1] == ':') {
        size_t slash = input.find('/');
        *rel = slash == std::string::npos ? input.substr(2) : input.substr(slash + 1);
        return true;
    }
    if (treeRoot.empty()) {
        *rel = input;
        return true;
    }
    if (input.compare(0, treeRoot.size(), treeRoot) != 0) return false;
    if (treeRoot.back() != '/' && (input.size() == treeRoot.size() || input[treeRoot.size()] != '/')) return false;
    *rel = input.substr(treeRoot.size());
    return true;
}

}  // namespace

int CZOutputFile::buildName(const std::string& input, const char* outputDir, bool keepTree, const std::string& treeRoot,
                            bool ssed, const char* suffix, std::string* out) {
    std::string path;
    if (outputDir && *outputDir) {
        path = outputDir;
        if (path.back() != '/') path += '/';
        if (keepTree) {
            std::string rel;
            if (!keptPath(input, treeRoot, &rel)) return ZCOMP_ERR_ARGUMENT;
            // The kept path must stay below the output folder.
            std::string clean;
            size_t pos = 0;
            while (pos <= rel.size()) {
                size_t next = rel.find('/', pos);
                if (next == std::string::npos) next = rel.size();
                std::string part = rel.substr(pos, next - pos);
                pos = next + 1;
                if (part.empty() || part == ".") continue;
                if (part == "..") return ZCOMP_ERR_ARGUMENT;
                if (!clean.empty()) clean += '/';
                clean += part;
            }
            if (clean.empty()) return ZCOMP_ERR_ARGUMENT;
            path += clean;
        } else {
            std::string name = pathFileName(input);
            if (name.empty()) return ZCOMP_ERR_ARGUMENT;
            path += name;
        }
    } else {
        path = input;
    }
    if (ssed) {
        size_t slash = path.rfind('/');
        path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "HONMON";
    }
    if (suffix) {
        size_t slash = path.rfind('/');
        size_t dot = path.rfind('.');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.erase(dot);
        path += suffix;
    }
    if (path.size() > kPathLimit) return ZCOMP_ERR_ARGUMENT;
    *out = path;
    return 0;
}

int CZOutputFile::makeFolders(const std::string& output) {
    std::string dir = pathDirName(output);
    if (!dir.empty() && makeDirectories(dir.c_str()) != 0) return ZCOMP_ERR_OUTPUT;
    return 0;
}

bool CZOutputFile::inMovieFolder(const std::string& path) {
    return strcasecmp(pathFileName(pathDirName(path)).c_str(), "MOVIE") == 0;
}

bool CZOutputFile::isTemporaryName(const std::string& name) {
    for (const char* p : {kTempPrefix, kBookTempPrefix}) {
        const size_t prefix = strlen(p);
        if (name.size() == prefix + 6 && name.compare(0, prefix, p) == 0) return true;
    }
    return false;
}

mode_t CZOutputFile::newFileMode() {
    // The mask is read, not set and restored: umask() would change it for
    // every thread for a moment.
    mode_t mask = 022;
    if (FILE* f = fopen("/proc/self/status", "r")) {
        char line[128];
        while (fgets(line, sizeof line, f) != nullptr) {
            unsigned value = 0;
            if (sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        fclose(f);
    }
    return 0666 & ~mask;
}

void CZOutputFile::removeTemporaries() {
    for (int i = 0; i < kTempSlots; ++i)
        if (g_tempState[i].load() == 2) unlink(g_tempPaths[i]);
}

bool CZOutputFile::create(const std::string& output, mode_t mode, const char* prefix) {
    discard();
    std::string dir = pathDirName(output);
    if (dir.empty() && !output.empty() && output[0] == '/') dir = "/";
    std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/" + (prefix ? prefix : kTempPrefix) + "XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    // SIGINT and SIGTERM wait until the new file is registered, so that
    // removeTemporaries never misses it.
    sigset_t stopping, before;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, &before);
    int fd = mkstemp(name.data());
    if (fd >= 0) {
        m_temp = name.data();
        m_slot = registerTemp(m_temp);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) return false;
    fchmod(fd, mode & 0777);
    m_file.reset(fdopen(fd, "w+b"));
    if (!m_file) {
        ::close(fd);
        discard();
        return false;
    }
    setvbuf(m_file.get(), nullptr, _IOFBF, 1 << 20);
    m_output = output;
    return true;
}

bool CZOutputFile::commit(bool sync) {
    if (!m_file) return false;
    FILE* f = m_file.release();
    bool ok = fflush(f) == 0 && !ferror(f);
    if (ok && sync) ok = fsync(fileno(f)) == 0;
    if (fclose(f) != 0) ok = false;
    if (ok && rename(m_temp.c_str(), m_output.c_str()) != 0) ok = false;
    if (ok) {
        m_temp.clear();
        releaseTemp(m_slot);
        m_slot = -1;
    } else {
        discard();
    }
    // The input may be deleted next: make the new name durable first.
    if (ok && sync) syncFolderOf(m_output);
    return ok;
}

bool CZOutputFile::writeWhole(const std::string& output, const void* data, size_t size) {
    CZOutputFile out;
    if (!out.create(output, newFileMode(), kBookTempPrefix)) return false;
    if (size > 0 && fwrite(data, 1, size, out.file()) != size) return false;
    return out.commit(true);
}

void CZOutputFile::discard() {
    m_file.reset();
    if (!m_temp.empty()) unlink(m_temp.c_str());
    m_temp.clear();
    releaseTemp(m_slot);
    m_slot = -1;
}

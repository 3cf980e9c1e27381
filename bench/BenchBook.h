// Shared steps of the benchmarks that run our reader beside the EB Library:
// a generated source built into an EPWING book (one subbook "BENCH"), an
// ebzip copy at level 5, and the library bound to the book's first subbook.
#pragma once

#include <eb/eb.h>
#include <eb/error.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "builder/CEPWing.h"

namespace bench {

inline void quiet(const char*) {}

// The file opened for writing; the benchmark ends when it cannot be.
inline FILE* createOrExit(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return f;
}

// Builds dir/BENCH/DATA/HONMON from a PDIC one-line source.
inline bool buildBook(const std::string& dir, const std::string& source) {
    CEPWing w;
    w.init();
    w.setMessageCallback(quiet);
    w.setOutput((dir + "/").c_str(), 1);
    if (w.newBook("Bench", "BENCH", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, false, 0, 0) != 0)
        return false;
    if (w.addSource(source.c_str(), nullptr, 5, nullptr) != 0) return false;
    w.makeBook();
    w.closeCatalog();
    w.term();
    return true;
}

// Copies the book at from into to, compressed by ebzip at level 5.
inline void ebzipCopy(const std::string& from, const std::string& to) {
    std::string cmd = "mkdir -p '" + to + "' && ebzip -q -f -k -l 5 -o '" + to + "' '" + from + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "ebzip failed\n");
}

// Binds the library's book to dir and selects its first subbook.
inline bool bindFirstSubbook(EB_Book* book, const std::string& dir) {
    EB_Subbook_Code codes[EB_MAX_SUBBOOKS];
    int count = 0;
    return eb_bind(book, dir.c_str()) == EB_SUCCESS && eb_subbook_list(book, codes, &count) == EB_SUCCESS &&
           count > 0 && eb_set_subbook(book, codes[0]) == EB_SUCCESS;
}

// A scratch folder /tmp/<name>.XXXXXX with plain/ (the book built from the
// source that writeSource writes to the path it is given) and z5/ (its ebzip
// copy); "" on failure.
inline std::string makeBooks(const char* name, const std::function<void(const std::string&)>& writeSource) {
    std::string tmpl = std::string("/tmp/") + name + ".XXXXXX";
    if (!mkdtemp(&tmpl[0])) {
        std::perror("mkdtemp");
        return "";
    }
    writeSource(tmpl + "/src.txt");
    if (!buildBook(tmpl + "/plain", tmpl + "/src.txt")) {
        std::fprintf(stderr, "build failed\n");
        return "";
    }
    ebzipCopy(tmpl + "/plain", tmpl + "/z5");
    return tmpl;
}

// Runs both sides three times (each returns seconds, below 0 on failure) and
// keeps the best time of each; false when a side failed.
inline bool bestOfThree(const std::function<double()>& ours, const std::function<double()>& theirs, double* bestOurs,
                        double* bestTheirs) {
    *bestOurs = *bestTheirs = 1e30;
    for (int i = 0; i < 3; ++i) {
        const double a = ours(), b = theirs();
        if (a < 0 || b < 0) return false;
        if (a < *bestOurs) *bestOurs = a;
        if (b < *bestTheirs) *bestTheirs = b;
    }
    return true;
}

}  // namespace bench

// Builds the bundled sample book: one EPWING book "SAMPLE" from a PDIC
// one-line source and a copyright text, with the word and kana indexes,
// through the conversion driver as the builder application drives it.
//
//   lfsample SAMPLE_DIR OUT_DIR
#include <cstdio>
#include <string>

#include "builder/CEPWing.h"

namespace {

int g_failed = 0;

void printMessage(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
    // The build reports errors as text; the sample counts the ones it knows.
    std::string t(text);
    if (t.find("error") != std::string::npos || t.find("can't") != std::string::npos) g_failed = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: lfsample SAMPLE_DIR OUT_DIR\n");
        return 2;
    }
    const std::string sample = argv[1];
    std::string out = argv[2];
    if (out.empty() || out.back() != '/') out += '/';

    CEPWing* w = new CEPWing;
    w->init();
    w->setMessageCallback(printMessage);
    w->setOutput(out.c_str(), 1);
    // Prefix and suffix word search, prefix and suffix kana search, keyword search.
    const int indexes = 0x01 | 0x02 | 0x04 | 0x08 | 0x10;
    int r = w->newBook("Lexforge Sample", "SAMPLE", 0x60, nullptr, nullptr, nullptr, nullptr, 0, nullptr, indexes,
                       false, 0, 0);
    if (r == 0) {
        w->addSource((sample + "/dict.txt").c_str(), "dict", 5, nullptr);
        w->setCopyright((sample + "/copyright.txt").c_str());
        w->makeBook();
    } else {
        g_failed = 1;
    }
    w->closeCatalog();
    w->term();
    delete w;
    puts(g_failed ? "Failed." : "Done.");
    return g_failed;
}

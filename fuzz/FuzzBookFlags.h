// Default fuzzer flags of the targets that build a whole book from each
// input. Every input of such a target runs the same many thousand edges of
// writing a book (catalog, indexes, fonts) besides those that depend on the
// input. With the default rare-feature threshold (255) each of them counts as
// rare until it has been seen that often, and the fuzzer's bookkeeping of rare
// features, which grows with their number times the features of a run, takes
// most of each input's time. A low threshold drops them early; the schedule
// still favours inputs of really rare features. A flag given on the command
// line wins over these.
#pragma once

#include <cstring>
#include <vector>

namespace fuzzbook {

inline void addDefaultFlags(int* argc, char*** argv) {
    static const char* const kDefaults[] = {"-entropic_feature_frequency_threshold=16"};
    static std::vector<char*> args;
    args.assign(*argv, *argv + *argc);
    for (const char* flag : kDefaults) {
        const size_t nameLength = static_cast<size_t>(std::strchr(flag, '=') - flag + 1);
        bool given = false;
        for (int i = 1; i < *argc; ++i) given = given || std::strncmp((*argv)[i], flag, nameLength) == 0;
        // libFuzzer reads flags before the corpus folders wherever they stand.
        if (!given) args.insert(args.begin() + 1, const_cast<char*>(flag));
    }
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();
}

}  // namespace fuzzbook

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzbook::addDefaultFlags(argc, argv);
    return 0;
}

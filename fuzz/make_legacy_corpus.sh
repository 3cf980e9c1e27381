#!/usr/bin/env bash
# Makes the seed corpus of fuzz_legacy in fuzz/corpus/fuzz_legacy/ with the
# test-side encoders of tests/common (EPWING Huffman V4 and V6, S-EBXA, SSED).
# Usage: fuzz/make_legacy_corpus.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/corpus/fuzz_legacy
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
${CXX:-c++} -std=c++17 -O1 -I. -DLF_SOURCE_DIR=\"$PWD\" -DLF_BINARY_DIR=\"$work\" \
  fuzz/make_legacy_corpus.cpp tests/common/LegacyEncoders.cpp tests/common/testpaths.cpp \
  -o "$work/make_legacy_corpus"
"$work/make_legacy_corpus" "$out"
ls -l "$out"

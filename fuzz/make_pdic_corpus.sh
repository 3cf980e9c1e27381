#!/usr/bin/env bash
# Makes the seed corpus of fuzz_pdic in fuzz/corpus/fuzz_pdic/: small PDIC
# dictionaries written by the test-side writer (tests/common/PdicWriter),
# compiled here together with make_pdic_corpus.cpp.
# Usage: fuzz/make_pdic_corpus.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/corpus/fuzz_pdic
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
${CXX:-c++} -std=c++17 -O1 -I. fuzz/make_pdic_corpus.cpp tests/common/PdicWriter.cpp -o "$work/make_pdic_corpus"
"$work/make_pdic_corpus" "$out"
ls -l "$out"

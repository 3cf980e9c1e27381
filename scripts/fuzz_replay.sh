#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and replays each one's seed corpus
# (fuzz/corpus/<target>/). Usage: scripts/fuzz_replay.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
if ! ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "fuzz: no targets"
  exit 0
fi
# -O1 with the sanitizers: the checks stay, and the targets that build a whole
# book from each input run about a third faster than unoptimised.
CC=clang CXX=clang++ cmake -S . -B "$build" -DLF_FUZZ=ON -DLF_TESTS=OFF -DLF_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1" >/dev/null
cmake --build "$build" -j"$(nproc)"
for src in fuzz/fuzz_*.cpp; do
  t=$(basename "$src" .cpp)
  corpus="fuzz/corpus/$t"
  [ -d "$corpus" ] || { echo "fuzz: $t has no corpus"; exit 1; }
  echo "fuzz: replaying $t"
  "$build/bin/$t" -runs=0 "$corpus"
  # A short bounded run on top of the corpus, in a scratch copy, with a fixed
  # seed so that a result does not depend on chance.
  scratch=$(mktemp -d)
  cp -r "$corpus/." "$scratch/"
  if ! "$build/bin/$t" -seed=1 -max_total_time=15 -rss_limit_mb=2048 -artifact_prefix="$scratch/" "$scratch" \
      >"$scratch.log" 2>&1; then
    echo "fuzz: $t found a fault"; tail -n 60 "$scratch.log"; exit 1
  fi
  rm -rf "$scratch"
done

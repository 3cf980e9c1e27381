#!/usr/bin/env bash
# The main job on the bundled sample project: build it with lexforge, list
# the book with the EB Library's ebinfo as an independent reader, then
# compress its files with Packwell, check them and list the compressed book.
# Usage: examples/run_sample.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here="$(cd "$(dirname "$0")" && pwd)"
out="$build/sample-out"
rm -rf "$out" && mkdir -p "$out/ebz"

echo "== lexforge builds the sample project into $out/book"
"$build/bin/lexforge" build --output "$out/book" "$here/sample/sample.lfx"

echo "== ebinfo (EB Library) reads it"
ebinfo "$out/book"

packwell="$(cd "$build/bin" && pwd)/packwell"
echo "== Packwell compresses the book into $out/ebz"
"$packwell" shrink --level 2 --tree --out "$out/ebz" "$out/book"
echo "== Packwell checks the compressed files"
"$packwell" check "$out/ebz"
echo "== ebinfo reads the compressed book"
ebinfo "$out/ebz"

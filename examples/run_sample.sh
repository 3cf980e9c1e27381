#!/usr/bin/env bash
# The main job on the bundled sample: build the sample book, list it with the
# EB Library's ebinfo as an independent reader, then compress its files with
# Packwell and check them. Usage: examples/run_sample.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here="$(cd "$(dirname "$0")" && pwd)"
out="$build/sample-out"
rm -rf "$out" && mkdir -p "$out/book" "$out/ebz"

echo "== Building the sample book into $out/book"
"$build/bin/lfsample" "$here/sample" "$out/book"

if command -v ebinfo >/dev/null 2>&1; then
  echo "== ebinfo (EB Library) reads it"
  ebinfo "$out/book"
fi

if [ -x "$build/bin/packwell" ]; then
  packwell="$(cd "$build/bin" && pwd)/packwell"
  echo "== Packwell compresses the book into $out/ebz"
  mkdir -p "$out/ebz/SAMPLE/DATA"
  "$packwell" shrink --level 2 --out "$out/ebz" "$out/book/CATALOGS"
  "$packwell" shrink --level 2 --out "$out/ebz/SAMPLE/DATA" "$out/book/SAMPLE/DATA"
  echo "== Packwell checks the compressed files"
  "$packwell" check "$out/ebz"
  if command -v ebinfo >/dev/null 2>&1; then
    echo "== ebinfo reads the compressed book"
    ebinfo "$out/ebz"
  fi
fi

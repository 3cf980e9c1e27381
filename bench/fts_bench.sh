#!/usr/bin/env bash
# Full-text index benchmark on a generated book with 100 MB of body text:
# build speed, index size, query latency for 1 to 5
# characters against a plain scan of the text. Not run by the tests.
#
#   bench/fts_bench.sh [BUILD_DIR] [MB]     (defaults: build, 100)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
mb=${2:-100}

cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j3 --target bench_fts_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/bench_fts_bench" "$work" "$mb"

#!/usr/bin/env bash
# MDict lookup benchmark: CMDictReader against js-mdict (the npm package the
# tests compare with) on one generated .mdx of ENTRIES entries, the same
# exact lookups on both sides, in one run. Prints the time per lookup of each
# side (best of three runs each, taken in turns) and their ratio
# (ours / js-mdict), and the peak resident memory of each process. Goal:
# a ratio of at most 0.3. Not run by the tests.
#
#   bench/mdict_bench.sh [BUILD_DIR] [ENTRIES] [LOOKUPS]   (defaults: build, 100000, 20000)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
entries=${2:-100000}
lookups=${3:-20000}
js=$here/tests/dictformats/mdict/js
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

[ -d "$js/node_modules/js-mdict" ] || { echo "js-mdict is not installed: run scripts/setup.sh" >&2; exit 1; }
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j3 --target bench_mdict_lookup_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$py" "$here/tests/dictformats/mdict/make_mdict_fixtures.py" --bench "$work/bench.mdx" "$entries"

ours="" peer=""
for _ in 1 2 3; do
  read -r _ t ours_hits ours_kib < <("$build/bin/bench_mdict_lookup_bench" "$work/bench.mdx" "$entries" "$lookups")
  [ -z "$ours" ] || [ "$t" -lt "$ours" ] && ours=$t
  read -r _ t peer_hits peer_kib < <(cd "$js" && node bench.mjs "$work/bench.mdx" "$entries" "$lookups")
  [ -z "$peer" ] || [ "$t" -lt "$peer" ] && peer=$t
done
echo "file: $entries entries, $(stat -c %s "$work/bench.mdx") bytes; $lookups exact lookups with record text"
echo "CMDictReader: ${ours} ns per lookup ($ours_hits found), peak memory ${ours_kib} KiB"
echo "js-mdict:     ${peer} ns per lookup ($peer_hits found), peak memory ${peer_kib} KiB"
awk -v a="$ours" -v b="$peer" 'BEGIN { printf "ratio (ours / js-mdict): %.3f\n", a / b }'

#!/usr/bin/env bash
# StarDict benchmark: our reader (bench_stardict_lookup) against sdcv, in one
# run, on one dictionary of about 2*10^5 words made with tabfile from Debian's
# dict-gcide (or dict-wn with "wn"). Both read 10^4 exact queries, one a line,
# from standard input in one process and write the articles found; both have
# their offset caches warm. Prints the best of three wall times:
#   open    = a run with a single query (start, open, one lookup),
#   lookup  = (run with all queries - run with one query) / (queries - 1),
# for each side and as the ratio ours / sdcv, with the queries in index order
# (neighbours share compressed chunks) and in random order (nearly every
# lookup inflates a chunk). Not run by the tests.
#
#   bench/stardict_bench.sh [BUILD_DIR] [gcide|wn]     (defaults: build, gcide)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
source_name=${2:-gcide}
runs=3
queries=10000

command -v sdcv >/dev/null || { echo "sdcv is not installed" >&2; exit 1; }
tabfile=/usr/lib/stardict-tools/tabfile
[ -x "$tabfile" ] || { echo "stardict-tools is not installed" >&2; exit 1; }
src=/usr/share/dictd/$source_name
[ -f "$src.index" ] || { echo "$src.index is missing (dict-$source_name)" >&2; exit 1; }
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j3 --target bench_stardict_lookup >/dev/null
ours=$build/bin/bench_stardict_lookup

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/dic" "$work/home"

# The dictd dictionary as "word TAB article" lines (line ends escaped), and
# 10^4 queries: words that occur once, spread over the dictionary.
python3 - "$src" "$work" "$queries" <<'PY'
import gzip, random, sys
src, work, want = sys.argv[1], sys.argv[2], int(sys.argv[3])
digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
def b64(t):
    v = 0
    for c in t: v = v * 64 + digits.index(c)
    return v
data = gzip.open(src + ".dict.dz").read()
words, seen = [], {}
with open(work + "/dict.txt", "w", encoding="utf-8") as out:
    for line in open(src + ".index", encoding="utf-8", errors="replace"):
        parts = line.rstrip("\n").split("\t")
        if len(parts) < 3 or not parts[0] or parts[0].startswith("00-database"): continue
        word = parts[0].replace("\\", "")
        article = data[b64(parts[1]):b64(parts[1]) + b64(parts[2])].decode("utf-8", "replace")
        article = article.replace("\\", "\\\\").replace("\t", " ").replace("\r", "").replace("\n", "\\n")
        out.write(word + "\t" + article + "\n")
        words.append(word)
        seen[word.lower()] = seen.get(word.lower(), 0) + 1
single = [w for w in words if seen[w.lower()] == 1]
step = max(1, len(single) // want)
chosen = single[::step][:want]
with open(work + "/queries", "w", encoding="utf-8") as q:
    for w in chosen: q.write(w + "\n")
random.seed(1)
random.shuffle(chosen)
with open(work + "/queries.random", "w", encoding="utf-8") as q:
    for w in chosen: q.write(w + "\n")
PY
head -n 1 "$work/queries" > "$work/query1"
"$tabfile" "$work/dict.txt" >/dev/null 2>&1
for ext in ifo idx dict.dz; do mv "$work/dict.$ext" "$work/dic/"; done
ifo=$work/dic/dict.ifo
words=$(sed -n 's/^wordcount=//p' "$ifo")

run_ours() { "$ours" "$ifo" < "$1" > "$work/ours.out"; }
run_sdcv() { HOME=$work/home sdcv -x -e -j --data-dir "$work/dic" < "$1" > "$work/sdcv.out" 2>/dev/null; }

# Best wall time of $runs runs, in seconds.
best() {
    local bestt=""
    for _ in $(seq $runs); do
        local t0 t1
        t0=$(date +%s.%N)
        "$@"
        t1=$(date +%s.%N)
        bestt=$(awk -v a="$t0" -v b="$t1" -v c="$bestt" 'BEGIN { d = b - a; if (c == "" || d < c) c = d; printf "%.6f", c }')
    done
    echo "$bestt"
}

run_ours "$work/query1"; run_sdcv "$work/query1"  # warm both offset caches
o1=$(best run_ours "$work/query1");  s1=$(best run_sdcv "$work/query1")
oN=$(best run_ours "$work/queries"); sN=$(best run_sdcv "$work/queries")
found_ours=$(grep -c . "$work/ours.out" || true)
found_sdcv=$(grep -c '"word":' "$work/sdcv.out" || true)
oR=$(best run_ours "$work/queries.random"); sR=$(best run_sdcv "$work/queries.random")

echo "StarDict benchmark: $words words (tabfile from dict-$source_name), $queries exact queries, best of $runs"
awk -v o1="$o1" -v s1="$s1" -v oN="$oN" -v sN="$sN" -v oR="$oR" -v sR="$sR" -v n="$queries" 'BEGIN {
    ol = (oN - o1) / (n - 1) * 1e6; sl = (sN - s1) / (n - 1) * 1e6
    orr = (oR - o1) / (n - 1) * 1e6; sr = (sR - s1) / (n - 1) * 1e6
    printf "%-22s %12s %12s %8s\n", "", "ours", "sdcv", "ratio"
    printf "%-22s %10.2fms %10.2fms %7.2fx\n", "open", o1 * 1e3, s1 * 1e3, o1 / s1
    printf "%-22s %10.2fus %10.2fus %7.2fx\n", "lookup, index order", ol, sl, ol / sl
    printf "%-22s %10.2fus %10.2fus %7.2fx\n", "lookup, random order", orr, sr, orr / sr
}'
echo "index-order output: ours $found_ours lines, sdcv $found_sdcv entries"

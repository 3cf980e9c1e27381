#!/usr/bin/env bash
# EBZip benchmark: packwell against the EB Library's ebzip / ebunzip on a
# generated 64 MiB book file, at levels 0, 3 and 5. Prints the best of three
# wall times of each side, their ratio, the sizes, and whether the outputs are
# identical. Not run by the tests.
#
#   bench/ebzip_bench.sh [BUILD_DIR] [MIB]     (defaults: build, 64)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
mib=${2:-64}
runs=3

command -v ebzip >/dev/null || { echo "ebzip (eb-utils) is not installed" >&2; exit 1; }
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target packwell bench_make_bench_book >/dev/null
packwell=$build/bin/packwell

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/bench_make_bench_book" "$work/book" "$mib"
honmon=$work/book/SUB1/DATA/HONMON
size=$(stat -c %s "$honmon")

# Best wall time of $runs runs of a command, in seconds; $1 a setup command
# run before each (not timed).
best() {
    local setup=$1; shift
    local bestt=""
    for _ in $(seq $runs); do
        eval "$setup"
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        bestt=$(awk -v a="$t0" -v b="$t1" -v c="$bestt" 'BEGIN { d = b - a; if (c == "" || d < c) c = d; printf "%.3f", c }')
    done
    echo "$bestt"
}

echo "EBZip benchmark: $size-byte HONMON, $(nproc) cores, best of $runs"
printf '%-5s %-8s %10s %10s %8s %12s %10s\n' level run ebzip packwell ratio size same
status=0
for level in 0 3 5; do
    e=$work/e$level; p=$work/p$level; ue=$work/ue$level; up=$work/up$level
    te=$(best "rm -rf $e; mkdir $e" ebzip -q -k -l "$level" -o "$e" "$work/book")
    tp=$(best "rm -rf $p; mkdir $p" "$packwell" shrink --level "$level" --out "$p" "$honmon")
    se=$(stat -c %s "$e/SUB1/DATA/HONMON.ebz"); sp=$(stat -c %s "$p/HONMON.ebz")
    same=yes; cmp -s "$e/SUB1/DATA/HONMON.ebz" "$p/HONMON.ebz" || { same=NO; status=1; }
    printf '%-5s %-8s %9ss %9ss %7.2fx %12s %10s\n' "$level" shrink "$te" "$tp" \
        "$(awk -v a="$te" -v b="$tp" 'BEGIN { print a / b }')" "$sp" "$same"
    [ "$se" = "$sp" ] || echo "  sizes differ: ebzip $se, packwell $sp"

    tue=$(best "rm -rf $ue; mkdir $ue" ebzip -q -k -u -o "$ue" "$e")
    tup=$(best "rm -rf $up; mkdir $up" "$packwell" expand --out "$up" "$e/SUB1/DATA/HONMON.ebz")
    same=yes
    cmp -s "$ue/SUB1/DATA/HONMON" "$honmon" || { same=NO; status=1; }
    cmp -s "$up/HONMON.org" "$honmon" || { same=NO; status=1; }
    printf '%-5s %-8s %9ss %9ss %7.2fx %12s %10s\n' "$level" expand "$tue" "$tup" \
        "$(awk -v a="$tue" -v b="$tup" 'BEGIN { print a / b }')" "$size" "$same"
done
exit $status

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_groupfile in fuzz/corpus/fuzz_groupfile/:
# group files naming the target's scratch catalog ("./CATALOGS", relative to
# the base directory) with titles, options and odd lines.
# Usage: fuzz/make_groupfile_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_groupfile
mkdir -p "$out"
printf './CATALOGS|0|_|_|SUB     |My book|\n%%%%bWordInflect=1\n%%%%searchType=3\n%%%%bFindAllDict=0\n' > "$out/one_entry"
printf './CATALOGS|0|_|_|SUB||\n./CATALOGS|0|G|_|SUB|_|\n./CATALOGS|1|_|_|SUB|none|\n' > "$out/two_entries"
printf '%%%%searchType=65539\n%%%%other=2\n%%%%bWordInflect\n\n|||\n' > "$out/options"
printf './CATALOGS|0|_|_|SUB|\x83\x65\x83\x58\x83\x67|\r\n' > "$out/sjis_title_crlf"
{ printf './CATALOGS|0|'; head -c 600 /dev/zero | tr '\0' '_'; printf '|_|SUB|Long line|\n'; } > "$out/long_line"

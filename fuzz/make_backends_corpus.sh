#!/usr/bin/env bash
# Makes the seed corpus of fuzz_backends in fuzz/corpus/fuzz_backends/ from
# the seeds of the reader targets (a kind byte and a size byte put in front
# of each) and a few markup texts. Run the corpus scripts of fuzz_pdic,
# fuzz_stardict and fuzz_mdict_open first. Usage: fuzz/make_backends_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_backends
mkdir -p "$out"
# seed NAME KIND SIZE FILE: the two bytes and the file's bytes.
seed() { { printf '%b' "\\x$2\\x$3"; cat "$4"; } > "$out/$1"; }
for f in corpus/fuzz_pdic/v6_worked_example corpus/fuzz_pdic/v5_unicode corpus/fuzz_pdic/damaged_truncated_text; do
  seed "pdic-$(basename "$f")-small" 00 10 "$f"
  seed "pdic-$(basename "$f")-large" 00 80 "$f"
done
for f in corpus/fuzz_stardict/fields-mW corpus/fuzz_stardict/dictzip-articles corpus/fuzz_stardict/fields-x; do
  seed "stardict-$(basename "$f")-small" 01 18 "$f"
  seed "stardict-$(basename "$f")-large" 01 80 "$f"
done
for f in corpus/fuzz_mdict_open/v20_utf8_zlib_mdx corpus/fuzz_mdict_open/v20_styles_mdx \
         corpus/fuzz_mdict_open/v12_utf16_mdx; do
  seed "mdict-$(basename "$f")-small" 03 20 "$f"
  seed "mdict-$(basename "$f")-large" 03 80 "$f"
done
markup() { printf '%b' "\\x02\\x$2$3" > "$out/$1"; }
markup dsl-small 0c '[m2][c red]a&b[/c] [s]p.png[/s] [ref]w"q[/ref]{{c}}\\[x\r[/m] http://x y'
markup dsl-large 80 '[b]b[/b][p]n[/p][ex]e[/ex][sub]1[/sub]<font color=#FF0000>c</font><small>s</small>'
echo "fuzz_backends corpus: $(ls "$out" | wc -l) seeds in fuzz/$out"

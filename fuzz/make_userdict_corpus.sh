#!/usr/bin/env bash
# Makes the seed corpus of fuzz_userdict in fuzz/corpus/fuzz_userdict/. Each
# seed is one mode byte (its value modulo 8 picks exact, prefix, suffix, word,
# other word, none, or two combined modes), a search word, a newline and a
# link target. Usage: fuzz/make_userdict_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_userdict
mkdir -p "$out"
seed() { printf '%b' "$2" > "$out/$1"; }
seed exact-quote      '\x00o'"'"'clock\nrow(1)'
seed prefix-percent   '\x01100%\nanswer'
seed prefix-under     '\x01a_b\nrow('
seed suffix-japanese  '\x02駅\nrow(42)'
seed suffix-ascii     '\x02ing\nrow(9223372036854775807)'
seed word             '\x03apple\ngreen apple'
seed other-word       '\x04the\nthe'
seed no-mode          '\x05clock\nclock'
seed injection        '\x00x'"'"' or '"'"'1'"'"'='"'"'1\nx'"'"' or '"'"'1'"'"'='"'"'1'
seed bad-utf8         '\x02\xe9\xa7\n\x85\xa7\xe9'
seed empty            '\x01\n'
echo "fuzz_userdict corpus: $(ls "$out" | wc -l) seeds in fuzz/$out"

#!/usr/bin/env bash
# Makes the seed corpora of fuzz_mdict_open and fuzz_mdict_block from the MDict
# test fixtures (tests/dictformats/mdict/make_mdict_fixtures.py).
#   fuzz_mdict_open:  one selector byte (1: .mdd) followed by a whole file.
#   fuzz_mdict_block: 4 bytes of stated decoded size (top bit: descramble
#                     first) followed by a framed block.
# Usage: fuzz/make_mdict_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$py" ../tests/dictformats/mdict/make_mdict_fixtures.py "$work"

open=corpus/fuzz_mdict_open
block=corpus/fuzz_mdict_block
rm -rf "$open" "$block"
mkdir -p "$open" "$block"
for f in "$work"/*; do
  name=$(basename "$f")
  case "$name" in
    *.mdd) sel='\x01' ;;
    *) sel='\x00' ;;
  esac
  { printf "$sel"; cat "$f"; } > "$open/${name%.*}_${name##*.}"
done

PYTHONPATH=../tests/dictformats/mdict "$py" - "$block" <<'PY'
import os, struct, sys
import make_mdict_fixtures as m
out = sys.argv[1]
text = b"<b>alpha</b> the first letter\x00" * 3
def seed(name, stated, block):
    with open(os.path.join(out, name), "wb") as f:
        f.write(struct.pack(">I", stated) + block)
for kind in ("stored", "zlib", "lzo"):
    seed(kind, len(text), m.frame(text, kind))
    seed(kind + "_stated_larger", len(text) + 5, m.frame(text, kind))
seed("scrambled", 0x80000000 | len(text), m.scramble(m.frame(text, "zlib")))
seed("empty", 0, m.frame(b"", "stored"))
PY
echo "corpora: $(ls "$open" | wc -l) files, $(ls "$block" | wc -l) blocks"

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_zio in fuzz/corpus/fuzz_zio/. Each seed is
# one selector byte (bit 0: file named START; bits 1-3: version hint) followed
# by the file's bytes: tiny EBZip files written by the EB Library's ebzip
# (eb-utils) at every level, plain files, and headers of the SSED, S-EBXA and
# EPWING Huffman forms. Usage: fuzz/make_zio_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_zio
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$out" <<'PY'
import os, struct, sys
work, out = sys.argv[1], sys.argv[2]

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + body)

# Book text for ebzip: block 1 an index table (count 1; record id 0x00,
# start block 2, 3 blocks), then text and pseudo-random bytes.
idx = bytearray(2048)
idx[1] = 1
idx[18:22] = struct.pack(">I", 2)
idx[22:26] = struct.pack(">I", 3)
x, rnd = 12345, bytearray()
for _ in range(2500):
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    rnd.append((x >> 16) & 0xFF)
text = bytes(idx) + b"EBZip seed text. " * 200 + bytes(rnd)
os.makedirs(os.path.join(work, "book/TEST/DATA"))
cat = bytearray(2048)
cat[1] = 1; cat[3] = 1; cat[17] = 1
cat[18:22] = bytes([0x24, 0x22, 0x24, 0x24])
cat[98:106] = b"TEST    "
cat[111] = 1
open(os.path.join(work, "book/CATALOGS"), "wb").write(cat)
open(os.path.join(work, "book/TEST/DATA/HONMON"), "wb").write(text)

seed("plain-32", 0, bytes(range(1, 33)))
seed("plain-31", 0, bytes(range(1, 32)))
seed("plain-text", 0, text[:5000])
seed("ssedinfo", 0, b"SSEDINFO" + bytes(120))
# START with records 0x00 (start 3, 2 blocks), 0x21 (start 4), 0x22 (start 5).
st = bytearray(3 * 2048)
st[1] = 3
for i, rid in enumerate((0x00, 0x21, 0x22)):
    r = 16 + 16 * i
    st[r] = rid
    st[r + 2:r + 6] = struct.pack(">I", 3 + i)
    st[r + 6:r + 10] = struct.pack(">I", 2)
seed("sebxa-start", 1, bytes(st))
# EPWING Huffman header A=32, B=108, C=140, D=512, E=652, pages 1-7 of the
# last group present; hints 4 (V4/V5) and 6 (V6).
hf = bytearray(652 + 64)
hf[0:20] = struct.pack(">5I", 32, 108, 140, 512, 652)
for k in range(1, 8):
    hf[140 - 36 + 4 + 2 * k:140 - 36 + 6 + 2 * k] = struct.pack(">H", 4 * k)
seed("huffman-v4", 4 << 1, bytes(hf))
seed("huffman-v6", 6 << 1, bytes(hf))
PY

for level in 0 1 2 3 4 5; do
  rm -rf "$work/out"; mkdir "$work/out"
  ebzip --keep --force-overwrite --quiet --level "$level" --output-directory "$work/out" "$work/book"
  { printf '\000'; cat "$work/out/TEST/DATA/HONMON.ebz"; } > "$out/ebzip-level$level"
done
# The level 1 file with the mode nibble of header byte 5 (byte 6 of the
# seed) set to 2, which is read, and to 0, which no reader reads.
for mode in 0 2; do
  python3 -c 'import sys; d = bytearray(open(sys.argv[1], "rb").read()); d[6] = (int(sys.argv[2]) << 4) | (d[6] & 15); open(sys.argv[3], "wb").write(d)' \
    "$out/ebzip-level1" "$mode" "$out/ebzip-mode$mode"
done
echo "fuzz_zio corpus: $(ls "$out" | wc -l) seeds in fuzz/$out"

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_bookreader in fuzz/corpus/fuzz_bookreader/.
# Each seed is one selector byte (bits 0-1: file name HONMON, START, DATA.IDX
# or a raw file; bits 2-5: decode options) followed by a small book text file:
# an index table in block 1 and areas holding text with every escape family,
# a menu, search titles, a multi search, gaiji font headers and an image map,
# plus an ebzip copy (eb-utils) of the EPWING seed.
# Usage: fuzz/make_bookreader_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_bookreader
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$out" <<'PY'
import os, struct, sys
sys.path.insert(0, ".")
from bookfile import book
work, out = sys.argv[1], sys.argv[2]

def codes(*cs):
    return b"".join(struct.pack(">H", c) for c in cs)

def bcd(v, n):
    s = "%0*d" % (2 * n, v)
    return bytes(int(s[i:i + 2], 16) for i in range(0, 2 * n, 2))

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + body)

entry = codes(0x1F09, 1, 0x1F41, 0x0160, 0x2422, 0x1F61, 0x1F0A, 0x1F09, 2)
body = (codes(0x1F02) + entry + codes(0x1F04, 0x2341, 0x1F05, 0x1F06, 0x2331, 0x1F07, 0x1F0E, 0x2332, 0x1F0F)
        + codes(0x1F0B, 0x2332, 0x2330, 0x2342, 0x1F0C, 0x1F12, 0x2424, 0x1F13, 0x1FE0, 1, 0x2426, 0x1FE1)
        + codes(0x1F42, 0x2422, 0x1F62) + bcd(3, 4) + bcd(0, 2)
        + codes(0x1F4A) + bcd(1, 2) + bcd(1234, 2) + bcd(5, 4) + bcd(0, 2) + bcd(5, 4) + bcd(100, 2)
        + codes(0x2422, 0x1F6A, 0x1F4D) + bcd(0, 12) + bcd(6, 4) + bcd(0, 2) + codes(0x1F6D)
        + codes(0x1F3B, 0x2361, 0x1F0A, 0x2422, 0x1F5B, 0x1F14) + bytes([0x1E, 0x12, 0, 0])
        + codes(0x1F3C) + bcd(1, 2) + bcd(2, 2) + codes(0, 0, 0, 0) + bcd(6, 4) + bcd(0, 2) + codes(0x2422, 0x1F5C)
        + codes(0x1F39) + bcd(0, 20) + codes(0x234D, 0x2331, 0, 0, 0, 0, 0, 0) + bcd(0, 8) + codes(0x1F59)
        + codes(0xA121, 0xB121, 0x1F1A) + bcd(3, 2) + entry + codes(0x1F03))
menu = codes(0x1F02, 0x1F43, 0x2422, 0x1F63) + bcd(2, 4) + bcd(0, 2) + codes(0x1F0A, 0x1F43, 0x2424, 0x1F63) + bcd(2, 4) + bcd(18, 2) + codes(0x1F03)
titles = bytearray(1050)
titles[350 + 1] = 2
titles[350 + 18:350 + 22] = codes(0x2422, 0x2424)
multi = struct.pack(">H", 1) + bytes(14) + bytes([2, 0]) + codes(0x2422) + bytes(28)
multi += bytes([0x91, 0]) + struct.pack(">II", 2, 1) + bytes(6) + bytes([0x71, 0]) + struct.pack(">II", 3, 1) + bytes(6)
imagemap = (codes(0x1F45, 1, 0, 0x1F31, 0) + bcd(100, 2) + bcd(50, 2) + codes(0x1F51) + bcd(6, 4) + bcd(0, 2)
            + codes(0x1F42) + bcd(12, 2) + bcd(34, 2) + codes(0x1F62) + bcd(2, 4) + bcd(0, 2)
            + codes(0x1F33) + bcd(5, 2) + bcd(6, 2) + codes(0x1F53, 0) + bytes([0, 1, 2, 0, 2, 0])
            + codes(0x1F36) + bcd(1, 2) + bcd(2, 2) + codes(0x91, 0) + codes(0x1F65))
epwing = book([(0x00, 2, 1, [2, 0x41, 0x55, 0x40]), (0x01, 3, 1, [0, 0, 0, 0]), (0x16, 4, 1, [0] * 4),
               (0xFF, 5, 1, [0] * 4), (0x91, 2, 1, [2, 0xFF, 0xFF, 0xC0]), (0x10, 6, 1, [0] * 4)],
              {2: body, 3: menu, 4: bytes(titles), 5: multi, 6: imagemap}, glob=2)
seed("epwing", 0, epwing)
seed("epwing-options", 0x3C, epwing)
seed("data-idx", 2, epwing)
seed("raw", 3, epwing[:5000])
ebbody = (codes(0x1F02) + entry + codes(0x24A2, 0x1F16, 0x2422, 0x1F17, 0x1F1A, 0x2422, 0x1F1B, 0x1F1C, 0x2422, 0x1F1D)
          + codes(0x1F52) + bcd(6, 4) + bcd(0, 2) + codes(0x1F31, 0) + bcd(10, 2) + bcd(10, 2) + codes(0x1F51) + bcd(6, 4) + bcd(0, 2)
          + codes(0x1F33, 0x1F53, 0) + bytes([0, 1, 2, 0, 2, 0]) + codes(0x1FFE, 0x1F0A, 0x1FFF, 0x1FA2, 0xFFFF, 0x1FA3) + entry + codes(0x1F03))
font = bytearray(2048)
font[8:14] = bytes([8, 16, 0xA1, 0x21, 0, 10])
wide = bytearray(2048)
wide[8:14] = bytes([16, 16, 0xB1, 0x21, 0, 10])
latin = bytearray(2048)
latin[8:14] = bytes([8, 16, 0x01, 0x21, 0, 10])
eb = book([(0x00, 2, 1, [0] * 4), (0xF2, 3, 1, [0] * 4), (0xF1, 4, 1, [0] * 4), (0x10, 6, 1, [0] * 4)],
          {2: ebbody, 3: bytes(font), 4: bytes(wide), 6: imagemap})
seed("eb", 1, eb)
eblatin = book([(0x00, 2, 1, [0] * 4), (0xF2, 3, 1, [0] * 4)],
               {2: b"\x1f\x02Latin text \x01\x21 and \x1f\x0a more\x1f\x03", 3: bytes(latin)})
seed("eb-latin1", 1, eblatin)
os.makedirs(os.path.join(work, "book/TEST/DATA"))
cat = bytearray(2048)
cat[1] = 1; cat[3] = 1; cat[17] = 1
cat[18:22] = bytes([0x24, 0x22, 0x24, 0x24])
cat[98:106] = b"TEST    "
cat[111] = 1
open(os.path.join(work, "book/CATALOGS"), "wb").write(cat)
open(os.path.join(work, "book/TEST/DATA/HONMON"), "wb").write(epwing + bytes(4096))
PY

mkdir -p "$work/z"
ebzip --keep --force-overwrite --quiet --level 1 --output-directory "$work/z" "$work/book"
{ printf '\000'; cat "$work/z/TEST/DATA/HONMON.ebz"; } > "$out/epwing-ebzip1"
echo "fuzz_bookreader corpus: $(ls "$out" | wc -l) seeds in fuzz/$out"

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_readermedia in fuzz/corpus/fuzz_readermedia/.
# Each seed is one selector byte (see fuzz/fuzz_readermedia.cpp) followed by
# a file: a book with media areas (JPEG, data chunks, a monochrome bitmap,
# sound data, colour samples), EB books with gaiji fonts (JIS X 0208 and
# ISO 8859-1), gaiji font files (48x48, 12x24), CD-ROM XA sound sectors, a
# gaiji map cache and a gaiji map file.
# Usage: fuzz/make_readermedia_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_readermedia
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, struct, sys
sys.path.insert(0, ".")
from bookfile import book, placed
out = sys.argv[1]

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + body)

jpeg = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 1, 2, 0xFF, 0xDA, 0, 3, 9, 0x12, 0xFF, 0x00, 0xFF, 0xD0, 0x34, 0xFF, 0xD9])
chunk = b"data" + struct.pack("<I", 6) + b"abcdef"
fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, 11025, 11025, 1, 8) + b"data" + struct.pack("<I", 4) + b"\x80\x81\x82\x83"
sample = bytes([0xD9, 0xC5, 0xC4, 0x40, 0xF0, 0xF1, 0]) + bytes(13) + bytes([0x40, 0x56, 0, 0])
seed("media-book", 0x28, book(
    [(0x00, 7, 1, [1]), (0xD2, 2, 1, [1]), (0xD8, 3, 1, [1]), (0xD0, 4, 1, [1]), (0xE0, 5, 2, [1])],
    {2: placed({0: jpeg, 100: chunk}), 3: fmt, 4: bytes(range(64)), 5: sample, 6: sample,
     7: bytes([0x1F, 0x02, 0x1F, 0x03])}))

def font(width, height, first, count, glyph_bytes):
    head = bytes(8) + bytes([width, height]) + struct.pack(">HH", first, count)
    glyphs = bytearray()
    per_half = 1024 // glyph_bytes
    blocks = {}
    for i in range(count):
        k, j = divmod(i, per_half)
        blk = k // 2
        off = j * glyph_bytes + (1024 if k % 2 else 0)
        blocks.setdefault(blk, bytearray(2048))[off:off + glyph_bytes] = bytes([(i * 37 + b) & 0xFF for b in range(glyph_bytes)])
    return head, blocks

head, blocks = font(48, 48, 0xB121, 7, 288)
data = bytearray(2048) ; data[0:len(head)] = head
for k in sorted(blocks): data += blocks[k]
seed("font-file", 0x01, bytes(data))

nhead, nblocks = font(8, 16, 0xA121, 3, 16)
whead, wblocks = font(16, 16, 0xB121, 3, 32)
seed("eb-fonts", 0x04, book([(0x00, 2, 1, [1]), (0xF2, 3, 2, [1]), (0xF1, 5, 2, [1])],
                             {2: bytes([0x1F, 0x02, 0x1F, 0x03]), 3: nhead, 4: bytes(nblocks[0]), 5: whead,
                              6: bytes(wblocks[0])}))

# An ISO 8859-1 EB book's narrow font (codes from 0x0121) and a 12x24 font
# file (rows stored 16 dots wide, 48 bytes a glyph).
lhead, lblocks = font(8, 16, 0x0121, 3, 16)
seed("eb-latin1-font", 0x04, book([(0x00, 2, 1, [1]), (0xF2, 3, 2, [1])],
                                  {2: bytes([0x1F, 0x02, 0x01, 0x21, 0x1F, 0x03]), 3: lhead, 4: bytes(lblocks[0])}))
thead, tblocks = font(12, 24, 0xA17D, 25, 48)
data = bytearray(2048) ; data[0:len(thead)] = thead
for k in sorted(tblocks): data += tblocks[k]
seed("font-file-12x24", 0x01, bytes(data))

xa = bytearray(68 + 18 * 128)
for g in range(18):
    for u in range(8):
        xa[68 + g * 128 + 4 + u] = (u % 4) << 4 | (u + 4)
    for i in range(16, 128):
        xa[68 + g * 128 + i] = (g * 7 + i * 13) & 0xFF
seed("xa-sound", 0x01, bytes(xa))

def entry(code, cps, alt):
    cps = list(cps) + [0] * (3 - len(cps))
    return struct.pack("<HH3I", code, 0, *cps) + alt.ljust(4, b"\0")[:4]

lists = [[entry(0x41, [0xE9], b"e'"), entry(0xA121, [0x65, 0x301], b"")], [entry(0xA121, [0x20B9F], b"shi")], []]
rec = b"BOOK".ljust(32, b"\0") + struct.pack("<3h", *[len(l) for l in lists]) + struct.pack("<qqQ", 1000000000, 0, 12)
rec += b"".join(b"".join(l) for l in lists)
seed("map-cache", 0x02, b"GM04" + struct.pack("<i", 1) + rec)

seed("map-file", 0x03, b"# map\nh41\tu00E9\te'\nzA121\tnull\nzA122\tu3042,u3099\nhA121\t-\tn\ngA122\tU10FFFF\tabcdef\n")
PY
echo "seeds in $out: $(ls "$out" | wc -l)"

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_booksearch in fuzz/corpus/fuzz_booksearch/.
# Each seed is a selector byte (book options), an index choice byte (position
# in the target's id table) and index pages of 2048 bytes: leaf pages of
# every entry layout (one position, text and heading, group heads and members
# of the kana, keyword and style-4 indexes), a two-level tree, end-word keys,
# ISO 8859-1 keys, and body text with heading marks for the text scan.
# Usage: fuzz/make_booksearch_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_booksearch
mkdir -p "$out"

python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]

def jis(text):
    """Full-width JIS X 0208 codes of ASCII letters, or kana given as codes."""
    return b"".join(bytes([0x23, ord(c.upper())]) for c in text)

def pos(block, offset):
    return struct.pack(">IH", block, offset)

def page(kind, entries, fixed=0):
    b = bytes([kind, fixed]) + struct.pack(">H", len(entries)) + b"".join(entries)
    return b.ljust(2048, b"\0")

def plain(key, text, heading=None):
    e = bytes([len(key)]) + key + pos(*text)
    return e + (pos(*heading) if heading else b"")

A, AB, ABC, RUN = jis("A"), jis("AB"), jis("ABC"), jis("RUN")
KANA_A = bytes([0x24, 0x22])        # あ
KANA_AI = bytes([0x24, 0x22, 0x24, 0x24])
seeds = {
    # id index 0 (0x91): one leaf page
    "word_leaf": (0, 0, page(0xA0, [plain(AB, (2, 10), (2, 10)), plain(ABC, (2, 20), (2, 20)),
                                    plain(RUN, (2, 2048), (2, 30))])),
    # a root page and two leaves
    "word_tree": (0, 0, page(0x20, [bytes([len(AB)]) + AB + struct.pack(">I", 3),
                                    bytes([len(RUN)]) + RUN + struct.pack(">I", 4)])
                  + page(0x80, [plain(A, (2, 4), (2, 4)), plain(AB, (2, 8), (2, 8))])
                  + page(0xA0, [plain(RUN, (2, 12), (2, 12))])),
    # 0x71: end-word keys, reversed
    "endword": (0, 2, page(0xA0, [plain(jis("BA"), (2, 10), (2, 10)), plain(jis("NUR"), (2, 20), (2, 20))])),
    # 0x90 kana, group layout, style 2: head, members, a plain entry
    "kana_group": (0, 1, page(0xB0, [b"\x80" + bytes([len(KANA_AI)]) + struct.pack(">H", 2) + KANA_AI,
                                     b"\xC0" + bytes([len(KANA_AI)]) + KANA_AI + pos(2, 10) + pos(2, 10),
                                     b"\xC0" + bytes([len(KANA_AI)]) + KANA_AI + pos(2, 20) + pos(2, 20),
                                     b"\x00" + bytes([len(KANA_A)]) + KANA_A + pos(2, 30) + pos(2, 30)])),
    # 0x80 keyword, group layout, style 3: a head with its heading, members without
    "keyword_group": (4, 4, page(0xB0, [b"\x80" + bytes([len(RUN)]) + struct.pack(">HH", 2, 0) + RUN + pos(2, 0),
                                        b"\xC0" + pos(2, 10), b"\xC0" + pos(2, 20),
                                        b"\x00" + bytes([len(jis("RED"))]) + jis("RED") + pos(2, 40) + pos(2, 40)])),
    # 0x40: one position per entry
    "one_position": (2, 6, page(0xA0, [plain(A, (2, 10)), plain(AB, (2, 20))])),
    # 0xA0, group layout, style 4
    "style4_group": (0, 8, page(0xB0, [b"\x80" + bytes([len(AB)]) + struct.pack(">HH", 1, 0) + AB,
                                       b"\xC0" + pos(2, 10) + pos(2, 10)])),
    # ISO 8859-1 keys
    "latin1": (1, 0, page(0xA0, [plain(b"AB", (2, 10), (2, 10)), plain(b"\xC9TAT", (2, 20), (2, 20))])),
    # body text with heading marks, for the text scan (id of no fixed layout)
    "text": (16, 11, (b"\x1f\x41" + jis("AB") + b"\x1f\x0a" + jis("A") + b"\x21\x21\x21\x21" + jis("B")
                      + b"\x1f\x02" + KANA_A * 3 + bytes([0x24, 0x24])).ljust(2046, b"\0") + b"\x1f\x41"
                     + b"\0\x01" + KANA_A),
}
for name, (select, index, pages) in seeds.items():
    with open("%s/%s" % (out, name), "wb") as f:
        f.write(bytes([select, index]) + pages)
PY
echo "seeds in $out: $(ls "$out" | wc -l)"

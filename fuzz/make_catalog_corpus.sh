#!/usr/bin/env bash
# Makes the seed corpus of fuzz_catalog in fuzz/corpus/fuzz_catalog/. Each
# seed is one selector byte (0 CATALOGS, 1 CATALOG, 2 SSEDINFO, 3 book text
# file) followed by the file's bytes. Usage: fuzz/make_catalog_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_catalog
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, struct, sys
out = sys.argv[1]

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + bytes(body))

def epwing(count, version, second):
    cat = bytearray(4096 if second and count > 6 else 2048)
    cat[0:2] = struct.pack(">H", count)
    cat[3] = version
    for i in range(count):
        r = 16 + 164 * i
        cat[r + 1] = version
        cat[r + 2:r + 6] = bytes([0x23, 0x41, 0x23, 0x42])   # title
        cat[r + 82:r + 90] = b"SUB%-5d" % i                   # directory
        cat[r + 95] = 1                                       # index page
        cat[r + 100:r + 108] = b"GAI16F00"                    # wide 16 font
        if second:
            s = 16 + 164 * (count + i)
            cat[s + 4:s + 12] = b"HONMON2 "
            cat[s + 41:s + 43] = bytes([1, 2])
            cat[s + 55] = 0x11
    return cat

seed("epwing_one", 0, epwing(1, 1, False))
seed("epwing_twelve_v4", 0, epwing(12, 4, True))
seed("epwing_count_13", 0, epwing(12, 1, False)[:1] + b"\x0d" + epwing(12, 1, False)[2:])

eb = bytearray(2048)
eb[0:2] = struct.pack(">H", 2)
for i in range(2):
    r = 16 + 40 * i
    eb[r] = i + 1
    eb[r + 2:r + 4] = bytes([0x23, 0x41])
    eb[r + 32:r + 40] = b"EBSUB%d  " % i
eb[1] = 2
seed("eb_two", 1, eb)

ssed = bytearray(128)
ssed[0:8] = b"SSEDINFO"
ssed[12] = 5
ssed[13:18] = b"Title"
ssed[77] = 2
for t, n in ((0xF1, b"WIDE16"), (0x00, b"HONMON.DIC")):
    rec = bytearray(48)
    rec[3] = t
    rec[16] = len(n)
    rec[17:17 + len(n)] = n
    ssed += rec
seed("ssedinfo", 2, ssed)

book = bytearray(2048 * 4)
book[0:3] = bytes([0, 2, 0x60])
book[16:30] = bytes([0x00, 0]) + struct.pack(">II", 2, 1) + bytes([1, 0, 0, 0])
book[32:46] = bytes([0x91, 0]) + struct.pack(">II", 3, 2) + bytes([2, 0x12, 0x34, 0x56])
book[2048:2052] = bytes([0x1F, 0x02, 0x1F, 0x03])
seed("book_table", 3, book)
PY
echo "corpus: $(ls "$out" | wc -l) seeds in $out"

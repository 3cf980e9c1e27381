#!/usr/bin/env bash
# Makes the seed corpora of fuzz_dictzip and fuzz_stardict in
# fuzz/corpus/<target>/: dictzip files written by the dictzip tool and by a
# small writer here (short chunks, header variants), and tiny StarDict
# dictionaries made by the StarDict tools (tabfile, stardict-text2bin) and
# written here (every field type, plain and dictzip article files, an offset
# cache), packed as fuzz_stardict.cpp describes.
# Usage: fuzz/make_stardict_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
tools=/usr/lib/stardict-tools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p corpus/fuzz_dictzip corpus/fuzz_stardict

# Dictionaries made by the tools.
printf 'apple\tA fruit\\nred\nApple\tCompany\nčaj\tčeský čaj\nabc\tx<y & z\nžena\twoman\n' > "$work/tab.txt"
"$tools/tabfile" "$work/tab.txt" >/dev/null 2>&1
cat > "$work/mixed.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8" ?>
<stardict xmlns:xi="http://www.w3.org/2003/XInclude">
<info><version>2.4.2</version><bookname>Mixed</bookname><author>t</author><email></email>
<website></website><description></description><date>2026.12.10</date><dicttype></dicttype></info>
<article><key>a&amp;b</key><definition type="t"><![CDATA[pron]]></definition>
<definition type="m"><![CDATA[meaning one
line two]]></definition></article>
<article><key>čaj</key><synonym>tea</synonym>
<definition type="x"><![CDATA[<rref>pic.png</rref> and <rref>s.wav</rref>]]></definition></article>
<article><key>Zebra</key><definition type="g"><![CDATA[<b>bold</b>]]></definition>
<definition type="m"><![CDATA[plain]]></definition></article>
</stardict>
XML
"$tools/stardict-text2bin" "$work/mixed.xml" "$work/mixed.ifo" >/dev/null 2>&1

# A text for the dictzip tool (one chunk) and the writer below (short chunks).
python3 -c "
import sys
words = ['apple', 'river', 'stone', 'čaj', 'über', 'north\n']
sys.stdout.write(' '.join(words[(i * 7) % 6] + str(i) for i in range(600)))" > "$work/text"
cp "$work/text" "$work/tool"
dictzip -k -n "$work/tool"
gzip -n -c "$work/text" > "$work/plain.gz"

python3 - "$work" <<'PY'
import os, struct, sys, zlib
work = sys.argv[1]
dz_out, sd_out = "corpus/fuzz_dictzip", "corpus/fuzz_stardict"

def dictzip(data, chlen, name=b"", comment=b"", hcrc=False, end_in_last=False, full=True):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    chunks = []
    for at in range(0, max(len(data), 1), chlen):
        chunks.append(z.compress(data[at:at + chlen]) + z.flush(zlib.Z_FULL_FLUSH if full else zlib.Z_SYNC_FLUSH))
    end = z.flush(zlib.Z_FINISH)
    if end_in_last:
        chunks[-1] += end
        end = b""
    flags = 4 | (8 if name else 0) | (16 if comment else 0) | (2 if hcrc else 0)
    ra = struct.pack("<HHH", 1, chlen, len(chunks)) + b"".join(struct.pack("<H", len(c)) for c in chunks)
    head = bytes([0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 2, 3]) + struct.pack("<H", 4 + len(ra)) + b"RA" + struct.pack("<H", len(ra)) + ra
    if name: head += name + b"\0"
    if comment: head += comment + b"\0"
    if hcrc: head += struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    return head + b"".join(chunks) + end + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)

def put(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)

text = open(os.path.join(work, "text"), "rb").read()
put(dz_out, "tool-one-chunk", open(os.path.join(work, "tool.dz"), "rb").read())
put(dz_out, "plain-gzip", open(os.path.join(work, "plain.gz"), "rb").read())
put(dz_out, "chunks-500", dictzip(text, 500))
put(dz_out, "chunks-64-named", dictzip(text[:2000], 64, b"data.txt", b"comment", True))
put(dz_out, "end-in-last-chunk", dictzip(text[:1500], 300, end_in_last=True))
put(dz_out, "sync-flushed", dictzip(text[:1500], 300, full=False))
foreign = bytearray(dictzip(text[:700], 200))
foreign[12:14] = b"XA"
put(dz_out, "foreign-extra", bytes(foreign))
put(dz_out, "truncated", dictzip(text, 500)[:700])

def index(entries):
    idx, dict_, offset = b"", b"", 0
    for word, article in entries:
        idx += word.encode() + b"\0" + struct.pack(">II", offset, len(article))
        dict_ += article
        offset += len(article)
    return idx, dict_

def ifo(name, count, idxsize, seq):
    text = "StarDict's dict ifo file\nversion=2.4.2\nwordcount=%d\nidxfilesize=%d\nbookname=%s\n" % (count, idxsize, name)
    if seq: text += "sametypesequence=%s\n" % seq
    return text.encode()

def pack(ifo_bytes, idx, article, dz=False, cache=None):
    select = (1 if dz else 0) | (2 if cache is not None else 0)
    out = bytes([select]) + struct.pack("<H", len(ifo_bytes)) + ifo_bytes + struct.pack("<I", len(idx)) + idx
    if cache is not None: out += struct.pack("<I", len(cache)) + cache
    return out + article

def files(stem):
    read = lambda ext: open(os.path.join(work, stem + ext), "rb").read()
    return read(".ifo"), read(".idx"), read(".dict.dz")

i, x, d = files("tab")
put(sd_out, "tabfile", pack(i, x, d, dz=True))
i, x, d = files("mixed")
put(sd_out, "text2bin-mixed", pack(i, x, d, dz=True))

cases = {
    "tm": [("Ab", b"ab\0first"), ("abc", b"abc\0alphabet"), ("čaj", b"\0tea")],
    "x": [("pic", b"<rref>a.PNG</rref> <rref>b.wav</rref>")],
    "n": [("wn", b"<wordgroup><word>a</word><word>b</word></wordgroup><type>n</type><gloss>g</gloss>")],
    "r": [("res", b"img:a.png\nsnd:b.wav\nrest")],
    "mW": [("bin", b"text\0\xff\xfe\x00")],
    "": [("free", b"mfirst\0tpron\0W\0\0\0\2\xff\xfe" + b"xx<rref>c.jpg</rref>\0")],
}
for seq, entries in cases.items():
    idx, art = index(entries)
    put(sd_out, "fields-" + (seq or "none"), pack(ifo("f", len(entries), len(idx), seq), idx, art))
entries = [("Ab", b"first ab"), ("abc", b"alphabet"), ("abd", b"abdomen"), ("apple", b"a fruit"), ("čaj", b"tea")]
idx, art = index(entries)
offsets, at = [], 0
for word, _ in entries:
    offsets.append(at)
    at += len(word.encode()) + 9
cache = b"".join(struct.pack("<I", o) for o in offsets)
put(sd_out, "with-cache", pack(ifo("c", len(entries), len(idx), "m"), idx, art, cache=cache))
bad = cache[:-4] + struct.pack("<I", 0xFFFFFFE9)
put(sd_out, "cache-offset-past-index", pack(ifo("c", len(entries), len(idx), "m"), idx, art, cache=bad))
put(sd_out, "dictzip-articles", pack(ifo("z", len(entries), len(idx), "m"), idx, dictzip(art, 16), dz=True))
put(sd_out, "idxfilesize-too-large", pack(ifo("l", len(entries), 100000, "m"), idx, art))
PY
echo "fuzz_dictzip corpus: $(ls corpus/fuzz_dictzip | wc -l) seeds; fuzz_stardict corpus: $(ls corpus/fuzz_stardict | wc -l) seeds"

#!/usr/bin/env bash
# Makes the seed corpus of fuzz_fts in fuzz/corpus/fuzz_fts/ (input layout in
# fuzz/fuzz_fts.cpp): small indexes of a few keys written as rows, one with a
# heading table, a posting list whose count runs past the file, the same in
# the compact form, and one whole database written by python's sqlite3 in the
# index's schema.
# Usage: fuzz/make_fts_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_fts
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$out" <<'PY'
import os, sqlite3, struct, sys
work, out = sys.argv[1], sys.argv[2]

def postings(lists):
    # lists: [(key, [positions])] in key order -> (fts.dat bytes, [(key, offset)])
    dat = bytearray(b"FTS4" + struct.pack("<I", len(lists)))
    rows = []
    for key, pos in lists:
        rows.append((key, len(dat)))
        dat += struct.pack("<I", len(pos)) + b"".join(struct.pack("<I", p) for p in pos)
    return bytes(dat), rows

def varint(v):
    b = bytearray()
    while v >= 0x80:
        b.append((v & 0x7F) | 0x80)
        v >>= 7
    b.append(v)
    return bytes(b)

def compact_postings(lists, headings):
    # lists: [(sjis key bytes, [positions])] in byte order
    dat = bytearray(b"FTS5" + struct.pack("<IQ", len(lists), len(headings)))
    dat += b"".join(struct.pack("<I", h) for h in headings)
    rows = []
    for key, pos in lists:
        rows.append((key, len(dat)))
        body = b"".join(varint(p - (pos[i - 1] if i else 0)) for i, p in enumerate(pos))
        dat += varint(len(pos)) + varint(len(body)) + body
    return bytes(dat), rows

def query(text):
    return struct.pack("<B", len(text)) + b"".join(struct.pack("<H", ord(c)) for c in text)

def rows_input(selector, q, rows, titles, dat):
    b = bytes([selector]) + query(q) + struct.pack("<B", len(rows))
    for key, offs in rows:
        k = key if isinstance(key, bytes) else key.encode()
        b += struct.pack("<B", len(k)) + k + struct.pack("<q", offs)
    b += struct.pack("<B", len(titles)) + b"".join(struct.pack("<I", t) for t in titles)
    return b + dat

def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)

# "ab" at 4 and 20, "b" alone at 6, あい at 50, い alone at 52.
lists = [("a", [30]), ("ab", [4, 20]), ("b", [6]), ("bc", [26]),
         ("\u3042\u3044", [50]), ("\u3044", [52])]
dat, rows = postings(lists)
write("pairs", rows_input(2, "abc", rows, [0, 42], dat))
write("kana", rows_input(2, "\u3042\u3044", rows, [], dat))
bad = bytearray(dat)
bad[rows[1][1]:rows[1][1] + 4] = struct.pack("<I", 0x40000000)  # count past the end
write("count_past_end", rows_input(0, "ab", rows, [0], bytes(bad)))
write("offset_past_end", rows_input(0, "ab", [("ab", 1 << 33)], [0], dat))

# The compact form: Shift_JIS keys, headings at 0 and 42 in fts.dat.
clists = [(k.encode("shift_jis"), p) for k, p in lists]
cdat, crows = compact_postings(clists, [0, 42])
write("compact_pairs", rows_input(6, "abc", crows, [], cdat))
write("compact_kana", rows_input(6, "\u3042\u3044", crows, [], cdat))
cbad = bytearray(cdat)
cbad[crows[1][1]] = 0x7F  # count past the list's bytes
write("compact_count_past_end", rows_input(4, "ab", crows, [], bytes(cbad)))

path = os.path.join(work, "fts.db")
db = sqlite3.connect(path)
db.execute("PRAGMA page_size=512")
db.executescript("create table ngram_tbl (\tngram\tTEXT,\toffs\tINTEGER);"
                 "create index ngram_tbl_key on ngram_tbl(ngram);"
                 "create table title_tbl (\toffs\tINTEGER);"
                 "create index title_key on title_tbl(offs);"
                 "create table dbinfo (\tver\tINTEGER,\tindexmask\tINTEGER,\tdatsize\tINTEGER,\tkeycount\tINTEGER);")
db.executemany("insert into ngram_tbl values (?,?)", rows)
db.executemany("insert into title_tbl values (?)", [(0,), (42,)])
db.execute("insert into dbinfo values (1, 0, ?, ?)", (len(dat), len(lists)))
db.commit()
db.close()
whole = open(path, "rb").read()
write("whole_database", bytes([3]) + query("ab") + struct.pack("<I", len(whole)) + whole + dat)
PY
ls "$out"

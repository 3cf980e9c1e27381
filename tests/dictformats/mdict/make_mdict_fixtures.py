#!/usr/bin/env python3
"""Writes small MDict files (.mdx, .mdd) for the reader's tests, the fuzz
corpora and the benchmark.

  make_mdict_fixtures.py OUTDIR            every fixture of the tests
  make_mdict_fixtures.py --bench FILE N    one UTF-8 .mdx with N entries
  make_mdict_fixtures.py --words LIST FILE [PER_BLOCK [html]]
                                          an .mdx of every word of a word
                                          list (one a line), PER_BLOCK keys
                                          to a key block (default 16); with
                                          "html" the records also hold
                                          images and sounds (in FILE's .mdd),
                                          entry:// links and redirections
  make_mdict_fixtures.py --raw-words LIST FILE PER_BLOCK VERSION ENCODING
                                          the same words in the order of
                                          their raw bytes (as some writers
                                          sort), VERSION 1.2 or 2.0,
                                          ENCODING UTF-8 or UTF-16
  make_mdict_fixtures.py --large FILE      a sparse .mdd of over 4 GiB

Only the standard library and python3-lzo. The key-index scrambling uses a
small RIPEMD-128 of our own, checked against the published vectors first.
"""

import os
import struct
import sys
import zlib

try:
    import lzo
except ImportError:  # the Debian package lives beside the system Python
    sys.path.append("/usr/lib/python3/dist-packages")
    import lzo

# ---------------------------------------------------------------------------
# RIPEMD-128

_RL = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
       7, 4, 13, 1, 10, 6, 15, 3, 12, 0, 9, 5, 2, 14, 11, 8,
       3, 10, 14, 4, 9, 15, 8, 1, 2, 7, 0, 6, 13, 11, 5, 12,
       1, 9, 11, 10, 0, 8, 12, 4, 13, 3, 7, 15, 14, 5, 6, 2]
_RR = [5, 14, 7, 0, 9, 2, 11, 4, 13, 6, 15, 8, 1, 10, 3, 12,
       6, 11, 3, 7, 0, 13, 5, 10, 14, 15, 8, 12, 4, 9, 1, 2,
       15, 5, 1, 3, 7, 14, 6, 9, 11, 8, 12, 2, 10, 0, 4, 13,
       8, 6, 4, 1, 3, 11, 15, 0, 5, 12, 2, 13, 9, 7, 10, 14]
_SL = [11, 14, 15, 12, 5, 8, 7, 9, 11, 13, 14, 15, 6, 7, 9, 8,
       7, 6, 8, 13, 11, 9, 7, 15, 7, 12, 15, 9, 11, 7, 13, 12,
       11, 13, 6, 7, 14, 9, 13, 15, 14, 8, 13, 6, 5, 12, 7, 5,
       11, 12, 14, 15, 14, 15, 9, 8, 9, 14, 5, 6, 8, 6, 5, 12]
_SR = [8, 9, 9, 11, 13, 15, 15, 5, 7, 7, 8, 11, 14, 14, 12, 6,
       9, 13, 15, 7, 12, 8, 9, 11, 7, 7, 12, 7, 6, 15, 13, 11,
       9, 7, 15, 11, 8, 6, 6, 14, 12, 13, 5, 14, 13, 13, 7, 5,
       15, 5, 8, 11, 14, 14, 6, 14, 6, 9, 12, 9, 12, 5, 15, 8]
_KL = [0, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC]
_KR = [0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0]
_M = 0xFFFFFFFF


def _f(j, x, y, z):
    if j == 0:
        return x ^ y ^ z
    if j == 1:
        return (x & y) | (~x & z)
    if j == 2:
        return (x | (~y & _M)) ^ z
    return (x & z) | (y & ~z)


def _rol(x, n):
    return ((x << n) | (x >> (32 - n))) & _M


def ripemd128(data):
    h = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    msg = data + b"\x80" + b"\x00" * ((55 - len(data)) % 64) + struct.pack("<Q", 8 * len(data))
    for off in range(0, len(msg), 64):
        x = struct.unpack("<16I", msg[off:off + 64])
        a, b, c, d = h
        ar, br, cr, dr = h
        for j in range(64):
            r = j // 16
            t = _rol((a + _f(r, b, c, d) + x[_RL[j]] + _KL[r]) & _M, _SL[j])
            a, d, c, b = d, c, b, t
            t = _rol((ar + _f(3 - r, br, cr, dr) + x[_RR[j]] + _KR[r]) & _M, _SR[j])
            ar, dr, cr, br = dr, cr, br, t
        h = [(h[1] + c + dr) & _M, (h[2] + d + ar) & _M, (h[3] + a + br) & _M, (h[0] + b + cr) & _M]
    return struct.pack("<4I", *h)


for _msg, _hex in ((b"", "cdf26213a150dc3ecb610f18f6b38b46"),
                   (b"abc", "c14a12199c66e4ba84636b0f69144c77"),
                   (b"message digest", "9e327b3d6e523062afc1132d7df9d1b8")):
    assert ripemd128(_msg).hex() == _hex, "RIPEMD-128 does not match the published vector"

# ---------------------------------------------------------------------------
# Blocks


def frame(data, kind):
    """A framed block: type, big-endian Adler-32 of data, payload."""
    data = bytes(data)
    check = struct.pack(">I", zlib.adler32(data) & _M)
    if kind == "stored":
        return b"\x00\x00\x00\x00" + check + data
    if kind == "lzo":
        return b"\x01\x00\x00\x00" + check + lzo.compress(data, 1, False)
    if kind == "zlib":
        return b"\x02\x00\x00\x00" + check + zlib.compress(data)
    raise ValueError(kind)


def scramble(block, salt=0x3695, start=0x36):
    """The inverse of the reader's key-index descrambling."""
    key = ripemd128(block[4:8] + struct.pack("<I", salt))
    out = bytearray(block)
    prev = start
    for i in range(len(block) - 8):
        x = block[8 + i] ^ prev ^ (i & 0xFF) ^ key[i % 16]
        b = ((x >> 4) | (x << 4)) & 0xFF
        out[8 + i] = b
        prev = b
    return bytes(out)


# ---------------------------------------------------------------------------
# Files

# Python codecs of the Encoding values the fixtures use; GB2312 and GB18030
# files hold GBK text.
CODECS = {"GBK": "gbk", "GB2312": "gbk", "GB18030": "gbk", "BIG5": "cp950"}


class Spec:
    def __init__(self, entries, version="2.0", encoding="UTF-8", comp="zlib", encrypted=0, mdd=False,
                 per_key_block=3, per_record_block=4, title="Fixture", extra_attrs="", key_comp=None,
                 info_comp="zlib", attrs=None):
        self.entries = entries  # [(key text, record bytes)] in key order
        self.version = version
        self.encoding = encoding
        self.comp = comp
        self.key_comp = key_comp or comp
        self.info_comp = info_comp
        self.encrypted = encrypted
        self.mdd = mdd
        self.per_key_block = per_key_block
        self.per_record_block = per_record_block
        self.title = title
        self.extra_attrs = extra_attrs
        self.attrs = attrs  # the whole attribute text, when given


def encode_key(spec, key):
    if spec.mdd or spec.encoding == "UTF-16":
        return key.encode("utf-16-le"), 2
    codec = CODECS.get(spec.encoding.upper(), "utf-8")
    return key.encode(codec), 1


def encode_record(spec, record):
    if isinstance(record, bytes):
        return record
    if spec.encoding == "UTF-16":
        return record.encode("utf-16-le") + b"\x00\x00"
    codec = CODECS.get(spec.encoding.upper(), "utf-8")
    return record.encode(codec) + b"\x00"


def build(spec):
    v2 = spec.version >= "2.0"
    n = 8 if v2 else 4
    num = (lambda v: struct.pack(">Q", v)) if v2 else (lambda v: struct.pack(">I", v))
    size = (lambda v: struct.pack(">H", v)) if v2 else (lambda v: struct.pack(">B", v))

    attrs = 'GeneratedByEngineVersion="%s" RequiredEngineVersion="%s" Encrypted="%d" Encoding="%s" ' \
            'Format="Html" Title="%s" %s' % (spec.version, spec.version, spec.encrypted,
                                             "" if spec.mdd else spec.encoding, spec.title, spec.extra_attrs)
    if spec.attrs is not None:
        attrs = spec.attrs
    root = "Library_Data" if spec.mdd else "Dictionary"
    header = ("<%s %s/>\r\n\x00" % (root, attrs)).encode("utf-16-le")

    # Records laid end to end, then cut into record blocks.
    stream = bytearray()  # grown in place: files of 10^5 entries stay fast
    offsets = []
    for _, record in spec.entries:
        offsets.append(len(stream))
        stream += encode_record(spec, record)
    rec_blocks = []
    bounds = offsets[::spec.per_record_block] + [len(stream)]
    for a, b in zip(bounds, bounds[1:]):
        rec_blocks.append(stream[a:b])

    key_blocks = []
    infos = bytearray()
    for i in range(0, len(spec.entries), spec.per_key_block):
        chunk = list(range(i, min(i + spec.per_key_block, len(spec.entries))))
        raw = bytearray()
        for j in chunk:
            kb, unit = encode_key(spec, spec.entries[j][0])
            raw += num(offsets[j]) + kb + (b"\x00" * unit)
        framed = frame(raw, spec.key_comp)
        key_blocks.append(framed)
        first, unit = encode_key(spec, spec.entries[chunk[0]][0])
        last, _ = encode_key(spec, spec.entries[chunk[-1]][0])
        term = b"\x00" * unit if v2 else b""
        infos += num(len(chunk)) + size(len(first) // unit) + first + term + size(len(last) // unit) + last + term
        infos += num(len(framed)) + num(len(raw))

    infos = bytes(infos)
    out = struct.pack(">I", len(header)) + header + struct.pack("<I", zlib.adler32(header) & _M)
    key_blocks_data = b"".join(key_blocks)
    if v2:
        info_block = frame(infos, spec.info_comp)
        if spec.encrypted & 2:
            info_block = scramble(info_block)
        head = num(len(key_blocks)) + num(len(spec.entries)) + num(len(infos)) + num(len(info_block)) + \
            num(len(key_blocks_data))
        out += head + struct.pack(">I", zlib.adler32(head) & _M) + info_block
    else:
        out += num(len(key_blocks)) + num(len(spec.entries)) + num(len(infos)) + num(len(key_blocks_data)) + infos
    out += key_blocks_data

    framed_records = [frame(r, spec.comp) for r in rec_blocks]
    table = b"".join(num(len(f)) + num(len(r)) for f, r in zip(framed_records, rec_blocks))
    out += num(len(rec_blocks)) + num(len(spec.entries)) + num(len(table)) + \
        num(sum(len(f) for f in framed_records)) + table + b"".join(framed_records)
    return out


def sort_entries(entries, codec=None):
    """Key order: case folded, by the bytes of the file's code when it has one."""
    if codec:
        return sorted(entries, key=lambda e: e[0].lower().encode(codec))
    return sorted(entries, key=lambda e: e[0].lower())


def reader_order(entries, encoding="UTF-8", mdd=False, case_sensitive=False):
    """The order the reader's block search assumes: the key's bytes (UTF-16
    units for UTF-16 keys), ASCII letters folded unless case-sensitive; a key
    before every longer key it begins."""
    def units(key):
        if mdd or encoding == "UTF-16":
            raw = key.encode("utf-16-le")
            u = [raw[i] | (raw[i + 1] << 8) for i in range(0, len(raw), 2)]
        else:
            u = list(key.encode(CODECS.get(encoding.upper(), "utf-8")))
        if not case_sensitive:
            u = [c + 32 if 65 <= c <= 90 else c for c in u]
        return u
    return sorted(entries, key=lambda e: (units(e[0]), e[0]))


# Families of keys that begin with one another, so that blocks of two keys
# end on a key that is a proper prefix of the first key of the next block.
SPLIT_WORDS = ["app", "apple", "apples", "applesauce", "applet", "applets", "apply", "apt", "aptitude",
               "b", "ba", "bab", "baba", "babas", "babbitt", "c"]
SPLIT_CHINESE = ["中", "中文", "中文字", "中文字典", "中国", "中国人", "字", "字典", "字典学", "十", "十一"]
SPLIT_BIG5 = ["中", "中文", "中文字", "中文字典", "中國", "中國人", "字", "字典", "字典學", "十", "十一"]
SPLIT_RESOURCES = ["\\a.png", "\\a.png2", "\\a.png2x", "\\a.pngs", "\\img\\b", "\\img\\b.png",
                   "\\img\\b.png.bak", "\\z"]
# Keys that differ only in case, and a family across them.
CASE_WORDS = ["Apple", "apple", "APPLE", "Applet", "applet", "apples", "Banana", "banana", "bandana", "Zebra"]


def split_fixtures(f):
    """Two keys a block, each block ending on a prefix of the next one's first key."""
    words = [(w, "record of " + w) for w in SPLIT_WORDS]
    f["v20_split_utf8.mdx"] = Spec(reader_order(words), per_key_block=2, per_record_block=3)
    f["v12_split_utf8.mdx"] = Spec(reader_order(words), version="1.2", per_key_block=2, per_record_block=3)
    f["v20_split_utf16.mdx"] = Spec(reader_order(words, "UTF-16"), encoding="UTF-16", per_key_block=2)
    chinese = [(w, "record of " + w) for w in SPLIT_CHINESE]
    f["v20_split_gbk.mdx"] = Spec(reader_order(chinese, "GBK"), encoding="GBK", per_key_block=2)
    big5 = [(w, "record of " + w) for w in SPLIT_BIG5]
    f["v20_split_big5.mdx"] = Spec(reader_order(big5, "BIG5"), encoding="BIG5", per_key_block=2)
    res = [(n, ("bytes of " + n).encode()) for n in SPLIT_RESOURCES]
    f["v20_split.mdd"] = Spec(reader_order(res, mdd=True), mdd=True, per_key_block=2, per_record_block=3)
    cased = [(w, "record of " + w) for w in CASE_WORDS]
    f["v20_case_no.mdx"] = Spec(reader_order(cased), per_key_block=2, extra_attrs='KeyCaseSensitive="No"')
    f["v20_case_yes.mdx"] = Spec(reader_order(cased, case_sensitive=True), per_key_block=2,
                                 extra_attrs='KeyCaseSensitive="Yes"')


def raw_order(entries):
    """The order of writers that sort keys by their raw text: code points
    (the bytes of UTF-8, the units of UTF-16 below U+10000), case kept,
    spaces, hyphens and full stops compared as characters."""
    return sorted(entries, key=lambda e: e[0])


# Key sets whose raw order differs from the folded one, for files written one
# key to a block in raw order.
RAW_SETS = {
    "bac": ["B", "a", "c"],
    "phrase": ["Breakdown", "break", "break down", "break-in", "break.up", "breakable", "breakdown", "breakdowns",
               "brief"],
    "in": ["i", "i need", "i need to vomit", "in", "in-law", "inch", "inn", "into", "is"],
    "case": ["APPLE", "Apple", "a b", "a-b", "a.b", "aB", "ab", "abc", "apple"],
}
RAW_RESOURCES = ["\\Zed.JPG", "\\Style.css", "\\a.png", "\\img\\b.png", "\\z.bin"]


def raw_fixtures(f):
    for name, keys in RAW_SETS.items():
        entries = raw_order([(k, "record of " + k) for k in keys])
        for tag, version, encoding in (("v20", "2.0", "UTF-8"), ("v20_utf16", "2.0", "UTF-16"),
                                       ("v12", "1.2", "UTF-8")):
            f["raw_%s_%s.mdx" % (name, tag)] = Spec(entries, version=version, encoding=encoding, per_key_block=1,
                                                    per_record_block=2, extra_attrs='KeyCaseSensitive="No"')
    f["raw_case_yes_v20.mdx"] = Spec(raw_order([(k, "record of " + k) for k in RAW_SETS["case"]]),
                                     per_key_block=1, extra_attrs='KeyCaseSensitive="Yes"')
    res = raw_order([(n, ("bytes of " + n).encode()) for n in RAW_RESOURCES])
    f["raw_v20.mdd"] = Spec(res, mdd=True, per_key_block=1, per_record_block=2)
    f["raw_v12.mdd"] = Spec(res, version="1.2", mdd=True, per_key_block=1, per_record_block=2)


def raw_word_list_mdx(list_path, out_path, per_block, version, encoding):
    """Every distinct word of a word list in raw order, its record naming it."""
    with open(list_path, encoding="utf-8", errors="strict") as fh:
        words = sorted({w.strip() for w in fh if w.strip() and len(w.strip().encode()) < 250})
    entries = raw_order([(w, "<b>%s</b> entry %d" % (xml_escape(w), i)) for i, w in enumerate(words)])
    # Record blocks of 512 records, as real files hold some tens of kilobytes.
    with open(out_path, "wb") as fh:
        fh.write(build(Spec(entries, version=version, encoding=encoding, per_key_block=per_block,
                            per_record_block=512, title="Raw words")))


def word_list_mdx(list_path, out_path, per_block, html=False):
    """Every distinct word of a word list, its record naming it in HTML. With
    html, word i also links to another word (every 5th), shows an image (every
    10th) or a sound (every 13th), or redirects to another word (every 7th,
    "@@@LINK="); the images and sounds go into the .mdd beside."""
    with open(list_path, encoding="utf-8", errors="strict") as fh:
        words = sorted({w.strip() for w in fh if w.strip() and len(w.strip().encode()) < 250})
    n = len(words)
    entries, resources = [], []
    for i, w in enumerate(words):
        record = "<b>%s</b> entry %d" % (xml_escape(w), i)
        if html:
            other = words[(i * 31 + 5) % n]
            if i % 7 == 3:
                record = "@@@LINK=" + other
            else:
                if i % 5 == 0:
                    record += ' see <a href="entry://%s">%s</a>' % (xml_escape(other), xml_escape(other))
                if i % 10 == 0:
                    record += ' <img alt="%d" src="img/%d.png">' % (i, i)
                    resources.append(("\\img\\%d.png" % i, b"PNG %d" % i))
                if i % 13 == 0:
                    record += ' <a href="sound://snd/%d.spx">&#9654;</a>' % i
                    resources.append(("\\snd\\%d.spx" % i, b"SPX %d" % i))
        entries.append((w, record))
    with open(out_path, "wb") as fh:
        fh.write(build(Spec(reader_order(entries), per_key_block=per_block, per_record_block=per_block,
                            title="Words")))
    if resources:
        with open(os.path.splitext(out_path)[0] + ".mdd", "wb") as fh:
            fh.write(build(Spec(reader_order(resources, mdd=True), mdd=True, per_key_block=per_block,
                                per_record_block=per_block)))


WORDS = [("alpha", "<b>alpha</b> the first letter"),
         ("apple", "a fruit that grows on trees"),
         ("apply", "to put to use"),
         ("banana", "a long yellow fruit"),
         ("beta", "the second letter"),
         ("cherry", "a small red fruit"),
         ("delta", "a river mouth; the fourth letter"),
         ("echo", "a sound heard again"),
         ("zebra", "an animal with stripes")]
UNICODE_WORDS = sort_entries([("café", "coffee house"), ("naïve", "innocent"), ("日本", "Japan"),
                              ("𝄞clef", "treble clef (outside the BMP)"), ("über", "over")])
CHINESE = sort_entries([("中文", "Chinese language"), ("啊", "ah"), ("字典", "dictionary"), ("abc", "latin")], "gbk")
BIG5_WORDS = sort_entries([("中文", "Chinese language"), ("字典", "dictionary"), ("十", "ten"), ("abc", "latin")],
                          "cp950")
RESOURCES = sorted([("\\img\\logo.png", b"\x89PNG\r\n\x1a\n" + bytes(range(40))),
                    ("\\style.css", b"body { color: red; }\n"),
                    ("\\sound\\a.spx", b"Speex" + b"\x00\x01\x02" * 30),
                    ("\\Z.bin", bytes(range(256)))], key=lambda e: e[0].lower())


def fixtures():
    f = {}
    for version in ("1.2", "2.0"):
        tag = version.replace(".", "")
        for comp in ("stored", "zlib", "lzo"):
            f["v%s_utf8_%s.mdx" % (tag, comp)] = Spec(WORDS, version=version, comp=comp)
        f["v%s_utf16.mdx" % tag] = Spec(UNICODE_WORDS, version=version, encoding="UTF-16", per_key_block=2,
                                        per_record_block=2)
        f["v%s_resources.mdd" % tag] = Spec(RESOURCES, version=version, mdd=True, per_key_block=2,
                                            per_record_block=2)
    f["v20_utf8_unicode.mdx"] = Spec(UNICODE_WORDS, per_key_block=2)
    f["v20_encrypted2.mdx"] = Spec(WORDS, encrypted=2, comp="lzo")
    f["v20_gbk.mdx"] = Spec(CHINESE, encoding="GBK", per_key_block=2)
    f["v20_big5.mdx"] = Spec(BIG5_WORDS, encoding="BIG5", per_key_block=2)
    f["v20_gb18030.mdx"] = Spec(CHINESE, encoding="GB18030", per_key_block=2)
    # Keys that differ only by punctuation and case, in one key block.
    f["v20_punct.mdx"] = Spec([("A.B", "dotted"), ("a b", "spaced"), ("a-b", "hyphened"), ("ab cd", "two words"),
                               ("abc", "three letters")], per_key_block=8)
    # 25 entries sharing a prefix, across several blocks.
    f["v20_many.mdx"] = Spec([("item%02d" % i, "record %d" % i) for i in range(25)] + [("other", "x")],
                             per_key_block=4, per_record_block=5)
    styles = "1\r\n<b>\r\n</b>\r\n\r\n2\r\n<i>\r\n</i>"
    f["v20_styles.mdx"] = Spec([("styled", "`1`word`2`x")], extra_attrs='StyleSheet="%s"' % xml_escape(styles))
    # Only RequiredEngineVersion, an empty Compact, plain text records and a
    # style with the phonetic font.
    phonetic = '3\n<font face="Kingsoft Phonetic Plain" size=2>\n</font>'
    f["v20_required_only.mdx"] = Spec([("phon", "`3`AD`0`AD"), ("plain", "a<b")],
                                      attrs='RequiredEngineVersion="2.0" Encoding="UTF-8" Compact="" '
                                            'Format="Text" Title="Required" Description="caf&#233; &#x65E5; &#0; &lt;b&gt;" '
                                            'StyleSheet="%s"' % xml_escape(phonetic))
    # Encoding in lower case: not UTF-16 keys in an .mdx.
    f["v20_lower_utf16.mdx"] = Spec(WORDS, encoding="utf-16")
    # An .mdd whose header claims UTF-8 still has UTF-16 keys.
    f["v20_utf8_claim.mdd"] = Spec(RESOURCES, mdd=True, attrs='GeneratedByEngineVersion="2.0" '
                                   'RequiredEngineVersion="2.0" Encrypted="0" Encoding="UTF-8"')
    split_fixtures(f)
    raw_fixtures(f)
    return f


def xml_escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;") \
        .replace("\r", "&#13;").replace("\n", "&#10;")


def corrupt(out):
    """Damaged and unsupported files, each made from a good one."""
    good = build(Spec(WORDS))
    hlen = struct.unpack(">I", good[:4])[0]
    kw = hlen + 8
    files = {}
    # Header checksum stored big-endian.
    b = bytearray(good)
    b[4 + hlen:8 + hlen] = struct.pack(">I", zlib.adler32(good[4:4 + hlen]) & _M)
    files["bad_header_checksum.mdx"] = bytes(b)
    files["truncated_header.mdx"] = good[:hlen // 2]
    files["truncated_records.mdx"] = good[:-10]
    # Counts far beyond the file.
    b = bytearray(good)
    b[kw:kw + 8] = struct.pack(">Q", 1 << 40)
    files["huge_key_block_count.mdx"] = bytes(b)
    b = bytearray(good)
    b[kw + 24:kw + 32] = struct.pack(">Q", 1 << 62)
    files["huge_key_info_size.mdx"] = bytes(b)
    # Key-info decoded size stated larger than the data: no stale bytes.
    b = bytearray(good)
    real = struct.unpack(">Q", good[kw + 16:kw + 24])[0]
    b[kw + 16:kw + 24] = struct.pack(">Q", real + 100)
    files["key_info_size_lie.mdx"] = bytes(b)
    # Record blocks whose decoded sizes lie (a bomb and a short one).
    for name, delta in (("record_size_bomb.mdx", 1 << 30), ("record_size_short.mdx", -3),
                        ("record_size_long.mdx", 3)):
        files[name] = patch_record_table(good, delta)
    # Scrambled with other constants than real files use.
    files["scrambled_other_key.mdx"] = build_scrambled_other(WORDS)
    files["engine_v3.mdx"] = build(Spec(WORDS, version="3.0"))
    files["needs_regcode.mdx"] = build(Spec(WORDS, encrypted=1))
    files["needs_regcode3.mdx"] = build(Spec(WORDS, encrypted=3))
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as fh:
            fh.write(data)


def patch_record_table(good, delta):
    """The first record block's decoded size, changed by delta."""
    spec = Spec(WORDS)
    data = build(spec)
    # The record section starts after the key blocks: find it from the end.
    nblocks = (len(WORDS) + spec.per_record_block - 1) // spec.per_record_block
    framed = []
    stream = b"".join(encode_record(spec, r) for _, r in WORDS)
    offsets = []
    pos = 0
    for _, r in WORDS:
        offsets.append(pos)
        pos += len(encode_record(spec, r))
    bounds = offsets[::spec.per_record_block] + [len(stream)]
    for a, b in zip(bounds, bounds[1:]):
        framed.append(frame(stream[a:b], spec.comp))
    tail = sum(len(f) for f in framed)
    table_pos = len(data) - tail - 16 * nblocks
    b = bytearray(data)
    size = struct.unpack(">Q", data[table_pos + 8:table_pos + 16])[0]
    b[table_pos + 8:table_pos + 16] = struct.pack(">Q", size + delta)
    return bytes(b)


def build_scrambled_other(entries):
    global scramble
    real = scramble
    scramble = lambda block: real(block, salt=0x1C7E, start=0xC3)
    try:
        return build(Spec(entries, encrypted=2))
    finally:
        scramble = real


def write_large_mdd(path):
    """An .mdd whose last record block lies past 4 GiB, in the file and in the
    record stream: 65 stored blocks of 64 MiB zero bytes (holes in a sparse
    file; a stored block's frame is zero bytes too) hold the resource
    "\\a_zeros.bin", then one small block holds "\\end.txt"."""
    big = 64 << 20
    holes = 65
    tail = b"the end of a large file\n"
    header = ('<Library_Data GeneratedByEngineVersion="2.0" RequiredEngineVersion="2.0" Encrypted="0" '
              'Encoding="" Title="Large"/>\r\n\x00').encode("utf-16-le")
    q = lambda v: struct.pack(">Q", v)
    keys = [("\\a_zeros.bin", 0), ("\\end.txt", holes * big)]
    raw = b"".join(q(off) + k.encode("utf-16-le") + b"\x00\x00" for k, off in keys)
    key_block = frame(raw, "zlib")
    first, last = keys[0][0].encode("utf-16-le"), keys[-1][0].encode("utf-16-le")
    info = q(len(keys)) + struct.pack(">H", len(first) // 2) + first + b"\x00\x00" + \
        struct.pack(">H", len(last) // 2) + last + b"\x00\x00" + q(len(key_block)) + q(len(raw))
    info_block = frame(info, "zlib")
    head = q(1) + q(len(keys)) + q(len(info)) + q(len(info_block)) + q(len(key_block))
    out = struct.pack(">I", len(header)) + header + struct.pack("<I", zlib.adler32(header) & _M)
    out += head + struct.pack(">I", zlib.adler32(head) & _M) + info_block + key_block
    last_block = frame(tail, "stored")
    table = b"".join(q(big + 8) + q(big) for _ in range(holes)) + q(len(last_block)) + q(len(tail))
    out += q(holes + 1) + q(len(keys)) + q(len(table)) + q(holes * (big + 8) + len(last_block)) + table
    with open(path, "wb") as fh:
        fh.write(out)
        fh.seek(holes * (big + 8), os.SEEK_CUR)
        fh.write(last_block)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--large":
        write_large_mdd(sys.argv[2])
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--bench":
        n = int(sys.argv[3])
        entries = [("word%07d" % i, "<p>definition of word %d</p>" % i) for i in range(n)]
        with open(sys.argv[2], "wb") as fh:
            fh.write(build(Spec(entries, per_key_block=64, per_record_block=64)))
        return
    if len(sys.argv) in (4, 5, 6) and sys.argv[1] == "--words":
        word_list_mdx(sys.argv[2], sys.argv[3], int(sys.argv[4]) if len(sys.argv) >= 5 else 16,
                      len(sys.argv) == 6 and sys.argv[5] == "html")
        return
    if len(sys.argv) == 7 and sys.argv[1] == "--raw-words":
        raw_word_list_mdx(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5], sys.argv[6])
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, spec in fixtures().items():
        with open(os.path.join(out, name), "wb") as fh:
            fh.write(build(spec))
    corrupt(out)


if __name__ == "__main__":
    main()

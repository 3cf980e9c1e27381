#!/usr/bin/env bash
# Makes the seed corpus of fuzz_project in fuzz/corpus/fuzz_project/. Each
# seed is one selector byte (0 XML project file, 1 key=value project file in
# Shift_JIS) followed by the file's bytes. Usage: fuzz/make_project_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_project
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + body)

def xml_project(books, options):
    lines = ['<?xml version="1.0"?>',
             '<BookSet xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
             'xmlns:xsd="http://www.w3.org/2001/XMLSchema">',
             '  <booklist>']
    for title, sources in books:
        lines += ['    <BookInfo>', '      <source>']
        for path, kind in sources:
            lines += ['        <SourceInfo>', '          <inFile>%s</inFile>' % path,
                      '          <title>T</title>', '          <sourceTypeID>%d</sourceTypeID>' % kind]
            if kind == 9:
                lines.append('          <fields>UTF-8,TAB,H,T</fields>')
            lines.append('        </SourceInfo>')
        lines += ['      </source>', '      <bookTitle>%s</bookTitle>' % title, '      <dirName>DIR</dirName>',
                  '      <bookTypeID>32</bookTypeID>', '      <g8x16>GAI16H00</g8x16>', '      <g12x24></g12x24>',
                  '      <separateMMData>true</separateMMData>', '      <hanStart>41249</hanStart>',
                  '    </BookInfo>']
    lines += ['  </booklist>', '  <basePath>/home/u/dic</basePath>', '  <outputPath>/out/</outputPath>',
              '  <ebType>0</ebType>', '  <indexDef>67</indexDef>', '  <convertOpt>']
    lines += ['    <%s>%s</%s>' % (k, v, k) for k, v in options]
    lines += ['  </convertOpt>', '</BookSet>']
    return "\n".join(lines).encode("utf-8")

options = [("stopWord", "a the"), ("delBlank", "true"), ("titleLen", "-5"), ("kanaSep1", "\u3010"),
           ("pdicTitle", "70000"), ("maxStringT", "-1"), ("kwordLen", "0"), ("autoUniGaiji", "false")]
full = xml_project([("A&amp;B &lt;C&gt; ]]&gt;&#13;", [("$(BASE)/a.csv", 9), ("/b.txt", 4)]),
                    ("\u8f9e\u66f8", [])], options)
seed("xml_full", 0, full)
seed("xml_cut", 0, full[:len(full) * 2 // 3])
seed("xml_empty_project", 0, xml_project([], []))
seed("xml_stray_elements", 0, b'<?xml version="1.0"?>\n<X><SourceInfo><inFile>/x</inFile></SourceInfo>'
     b'<BookInfo><u><bookTitle>T</bookTitle></u><source><SourceInfo><title>a<!--c-->b<![CDATA[c]]></title>'
     b'</SourceInfo></source></BookInfo><q:tableWidth>1</q:tableWidth></X>')
seed("xml_external_entity", 0, b'<?xml version="1.0"?>\n<!DOCTYPE BookSet [<!ENTITY x SYSTEM "file:///etc/passwd">]>'
     b'<BookSet><outputPath>&x;</outputPath></BookSet>')
bomb = b'<!ENTITY a "aaaaaaaaaa">' + b"".join(
    b'<!ENTITY %c "%s">' % (ord("b") + i, (b"&%c;" % (ord("a") + i)) * 10) for i in range(8))
seed("xml_entity_bomb", 0, b'<?xml version="1.0"?>\n<!DOCTYPE BookSet [' + bomb + b']><BookSet><bookTitle>&i;'
     b'</bookTitle></BookSet>')
seed("xml_shift_jis", 0, '<?xml version="1.0" encoding="Shift_JIS"?>\n<BookSet><outputPath>\u8868</outputPath>'
     '</BookSet>'.encode("shift_jis"))

lfs = "\r\n".join([
    "# project", "OutPath=/out", "EBType=1", "WordSearchHyoki=1", "MenuSearch=2", "StopWord=a the",
    "Size=1;2;3;300000000", "kwordLen=0", "delBlank=7", "pdicYorei=65537", "kanaSep1=\u300a",
    "Source=/before.txt;_;x;PLAIN",
    "Book=\u82f1\u548c;EJ;\u82f1\u548c\u8f9e\u66f8;_;_;_;_;_;_;_;_;_;_",
    "Copyright=$(BASE)\\copy.txt", "GaijiFile=/g/f", "IndexFile=/k",
    "Book=T;D;\u4e00\u822c\u66f8\u7269;;_;H8;_;_;_;_;_;_;_;more",
    "Source=C:\\dic\\\u8868.txt;\u8868;x;PDICB", "Source=/s.txt;T;x;EIJIRO=x",
    "Book=Short;S", "Source=/short.txt",
]).encode("shift_jis")
seed("lfs_full", 1, lfs)
seed("lfs_cut_in_a_character", 1, lfs + b"\x95")
PY
echo "corpus: $(ls "$out" | wc -l) seeds in $out"

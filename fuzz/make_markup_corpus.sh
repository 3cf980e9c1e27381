#!/usr/bin/env bash
# Makes the seed corpus of fuzz_markup in fuzz/corpus/fuzz_markup/. Each seed
# is one option byte (see fuzz/fuzz_markup.cpp) followed by a markup file.
# Usage: fuzz/make_markup_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_markup
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]

def seed(name, flags, text):
    if isinstance(text, str):
        text = text.encode("latin-1")  # the \x.. escapes are Shift_JIS bytes
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([flags]) + text)

dictionary = (
    '<H1 id="top">Fruit</H1><P>Sweet <B>and</B> <I>juicy</I> H<SUB>2</SUB>O x<SUP>2</SUP> <NOBR>nb</NOBR></P>\n'
    '<H2>Apples</H2><DL><DT id="apple">apple</DT><KEY type="kana">\x82\xe8\x82\xf1\x82\xb2</KEY>'
    '<KEY type="keyword">pome</KEY><KEY type="cross">malus</KEY><KEY type="hyoki">ringo</KEY>\n'
    '<DD>See <A HREF="#banana">banana</A>, <A HREF="b.html#apple">b</A>, <EA refid="1">one</EA>, '
    '<REF idref="top">top</REF>, <A HREF="http://x/">web</A>.</DD>\n'
    '<DT id="banana" title="Banana" noindex=1>banana<DD><RUBY>\x97\xd1<RT>\x82\xe8</RT></RUBY></DL>\n'
)
layout = (
    '<TABLE width="50%"><TR><TH width=40>a</TH><TD>b</TD></TR><TR><TD>ccc</TD><TD>d</TD></TR></TABLE>\n'
    '<OL start=2><LI>one<UL><LI>nested</UL><LI>two</OL><BLOCKQUOTE>q</BLOCKQUOTE><PRE>a\n  b</PRE>\n'
    '<DIV><DIC-ITEM><HEADWORD>hw</HEADWORD><MEANING>m</MEANING><EXAMPLE>e</EXAMPLE></DIC-ITEM></DIV>\n'
    '<NOTE>n</NOTE><INDENT val=3>in<X4081>x</X4081><NO>1</NO><GI name="x"><IMG src="p.png" alt="pic">\n'
)
utf8 = '<?xml version="1.0" encoding="UTF-8"?><META charset="utf-8"><H1>\u65e5\u672c</H1><P>caf\u00e9 &#x2460; &#233;</P>'
malformed = '<H1>open<B><I><A HREF="#x">\n</P></UL></KEY><KEY type=kana>a<KEY>\n<!-- a > b -->' + '<UL>' * 55 + 'deep'

seed("dictionary", 0, dictionary)
seed("dictionary_eb", 1 | 4, dictionary)
seed("layout", 2 | 8 | 16, layout)
seed("utf8", 0, utf8.encode("utf-8"))
seed("copyright_page", 32, layout)
seed("malformed", 4, malformed.encode("latin-1") + b"\x00\xff\xfe")
PY
echo "fuzz_markup corpus: $(ls "$out" | wc -l) seeds in $out"

#!/usr/bin/env python3
"""Writes the bundled sample project: a small English-Japanese dictionary of
fruit and vegetables in three source types, with a menu, links, a copyright
page and characters that become gaiji, and the project file that builds it.

  dict.html      tagged dictionary markup (type 0): chapters (the menu),
                 entries with kana keys and links between them
  words.csv      delimited text (type 9, UTF-8): id, headword, reading,
                 keyword, meaning; "café", "crème brûlée" and "jalapeño"
                 have letters outside JIS X 0208, drawn as gaiji
  terms.txt      PDIC one-line text (type 5, Shift_JIS)
  copyright.txt  the copyright page (Shift_JIS)
  sample.lfx     the project: one EPWING book "SAMPLE" of the three sources

The files are checked in; the build never runs this script. Paths in the
project are "$(BASE)/..." forms: lexforge takes the project file's folder as
the base folder when the project names none."""
import os

here = os.path.dirname(os.path.abspath(__file__))

MARKUP = """\
<HTML><HEAD><META http-equiv="Content-Type" content="text/html; charset=UTF-8"></HEAD>
<BODY>
<H1>果物 Fruit</H1>
<DL>
<DT id="apple">apple</DT><KEY type="kana">りんご</KEY><KEY type="keyword">fruit</KEY>
<DD>りんご。バラ科の落葉高木、またその果実。→ <A HREF="#pear">pear</A></DD>
<DT id="pear">pear</DT><KEY type="kana">なし</KEY><KEY type="keyword">fruit</KEY>
<DD>なし。水気の多い果実。→ <A HREF="#apple">apple</A></DD>
<DT id="grape">grape</DT><KEY type="kana">ぶどう</KEY><KEY type="keyword">fruit</KEY>
<DD>ぶどう。房になる小さな果実。ワインの原料。</DD>
</DL>
<H1>野菜 Vegetables</H1>
<DL>
<DT id="carrot">carrot</DT><KEY type="kana">にんじん</KEY><KEY type="keyword">vegetable</KEY>
<DD>にんじん。赤い根を食べる野菜。→ <A HREF="#radish">radish</A></DD>
<DT id="radish">radish</DT><KEY type="kana">だいこん</KEY><KEY type="keyword">vegetable</KEY>
<DD>だいこん。白く太い根を食べる野菜。→ <A HREF="#carrot">carrot</A></DD>
</DL>
</BODY></HTML>
"""

CSV = """\
w1,café,かふぇ,drink,コーヒー店。喫茶店。
w2,crème brûlée,くれーむぶりゅれ,dessert,表面を焦がしたカスタードの菓子。
w3,jalapeño,はらぺーにょ,vegetable,メキシコの青唐辛子。
w4,tea,ちゃ,drink,茶。
"""

PDIC = """\
melon /// メロン。ウリ科の果実。
peach /// もも。桃。
tomato /// トマト。ナス科の野菜。
"""

COPYRIGHT = """\
Lexforge sample dictionary
Lexforge の見本の辞書です。自由に使ってください。
"""

PROJECT = """\
<?xml version="1.0"?>
<BookSet xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">
  <booklist>
    <BookInfo>
      <source>
        <SourceInfo>
          <inFile>$(BASE)/dict.html</inFile>
          <title>Fruit and vegetables</title>
          <sourceTypeID>0</sourceTypeID>
        </SourceInfo>
        <SourceInfo>
          <inFile>$(BASE)/words.csv</inFile>
          <title>Words</title>
          <sourceTypeID>9</sourceTypeID>
          <fields>enc=utf-8;delim=,;fields=id|headword|kana|keyword|meaning|</fields>
        </SourceInfo>
        <SourceInfo>
          <inFile>$(BASE)/terms.txt</inFile>
          <title>Terms</title>
          <sourceTypeID>5</sourceTypeID>
        </SourceInfo>
      </source>
      <bookTitle>Lexforge Sample</bookTitle>
      <dirName>SAMPLE</dirName>
      <bookTypeID>32</bookTypeID>
      <copyright>$(BASE)/copyright.txt</copyright>
      <g8x16>GAI16H00</g8x16>
      <g16x16>GAI16F00</g16x16>
      <hanStart>41249</hanStart>
      <zenStart>45345</zenStart>
    </BookInfo>
  </booklist>
  <outputPath>sample-book/</outputPath>
  <ebType>1</ebType>
  <indexDef>95</indexDef>
</BookSet>
"""


def write(name, text, encoding):
    with open(os.path.join(here, name), "wb") as f:
        f.write(text.encode(encoding))


write("dict.html", MARKUP, "utf-8")
write("words.csv", CSV, "utf-8")
write("terms.txt", PDIC, "shift_jis")
write("copyright.txt", COPYRIGHT, "shift_jis")
write("sample.lfx", PROJECT, "utf-8")

#!/usr/bin/env bash
# Seed corpus of fuzz_textsources: a flag byte, then (delimited text) a field
# spec line and records, or (EIJIRO, HTML/XML) the source.
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/corpus/fuzz_textsources"
mkdir -p "$out"
# Delimited text: quoted fields over two lines, keywords, readings, html.
printf '\x80enc=utf-8;delim=,;fields=headword|kana|meaning|keyword|html|id|\napple,\xe3\x82\x8a\xe3\x82\x93\xe3\x81\x94,"red\nfruit",fruit;tree,<b>x</b><br>y,a1\n,orphan\n' > "$out/csv_utf8"
printf '\x00enc=shift_jis;delim=|;fields=headword|meaning|\n\x83\x7c\x83\x93\x83\x76|pump\n' > "$out/csv_sjis_bar"
printf '\x00enc=utf-16;delim=\t;fields=headword||meaning|\n\xff\xfea\x00\t\x00b\x00\t\x00c\x00\n\x00' > "$out/tsv_utf16"
# EIJIRO: label, note with pronunciation and reading, example, reading braces.
printf '\x19\x81\xa1abandon  {\x93\xae-1} : \x92\x66\x94\x4f\x81\x6f\x82\xbe\x82\xf1\x81\x70\x81\x9f\x81\x79\x94\xad\x89\xb9\x81\x7aab\x81\x41\x81\x79\x81\x97\x81\x7a\x83\x41\x83\x6f\x81\xa1\x81\x45Ex.\r\n\x81\xa1abandon : two\r\nbad\r\n' > "$out/eijiro"
# HTML / XHTML / XML: entries, keys, anchors and links, a stray end tag,
# Shift_JIS without a declaration, an XML declaration with a DOCTYPE.
printf '\x02<html><body><h1 id="t">T</h1><dl><dt id="a">apple</dt><key type="kana">\xe3\x82\x8a</key><dd>red &amp; <a href="#b">b</a></i></dd><dt id="b">banana</dt><dd><pre>x\n y</pre></dd></dl>' > "$out/sax_utf8"
printf '\x03<html><dl><dt>\x97\xd1\x8c\xe7</dt><dd>\x82\xe8\x82\xf1\x82\xb2 <b>x</dd></dl>' > "$out/sax_sjis"
printf '\x02<?xml version="1.0" encoding="EUC-JP"?><!DOCTYPE d [<!ENTITY e SYSTEM "file:///etc/passwd">]><d><dt>\xce\xd3</dt><dd>&e;</dd></d>' > "$out/sax_xml"
# HTML laid out as a browser shows it: inline elements with white space
# between, divisions, nested DL in DD, HTML5 elements, an unknown element.
printf '\x02<html><body><h1><span>A</span> <span>B</span></h1><div>x: 0</div><div>y <code>c</code> <code>-u</code></div><dl><dt>1</dt><dd><dl><dt>2</dt><dt>3</dt><dd>z</dd></dl></dd></dl><section><p>p</p>q<mark>m</mark> <time>t</time></section><ol><li>i</li></ol><blink>k</blink>' > "$out/sax_layout"

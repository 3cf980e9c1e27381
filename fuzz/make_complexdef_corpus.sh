#!/usr/bin/env bash
# Makes the seed corpus of fuzz_complexdef in fuzz/corpus/fuzz_complexdef/:
# complex-search definition files, accepted and refused ones.
# Usage: fuzz/make_complexdef_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_complexdef
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, sys
out = sys.argv[1]

def seed(name, text):
    if isinstance(text, str):
        text = text.encode("latin-1")  # the \x.. escapes are Shift_JIS bytes
    with open(os.path.join(out, name), "wb") as f:
        f.write(text)

seed("works",
     '<COMPLEX name="Works">\n'
     ' <GROUP name="Author"><ATTR name="author"/><ATTR name=writer></GROUP>\n'
     ' <GROUP name="Genre"><ATTR name="genre">\n'
     '  <CATEGORY name="Fiction"><SUBCATEGORY name="Long"><KEYWORD>epic</KEYWORD></SUBCATEGORY>'
     '<KEYWORD name="tale"/></CATEGORY>\n'
     '  <KEYWORD>poem</KEYWORD><CATEGORY name="Plain"/>\n'
     ' </GROUP>\n'
     '</COMPLEX>\n'
     '<COMPLEX><GROUP name="genre"/><GROUP name="Keyword" type="keyword"/></COMPLEX>\n')
seed("japanese",
     '<COMPLEX name="\x95\xa1\x8d\x87\x8c\x9f\x8d\xf5"><GROUP name="\x92\x98\x8e\xd2">'
     '<CATEGORY name="\x8f\xac\x90\xe0"><KEYWORD>\x8a\xbf\x8e\x9a</KEYWORD></CATEGORY></GROUP></COMPLEX>\n')
seed("limits", ('<COMPLEX>' + '<GROUP name=f/>' * 5 + '</COMPLEX>\n') * 10)
seed("eleven", '<COMPLEX><GROUP name=f/></COMPLEX>\n' * 11)
seed("six_fields", '<COMPLEX>' + '<GROUP name=f/>' * 6 + '</COMPLEX>\n')
seed("misplaced", '<GROUP name=a/><COMPLEX><SUBCATEGORY name=s><KEYWORD> </KEYWORD>\n<!-- <COMPLEX> -->')
seed("unclosed", '<COMPLEX name="t"><GROUP name=a><CATEGORY name=c><KEYWORD>w')
PY
echo "seeds in $out"

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
seed("utf8", '\xef\xbb\xbf<COMPLEX name="\xe6\xa4\x9c\xe7\xb4\xa2"><GROUP name="\xe8\x91\x97\xe8\x80\x85">'
     '<CATEGORY name="\xef\xbe\x97\xef\xbe\x8d\xef\xbe\x9e\xef\xbe\x99"><KEYWORD>a b</KEYWORD></CATEGORY>'
     '</GROUP></COMPLEX>\n')
seed("nested_sub", '<COMPLEX><GROUP name=g><CATEGORY name=c><SUBCATEGORY name=s><SUBCATEGORY name=t>')
seed("half_width", '<COMPLEX name="\xd7\xcd\xde\xd9"><GROUP name="\xca\xdf\xdd"/></COMPLEX>\n')
PY
echo "seeds in $out"

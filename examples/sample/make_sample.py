#!/usr/bin/env python3
"""Writes the Shift_JIS files of the bundled sample from the UTF-8 texts below.
The generated files are checked in; the build never runs this script."""
import os

here = os.path.dirname(os.path.abspath(__file__))

DICT = """\
apple /// りんご。バラ科の落葉高木、またその果実。
book /// 本。書物。
dictionary /// 辞書。言葉を集めて一定の順に並べ、意味や用法を記した本。
electronic /// 電子の。
library /// 図書館。蔵書。
word /// 語。単語。
辞書【じしょ】 /// dictionary. 言葉を集めて意味を記した本。
電子辞書【でんしじしょ】 /// electronic dictionary.
図書館【としょかん】 /// library.
本【ほん】 /// book.
りんご /// apple.
カメラ /// camera.
"""

COPYRIGHT = """\
Lexforge sample book
この本は Lexforge の見本です。
"""

def write(name, text):
    with open(os.path.join(here, name), "wb") as f:
        f.write(text.encode("shift_jis"))

write("dict.txt", DICT)
write("copyright.txt", COPYRIGHT)

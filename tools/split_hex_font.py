#!/usr/bin/env python3
"""Writes Lexforge's default gaiji hex fonts from a hex font of the
"CODE:BITMAP" form (one glyph a line, 16 dots high; 32 hex digits for an
8-dot-wide glyph, 64 for a 16-dot-wide one):

    split_hex_font.py SOURCE.hex OUT_DIR

gives OUT_DIR/8x16.hex and OUT_DIR/16x16.hex, each a first line "W H" and
then the glyphs of that width. The build runs it on the GNU Unifont hex file
with Japanese glyph shapes that Debian's unifont package installs."""

import os
import sys


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    source, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    narrow, wide = [], []
    with open(source, encoding="ascii") as f:
        for line in f:
            code, sep, bitmap = line.strip().partition(":")
            if not sep:
                continue
            if len(bitmap) == 32:
                narrow.append(f"{code}:{bitmap}\n")
            elif len(bitmap) == 64:
                wide.append(f"{code}:{bitmap}\n")
    for name, header, glyphs in (("8x16.hex", "8 16\n", narrow), ("16x16.hex", "16 16\n", wide)):
        tmp = os.path.join(out, name + ".tmp")
        with open(tmp, "w", encoding="ascii") as f:
            f.write(header)
            f.writelines(glyphs)
        os.replace(tmp, os.path.join(out, name))
    return 0


if __name__ == "__main__":
    sys.exit(main())

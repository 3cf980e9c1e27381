#!/usr/bin/env bash
# Builds a one-subbook EPWING book with FreePWING (Debian freepwing, used as a
# black box) that carries media: two narrow and two wide gaiji in all four
# heights (16, 24, 30, 48), a BMP and a JPEG colour graphic and a WAVE sound,
# all referred to from one entry. The fixture files are made here.
# The book lands in OUTDIR (OUTDIR/CATALOGS, OUTDIR/TEST/DATA/HONMON,
# OUTDIR/TEST/GAIJI/GAI16H ...), and the media files FreePWING was given in
# OUTDIR/src (pic.bmp, pic.jpg, snd.wav).
#   make_freepwing_media_book.sh OUTDIR
set -euo pipefail
out=$1
command -v fpwmake >/dev/null || { echo "fpwmake (freepwing) is not installed" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - <<'PY'
import struct

def xbm(name, w, h, seed):
    # XBM rows are whole bytes, the leftmost dot in the lowest bit.
    rb = (w + 7) // 8
    bits = [(y * 31 + b * 7 + seed * 13) & 0xFF for y in range(h) for b in range(rb)]
    open(name + ".xbm", "w").write(
        "#define %s_width %d\n#define %s_height %d\nstatic unsigned char %s_bits[] = {\n%s};\n"
        % (name, w, name, h, name, ", ".join("0x%02x" % v for v in bits)))

def chars(names, sizes, seed):
    lines = []
    for i, n in enumerate(names):
        files = []
        for (w, h) in sizes:
            xbm("%s%d" % (n, h), w, h, seed + i)
            files.append("%s%d.xbm" % (n, h))
        lines.append(n + "\t" + "\t".join(files))
    return "\n".join(lines) + "\n"

open("halfchar.txt", "w").write(chars(["ha", "hb"], [(8, 16), (16, 24), (16, 30), (24, 48)], 0))
open("fullchar.txt", "w").write(chars(["fa", "fb"], [(16, 16), (24, 24), (32, 30), (48, 48)], 5))

# A 1-bit BMP, 20 x 5.
w, h = 20, 5
stride = (w + 31) // 32 * 4
px = b"".join(bytes((y * 17 + x * 3) & 0xFF for x in range(stride)) for y in range(h))
open("pic.bmp", "wb").write(
    b"BM" + struct.pack("<IHHI", 62 + len(px), 0, 0, 62)
    + struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(px), 2835, 2835, 2, 2)
    + b"\xff\xff\xff\x00\x00\x00\x00\x00" + px)

# A JPEG stream: its segments, a scan with a stuffed byte, its end.
jpg = bytes([0xFF, 0xD8, 0xFF, 0xE0, 0, 16]) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
jpg += bytes([0xFF, 0xDB, 0, 67, 0]) + bytes(range(1, 65))
jpg += bytes([0xFF, 0xC0, 0, 11, 8, 0, 8, 0, 8, 1, 1, 0x11, 0])
jpg += bytes([0xFF, 0xC4, 0, 20, 0]) + bytes([0, 1] + [0] * 14) + bytes([0])
jpg += bytes([0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0, 0x12, 0xFF, 0x00, 0x34, 0x56, 0xFF, 0xD9])
open("pic.jpg", "wb").write(jpg)

# WAVE: 8-bit mono 11025 Hz, 300 samples.
data = bytes((i * 5) & 0xFF for i in range(300))
open("snd.wav", "wb").write(
    b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt "
    + struct.pack("<IHHIIHH", 16, 1, 1, 11025, 11025, 1, 8) + b"data" + struct.pack("<I", len(data)) + data)
PY
printf 'pic\tpic.bmp\njpic\tpic.jpg\n' > cgraphs.txt
printf 'snd\tsnd.wav\n' > sounds.txt
: > data.txt
cat > Makefile <<'MK'
FPWPARSER = fpwtest
FPWPARSERFLAGS = data.txt
DIR = test
HALFCHARS = halfchar.txt
FULLCHARS = fullchar.txt
CGRAPHS = cgraphs.txt
SOUNDS = sounds.txt
include fpwutils.mk
MK
cat > fpwtest <<'PL'
use FreePWING::FPWUtils::FPWParser;
initialize_fpwparser('text' => \$fpwtext, 'heading' => \$fpwheading, 'word2' => \$fpwword2);
sub ok { $_[0] || die $fpwtext->error_message() . "\n"; }
ok($fpwtext->new_entry());
ok($fpwheading->new_entry());
ok($fpwheading->add_text("media"));
ok($fpwtext->add_keyword_start() && $fpwtext->add_text("media") && $fpwtext->add_keyword_end()
   && $fpwtext->add_newline());
ok($fpwtext->add_half_user_character('ha') && $fpwtext->add_half_user_character('hb'));
ok($fpwtext->add_full_user_character('fa') && $fpwtext->add_full_user_character('fb'));
ok($fpwtext->add_color_graphic_start('pic') && $fpwtext->add_text('pic') && $fpwtext->add_color_graphic_end());
ok($fpwtext->add_jpeg_graphic_start('jpic') && $fpwtext->add_text('jpg') && $fpwtext->add_jpeg_graphic_end());
ok($fpwtext->add_sound_start('snd') && $fpwtext->add_text('snd') && $fpwtext->add_sound_end());
ok($fpwtext->add_newline());
ok($fpwword2->add_entry("media", $fpwheading->entry_position(), $fpwtext->entry_position()));
finalize_fpwparser('text' => \$fpwtext, 'heading' => \$fpwheading, 'word2' => \$fpwword2);
PL
# The catalog title is JIS X 0208 text: "テスト" in EUC-JP; the gaiji font
# files are named in it, 8 characters each.
printf '[Catalog]\nFileName   = catalogs\nType       = EPWING1\nBooks      = 1\n[Book]\nTitle      = "\xa5\xc6\xa5\xb9\xa5\xc8"\nBookType   = 6001\nDirectory  = "TEST"\nInfoBlock  = 0001\nZenGaiji   = "GAI16F  GAI24F  GAI30F  GAI48F  "\nHanGaiji   = "GAI16H  GAI24H  GAI30H  GAI48H  "\n' > catalogs.txt
fpwmake >log 2>&1 || { cat log >&2; exit 1; }
fpwmake catalogs >>log 2>&1 || { cat log >&2; exit 1; }
mkdir -p "$out/TEST/DATA" "$out/TEST/GAIJI" "$out/src"
cp catalogs "$out/CATALOGS"
cp honmon "$out/TEST/DATA/HONMON"
for f in gai16h gai24h gai30h gai48h gai16f gai24f gai30f gai48f; do
    cp "$f" "$out/TEST/GAIJI/$(echo "$f" | tr a-z A-Z)"
done
cp pic.bmp pic.jpg snd.wav "$out/src/"

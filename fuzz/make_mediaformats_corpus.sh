#!/usr/bin/env bash
# Makes the seed corpus of fuzz_mediaformats in fuzz/corpus/fuzz_mediaformats/.
# Each seed is one selector byte (0 BMP, 1 JPEG, 2 WAVE, 3 MPEG) followed by
# the file's bytes. Usage: fuzz/make_mediaformats_corpus.sh
set -euo pipefail
cd "$(dirname "$0")"
out=corpus/fuzz_mediaformats
mkdir -p "$out"

python3 - "$out" <<'PY'
import os, struct, sys
out = sys.argv[1]

def seed(name, select, body):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([select]) + bytes(body))

def bmp(width, height, bpp, top_down=False):
    colours = 1 << bpp if bpp <= 8 else 0
    row = (width * bpp + 31) // 32 * 4
    offset = 14 + 40 + 4 * colours
    pixels = bytes((x * 37 + 11) & 0xFF for x in range(row * height))
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bpp, 0, len(pixels),
                       2835, 2835, colours, 0)
    palette = b"".join(bytes([v, v, v, 0]) for v in ([0xFF, 0] + list(range(2, colours)))[:colours])
    return head + info + palette + pixels

def jpeg(width, height):
    body = b"\xff\xd8" + b"\xff\xe0" + struct.pack(">H", 16) + b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
    body += b"\xff\xc0" + struct.pack(">HBHHB", 11, 8, height, width, 1) + b"\x01\x11\x00"
    body += b"\xff\xda" + struct.pack(">H", 8) + b"\x01\x01\x00\x00\x3f\x00"
    body += b"\x20\x21\xff\x00\x22\xff\xd0\x23" * 4 + b"\xff\xd9"
    return body

def wave(channels, rate, bits, frames, extra=False):
    align = channels * bits // 8
    data = bytes((i * 7) & 0xFF for i in range(align * frames))
    chunks = b"fmt " + struct.pack("<IHHIIHH", 16, 1, channels, rate, rate * align, align, bits)
    if extra:
        chunks += b"LIST" + struct.pack("<I", 5) + b"INFOx\x00"
    chunks += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks

def mpeg(width, height):
    head = b"\x00\x00\x01\xba\x44\x00\x04\x00\x04\x01\x00\x03\xff\xf8" + b"\x00\x00\x01\xb3"
    head += bytes([width >> 4, ((width & 15) << 4) | (height >> 8), height & 0xFF]) + b"\x13\xff\xff\xe0\x18"
    return head + b"\xff" * 40 + b"\x00\x00\x01\xb9"

seed("bmp_1bit", 0, bmp(13, 5, 1))
seed("bmp_1bit_top_down", 0, bmp(9, 3, 1, True))
seed("bmp_8bit", 0, bmp(4, 4, 8))
seed("bmp_24bit", 0, bmp(4, 3, 24))
seed("jpeg", 1, jpeg(20, 10))
seed("wave_mono16", 2, wave(1, 22050, 16, 20))
seed("wave_stereo8_list", 2, wave(2, 11025, 8, 9, True))
seed("mpeg", 3, mpeg(352, 240))
PY

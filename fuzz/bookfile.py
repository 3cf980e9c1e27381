# Book text files for the seed corpora of the reader's fuzz targets: an
# index table in block 1 listing the areas, and the given bytes per block.
import struct


def book(areas, blocks, glob=0):
    # areas: (id, start, count, info bytes); blocks: {number: bytes}
    last = max(list(blocks) + [1])
    data = bytearray(2048 * last)
    data[0:2] = struct.pack(">H", len(areas))
    data[4] = glob
    for i, (aid, start, count, info) in enumerate(areas):
        r = 16 + 16 * i
        data[r] = aid
        data[r + 2:r + 6] = struct.pack(">I", start)
        data[r + 6:r + 10] = struct.pack(">I", count)
        data[r + 10:r + 14] = bytes(info)
    for n, b in blocks.items():
        data[(n - 1) * 2048:(n - 1) * 2048 + len(b)] = b
    return bytes(data)


def placed(parts):
    # One block's bytes from {offset: bytes}.
    data = bytearray(max(o + len(b) for o, b in parts.items()))
    for offset, b in parts.items():
        data[offset:offset + len(b)] = b
    return bytes(data)

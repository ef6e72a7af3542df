"""Writes 8-bit RGBA PNG files as small as plain zlib makes them.

The skin's images are packed into the setup program, so their size is the
program's size. Pillow filters every row by its own guess and deflates once;
here each image is filtered several ways (each fixed filter, the
least-sum-of-differences choice per row, and a per-row choice by the deflated
size so far), each way is deflated with a few zlib settings, and the smallest
file is kept. The pixels are the same whichever way wins; only the filtering
and the deflate stream differ. No ancillary chunks: the files are IHDR, IDAT
and IEND only, so the output depends on nothing but the pixels.
"""
import struct
import zlib

BPP = 4


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _filter(kind, line, prev):
    out = bytearray(len(line))
    for x in range(len(line)):
        a = line[x - BPP] if x >= BPP else 0
        up = prev[x]
        c = prev[x - BPP] if x >= BPP else 0
        if kind == 0:
            v = line[x]
        elif kind == 1:
            v = line[x] - a
        elif kind == 2:
            v = line[x] - up
        elif kind == 3:
            v = line[x] - ((a + up) >> 1)
        else:
            v = line[x] - _paeth(a, up, c)
        out[x] = v & 255
    return bytes(out)


def _ways(rows, width):
    """Filtered image data (filter byte and row, per row), several ways."""
    prevs = [bytes(width * BPP)] + rows[:-1]
    filtered = [[_filter(k, r, p) for k in range(5)] for r, p in zip(rows, prevs)]
    ways = []
    for k in range(5):
        ways.append(b"".join(bytes([k]) + f[k] for f in filtered))

    def weight(line):
        return sum(v if v < 128 else 256 - v for v in line)

    picks = [min(range(5), key=lambda k: weight(f[k])) for f in filtered]
    ways.append(b"".join(bytes([k]) + f[k] for k, f in zip(picks, filtered)))
    for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED):
        z = zlib.compressobj(9, zlib.DEFLATED, 15, 9, strategy)
        out = []
        for f in filtered:
            best = None
            for k in range(5):
                trial = z.copy()
                n = len(trial.compress(bytes([k]) + f[k]) + trial.flush(zlib.Z_SYNC_FLUSH))
                if best is None or n < best[0]:
                    best = (n, k)
            line = bytes([best[1]]) + f[best[1]]
            out.append(line)
            z.compress(line)
        ways.append(b"".join(out))
    return ways


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def encode_rgba(width, height, pixels):
    """PNG file bytes for width x height RGBA pixels (row-major, 4 bytes each)."""
    stride = width * BPP
    assert len(pixels) == stride * height
    rows = [bytes(pixels[y * stride:(y + 1) * stride]) for y in range(height)]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    best = None
    for data in _ways(rows, width):
        for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED):
            for mem_level in (8, 9):
                z = zlib.compressobj(9, zlib.DEFLATED, 15, mem_level, strategy)
                idat = z.compress(data) + z.flush()
                if best is None or len(idat) < len(best):
                    best = idat
    return b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", ihdr) + _chunk(b"IDAT", best) + _chunk(b"IEND", b"")

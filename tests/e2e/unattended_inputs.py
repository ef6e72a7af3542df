#!/usr/bin/env python3
"""Inputs of the unattended-run cases: product folders, and setup files whose
package is replaced by a hostile one (the packer refuses to make those).

  unattended_inputs.py product DIR FILES BYTES [SEED]  random (incompressible) files
  unattended_inputs.py repack SETUP OUT KIND      KIND: escape, device, badcrc
  unattended_inputs.py damage SETUP OUT           one byte of the package changed
  unattended_inputs.py truncate SETUP OUT         the file cut in the middle of its package
  unattended_inputs.py longname DIR               a product with one file whose path is too long
  unattended_inputs.py setkey SETUP OUT KEY JSON  the setup block with KEY set (the package as it was)
  unattended_inputs.py setblock FILE JSON         the file's block replaced by JSON (nothing after it)
  unattended_inputs.py reroot FILE OLD NEW        an uninstaller's manifest with every path under OLD moved to NEW
"""
import base64
import binascii
import hashlib
import io
import json
import os
import random
import struct
import sys
import zipfile


def product(folder, count, size, seed=1234):
    rng = random.Random(seed)
    for i in range(count):
        sub = os.path.join(folder, "data", "part%02d" % (i % 16))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "file%04d.bin" % i), "wb") as f:
            f.write(rng.randbytes(size))
    with open(os.path.join(folder, "Quillo.exe"), "wb") as f:
        f.write(b"MZ stand-in")


def hostile_zip(kind):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_STORED) as z:
        for i in range(11):
            z.writestr("good/file%02d.txt" % i, "good file %d\n" % i * 50)
        if kind == "escape":
            z.writestr("../escaped.txt", "outside\n")
        elif kind == "device":
            z.writestr("Sub/nul.txt", "device\n")
        elif kind == "badcrc":
            z.writestr("good/damaged.txt", "A" * 4000)
        z.writestr("good/last.txt", "last\n")
    data = bytearray(buffer.getvalue())
    if kind == "badcrc":
        at = data.index(b"A" * 4000)
        data[at + 2000] ^= 0x01
    return bytes(data)


def repack(setup, out, kind):
    d = open(setup, "rb").read()
    lf = struct.unpack_from("<I", d, 0x3C)[0]
    o = struct.unpack_from("<I", d, lf - 4)[0]
    length = struct.unpack_from("<I", d, o)[0]
    block = json.loads(d[o + 4 : o + 4 + length].decode("utf-8"))
    package = hostile_zip(kind)
    block["md5"] = hashlib.md5(package).hexdigest().upper()
    text = json.dumps(block, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    with open(out, "wb") as f:
        f.write(d[:o] + struct.pack("<I", len(text)) + text + struct.pack("<I", len(package)) + package)


def package_range(d):
    lf = struct.unpack_from("<I", d, 0x3C)[0]
    o = struct.unpack_from("<I", d, lf - 4)[0]
    length = struct.unpack_from("<I", d, o)[0]
    size = struct.unpack_from("<I", d, o + 4 + length)[0]
    return o + 8 + length, size


def damage(setup, out):
    d = bytearray(open(setup, "rb").read())
    start, size = package_range(d)
    d[start + size // 2] ^= 0x40
    open(out, "wb").write(bytes(d))


def truncate(setup, out):
    d = open(setup, "rb").read()
    start, size = package_range(d)
    open(out, "wb").write(d[: start + size // 2])


def longname(folder):
    deep = os.path.join(folder, "D" * 100, "E" * 100)
    os.makedirs(deep, exist_ok=True)
    with open(os.path.join(folder, "Quillo.exe"), "wb") as f:
        f.write(b"MZ stand-in, long")
    with open(os.path.join(deep, "F" * 60 + ".txt"), "wb") as f:
        f.write(b"too deep\n")


def block_of(d):
    lf = struct.unpack_from("<I", d, 0x3C)[0]
    o = struct.unpack_from("<I", d, lf - 4)[0]
    length = struct.unpack_from("<I", d, o)[0]
    return o, length


def setkey(setup, out, key, value):
    d = open(setup, "rb").read()
    o, length = block_of(d)
    block = json.loads(d[o + 4 : o + 4 + length].decode("utf-8"))
    block[key] = json.loads(value)
    text = json.dumps(block, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    with open(out, "wb") as f:
        f.write(d[:o] + struct.pack("<I", len(text)) + text + d[o + 4 + length :])


def setblock(path, value):
    d = open(path, "rb").read()
    o, _ = block_of(d)
    text = value.encode("utf-8")
    with open(path, "wb") as f:
        f.write(d[:o] + struct.pack("<I", len(text)) + text)


def reroot(path, old, new):
    d = open(path, "rb").read()
    o, length = block_of(d)
    manifest = json.loads(d[o + 4 : o + 4 + length].decode("utf-8"))

    def moved(value):
        if isinstance(value, dict):
            return {k: moved(v) for k, v in value.items()}
        if isinstance(value, list):
            return [moved(v) for v in value]
        if isinstance(value, str):
            try:
                text = base64.b64decode(value, validate=True).decode("utf-8")
            except (binascii.Error, UnicodeDecodeError):
                return value
            if text.lower().startswith(old.lower()):
                return base64.b64encode((new + text[len(old) :]).encode("utf-8")).decode("ascii")
        return value

    text = json.dumps(moved(manifest), ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    with open(path, "wb") as f:
        f.write(d[:o] + struct.pack("<I", len(text)) + text + d[o + 4 + length :])


if __name__ == "__main__":
    if sys.argv[1] == "product":
        product(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]) if len(sys.argv) > 5 else 1234)
    elif sys.argv[1] == "damage":
        damage(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "truncate":
        truncate(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "setkey":
        setkey(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5])
    elif sys.argv[1] == "setblock":
        setblock(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "reroot":
        reroot(sys.argv[2], sys.argv[3], sys.argv[4])
    elif sys.argv[1] == "longname":
        longname(sys.argv[2])
    elif sys.argv[1] == "repack":
        repack(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        sys.exit(__doc__)

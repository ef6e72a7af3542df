#!/usr/bin/env python3
"""Writes the benches' product folder: 2,000 files of 50 KiB in 40 folders
(about 100 MB), half random bytes, half compressible text.

Usage: make_payload.py FOLDER [--files N] [--file-kib K] [--random-only]
Shared by extract_bench.sh and peer_bench.sh, so both measure the same kind
of package. --files and --file-kib change the count (default 2,000) and size
(default 50 KiB) of the files, still in 40 folders; --random-only makes every
file random bytes (a package that barely compresses).
"""
import os
import random
import sys


def main():
    args = sys.argv[1:]
    files, kib, random_only = 2000, 50, False
    positional = []
    while args:
        a = args.pop(0)
        if a == "--files" and args:
            files = int(args.pop(0))
        elif a == "--file-kib" and args:
            kib = int(args.pop(0))
        elif a == "--random-only":
            random_only = True
        else:
            positional.append(a)
    if len(positional) != 1:
        sys.exit("usage: make_payload.py FOLDER [--files N] [--file-kib K] [--random-only]")
    root = positional[0]
    size = kib * 1024
    rng = random.Random(7)
    words = [b"quillo", b"device", b"backup", b"sync", b"photo", b"music", b"contact", b"message"]
    for i in range(files):
        folder = os.path.join(root, "dir%02d" % (i % 40))
        os.makedirs(folder, exist_ok=True)
        if i % 2 or random_only:
            data = os.urandom(size)
        else:
            data = b" ".join(rng.choice(words) for _ in range(max(9000 * kib // 50, 1)))[:size]
        with open(os.path.join(folder, "file%04d.dat" % i), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

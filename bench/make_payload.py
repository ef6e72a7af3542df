#!/usr/bin/env python3
"""Writes the benches' product folder: 2,000 files of 50 KiB in 40 folders
(about 100 MB), half random bytes, half compressible text.

Usage: make_payload.py FOLDER
Shared by extract_bench.sh and peer_bench.sh, so both measure the same kind
of package.
"""
import os
import random
import sys


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_payload.py FOLDER")
    root = sys.argv[1]
    rng = random.Random(7)
    words = [b"quillo", b"device", b"backup", b"sync", b"photo", b"music", b"contact", b"message"]
    for i in range(2000):
        folder = os.path.join(root, "dir%02d" % (i % 40))
        os.makedirs(folder, exist_ok=True)
        if i % 2:
            data = os.urandom(51200)
        else:
            data = b" ".join(rng.choice(words) for _ in range(9000))[:51200]
        with open(os.path.join(folder, "file%04d.dat" % i), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""What a Wine prefix holds, as text to compare before and after a run: every
path below drive C: (with the size of each file) and every registry key and
value of the machine and the user, without the time stamps Wine keeps.

Usage: prefix_snapshot.py PREFIX [--skip GLOB]...
GLOBs are matched, ignoring case, against paths below drive_c (fnmatch, "/"
separated) and against registry key names (single backslashes); a match leaves the path or key out, which is how a
caller names what the program is allowed to leave behind.
"""
import fnmatch
import os
import re
import sys


def main():
    prefix = sys.argv[1]
    skip = []
    args = sys.argv[2:]
    while args:
        if args[0] == "--skip" and len(args) > 1:
            skip.append(args[1].lower())
            args = args[2:]
        else:
            sys.exit("usage: prefix_snapshot.py PREFIX [--skip GLOB]...")

    def skipped(name):
        name = name.lower()
        return any(fnmatch.fnmatch(name, g) for g in skip)

    out = []
    drive = os.path.join(prefix, "drive_c")
    for folder, dirs, files in os.walk(drive):
        dirs.sort()
        rel = os.path.relpath(folder, drive)
        for d in dirs:
            path = os.path.normpath(os.path.join(rel, d))
            if not skipped(path):
                out.append("dir  %s" % path)
        for f in sorted(files):
            path = os.path.normpath(os.path.join(rel, f))
            if skipped(path):
                continue
            full = os.path.join(folder, f)
            size = os.lstat(full).st_size if os.path.islink(full) else os.path.getsize(full)
            out.append("file %s %d" % (path, size))

    for hive in ("system.reg", "user.reg"):
        key = None
        for line in open(os.path.join(prefix, hive), encoding="utf-8", errors="replace"):
            line = line.rstrip("\n")
            if line.startswith("[") and "]" in line:
                # "[Key\\Name] 1733712345": the number is when Wine last wrote it.
                key = line[: line.rindex("]") + 1]
                name = key[1:-1].replace("\\\\", "\\")
                if skipped(name):
                    key = None
                else:
                    out.append("%s %s" % (hive, key))
                continue
            if not line or line.startswith(("#", ";", "WINE REGISTRY")) or key is None:
                continue
            out.append("%s %s %s" % (hive, key, line))
    print("\n".join(out))


if __name__ == "__main__":
    main()

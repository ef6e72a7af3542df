#!/usr/bin/env bash
# Package extraction under Wine against native unzip: the same 100 MB ZIP of
# 2,000 files unpacked into the same Wine drive, in one run.
# Usage: extract_bench.sh EXTRACT_BENCH_EXE
set -euo pipefail
BENCH="$1"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-xbench.XXXXXX")"
export WINEPREFIX="$work/prefix"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp -a "$BASE" "$WINEPREFIX"

# 2,000 files of 50 KiB in 40 folders: half random bytes, half text.
/usr/bin/python3 "$ROOT/bench/make_payload.py" "$work/product"
(cd "$work/product" && zip -q -r -6 "$work/package.zip" .)
wine "$BENCH" >/dev/null 2>&1 || true   # start the Wine server once before timing

drive="$WINEPREFIX/drive_c"
sync
t0=$(date +%s.%N); unzip -q "$work/package.zip" -d "$drive/unzipped"; t1=$(date +%s.%N)
unzip_s=$(echo "$t1 - $t0" | bc -l)
out="$(wine "$BENCH" "Z:${work//\//\\}\\package.zip" 'C:\ours' | tr -d '\r')"
ours_s=$(sed -n 's/.* seconds=\([0-9.]*\)$/\1/p' <<<"$out")
files=$(sed -n 's/.* files=\([0-9]*\) .*/\1/p' <<<"$out")
diff -r -q "$drive/unzipped" "$drive/ours" >/dev/null || { echo "extracted trees differ"; exit 1; }
[ "$files" = 2000 ] || { echo "expected 2000 files, got $files"; exit 1; }
size_mb=$(du -sm "$work/product" | cut -f1)
printf 'extract %s MB / %s files: ours (under Wine) %.2f s, native unzip %.2f s, ratio %s (goal <= 1.5)\n' \
  "$size_mb" "$files" "$ours_s" "$unzip_s" "$(echo "scale=2; $ours_s / $unzip_s" | bc -l)"

#!/usr/bin/env bash
# Makes the base Wine prefix that the Windows-level tests copy: 64-bit, fonts
# in place with replacements for the faces Windows programs ask for, a CJK face
# for Chinese texts, and the null graphics driver so windows work headless.
# Usage: wine-prefix.sh [PREFIX]   (default: build/wine/base)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PREFIX="${1:-${QUILLO_WINE_BASE:-$ROOT/build/wine/base}}"
export WINEDEBUG=-all WINEARCH=win64 WINEPREFIX="$PREFIX" WINEDLLOVERRIDES="mscoree,mshtml="

rm -rf "$PREFIX"
mkdir -p "$(dirname "$PREFIX")"
# On a slow machine the first process gives up waiting for the prefix's
# set-up (after five minutes) while the set-up goes on; the server's end is
# what says it is done.
wineboot -i >/dev/null 2>&1 || true
wineserver -w
[ -f "$PREFIX/system.reg" ] && [ -f "$PREFIX/drive_c/windows/system32/kernel32.dll" ] ||
  { echo "wine-prefix: wineboot made no prefix at $PREFIX" >&2; exit 1; }

fonts="$PREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
cjk="$(fc-list :lang=zh -f '%{file}\n' 2>/dev/null | grep -i -E 'wqy|noto' | head -n1 || true)"
[ -n "$cjk" ] && cp "$cjk" "$fonts/"
for f in /usr/share/fonts/truetype/liberation*/LiberationSans-*.ttf; do
  [ -f "$f" ] && cp "$f" "$fonts/"
done

reg="$(mktemp --suffix=.reg)"
trap 'rm -f "$reg"' EXIT
cjkface="WenQuanYi Micro Hei"
python3 - "$reg" "$cjkface" <<'PY'
import sys
path, cjk = sys.argv[1], sys.argv[2]
lines = ["Windows Registry Editor Version 5.00", "",
         "[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]", '"Graphics"="null"', "",
         # No menu entries on the host for the links that the tests make.
         "[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]", '"winemenubuilder.exe"=""', "",
         "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]"]
for face in ["Arial", "Segoe UI", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Verdana"]:
    lines.append('"%s"="Liberation Sans"' % face)
for face in ["微软雅黑", "Microsoft YaHei", "宋体", "SimSun", "新宋体", "NSimSun", "黑体", "SimHei"]:
    lines.append('"%s"="%s"' % (face, cjk))
lines.append("")
open(path, "wb").write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
PY
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w
# The user's shell folders are links to $HOME; the tests get folders of their own.
for link in "$PREFIX/drive_c/users/$(id -un)"/*; do
  if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
done
echo "wine prefix ready: $PREFIX"

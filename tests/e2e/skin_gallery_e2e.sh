#!/usr/bin/env bash
# Runs the skin gallery under Wine and checks that every window skin became a
# PNG of its window's size that is not a blank canvas.
# Usage: skin_gallery_e2e.sh SKIN_GALLERY_EXE OUTPUT_FOLDER
set -uo pipefail
GALLERY="$1"; OUT="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
rm -rf "$OUT"; mkdir -p "$OUT"
"$ROOT/scripts/wine-run.sh" "$GALLERY" "Z:${OUT//\//\\}" || { echo "FAILED: the gallery did not run"; exit 1; }
passed=0; failed=0
check() { local n="$1"; shift; if "$@"; then passed=$((passed+1)); echo "ok: $n"; else failed=$((failed+1)); echo "FAILED: $n"; fi; }
declare -A sizes=([MainWindow]="610x630" [InstallProcessWnd]="610x430" [InstallSuccessWnd]="610x430"
  [InstallFailWnd]="610x430" [SuccessWindow]="610x430" [UninstallWindow]="656x320" [ProcessWindow]="656x320"
  [UninstalledWindow]="656x460" [FloatWnd]="642x240")
for w in "${!sizes[@]}"; do
  f="$OUT/$w.png"
  check "$w rendered" test -s "$f"
  [ -s "$f" ] || continue
  check "$w is ${sizes[$w]}" test "$(identify -format '%wx%h' "$f")" = "${sizes[$w]}"
  colours="$(convert "$f" -format '%k' info:)"
  check "$w is drawn (many colours)" test "$colours" -gt 50
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

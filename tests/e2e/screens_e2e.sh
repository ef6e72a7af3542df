#!/usr/bin/env bash
# Runs the setup program through every screen on a virtual X server
# (scripts/demo-screens.sh) and checks the screenshots: each screen at its
# size and drawn, the progress bar filled, the feedback form over the
# closing screen.
# Usage: screens_e2e.sh OUTPUT_FOLDER
#        screens_e2e.sh --check FOLDER   (checks screenshots taken elsewhere)
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
if [ "$1" = --check ]; then
  OUT="$2"
else
  OUT="$1"
  bash "$ROOT/scripts/demo-screens.sh" "$OUT" || { echo "FAILED: the screen run did not finish"; exit 1; }
fi
passed=0; failed=0
check() { local n="$1"; shift; if "$@"; then passed=$((passed+1)); echo "ok: $n"; else failed=$((failed+1)); echo "FAILED: $n"; fi; }
colours() { convert "$1" "${@:2}" -format '%k' info:; }
declare -A sizes=([01-options]=610x430 [02-options-unfolded]=610x630 [04-progress]=610x430 [05-success]=610x430
  [06-uninstall-confirm]=656x320 [07-uninstall-progress]=656x320 [08-uninstalled]=656x460 [09-failure]=610x430)
for s in "${!sizes[@]}"; do
  f="$OUT/$s.png"
  check "$s taken" test -s "$f"
  [ -s "$f" ] || continue
  check "$s is ${sizes[$s]}" test "$(identify -format '%wx%h' "$f")" = "${sizes[$s]}"
  check "$s is drawn" test "$(colours "$f")" -gt 200
done
check "the invalid-folder message was taken" test -s "$OUT/03-invalid-folder.png"
# The feedback form covers the closing screen's empty middle with its questions.
[ -s "$OUT/08-uninstalled.png" ] &&
  check "the feedback form is drawn over the closing screen" \
    test "$(colours "$OUT/08-uninstalled.png" -crop 642x240+7+160 +repage)" -gt 50
# Some of the bar is filled: the blue of its fill appears left on the bar.
[ -s "$OUT/04-progress.png" ] &&
  check "the progress bar shows progress" \
    test "$(convert "$OUT/04-progress.png" -crop 30x4+50+294 +repage -format '%[fx:mean.b>0.8 && mean.r<0.5]' info:)" = 1
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

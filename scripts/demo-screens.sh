#!/usr/bin/env bash
# Runs the sample product's setup program (x86_64 test build) through every
# screen under Wine on a virtual X server and saves a screenshot of each.
# Usage: demo-screens.sh OUT_FOLDER
#        demo-screens.sh --pack FOLDER   (only makes the setup files, into FOLDER)
#   The setup files are made here from build/x64 (mksetup): the sample
#   product with a large data file (so the progress screen stays a moment),
#   the stand-in detector as extra section, and a copy cut short.
#   QUILLO_SCREENS_FILES names a folder with these two made already
#   (QuilloSetup.exe, CutSetup.exe); QUILLO_TIME_SCALE multiplies every wait
#   (a slow machine). QUILLO_SCREENS_DPI runs the program on a display of that
#   DPI (96 by default): every screen, and every place clicked or looked at,
#   is that much larger.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
pack_only=0
if [ "${1:-}" = --pack ]; then pack_only=1; shift; fi
OUT="$1"
mkdir -p "$OUT"
[ "$pack_only" = 1 ] || rm -f "$OUT"/*.png
work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-screens.XXXXXX")"
dpi=${QUILLO_SCREENS_DPI:-96}
# A length of the screens (at 96 DPI) at the display's DPI, as the program
# scales it: the nearest pixel.
px() { echo $((($1 * dpi + 48) / 96)); }
size() { echo "$(px "$1")x$(px "$2")"; }
export QUILLO_GUI_SIZE="$(size 1280 1024)"
[ "$dpi" = 96 ] || export QUILLO_GUI_DPI="$dpi"
# Statistics go to a closed local port.
export QUILLO_STAT_SERVER=127.0.0.1:9
# shellcheck source=gui-run.sh
source "$ROOT/scripts/gui-run.sh"
cleanup() { gui_stop; rm -rf "$work"; }
trap cleanup EXIT

setup="$work/QuilloSetup.exe"
bad="$work/CutSetup.exe"
if [ "$pack_only" = 1 ]; then setup="$OUT/QuilloSetup.exe"; bad="$OUT/CutSetup.exe"; fi
if [ -n "${QUILLO_SCREENS_FILES:-}" ] && [ "$pack_only" = 0 ]; then
  setup="$QUILLO_SCREENS_FILES/QuilloSetup.exe"
  bad="$QUILLO_SCREENS_FILES/CutSetup.exe"
else
  # The demo product: the sample with 160 MiB of data that does not compress.
  mkdir -p "$work/extra-data"
  head -c $((160 * 1024 * 1024)) /dev/urandom >"$work/extra-data/media.bin"
  QUILLO_SAMPLE_EXTRA="$work/extra-data" bash "$ROOT/scripts/pack-sample.sh" "$ROOT/build/x64" "$setup" \
    --set extrapack=true --extra "$ROOT/build/x64/detector/QuilloTestDetector.dll" >/dev/null
  # A setup file cut short: its package no longer fits (install error 5).
  plain="$work/PlainSetup.exe"
  bash "$ROOT/scripts/pack-sample.sh" "$ROOT/build/x64" "$plain" >/dev/null
  head -c $(($(stat -c %s "$plain") - 4096)) "$plain" >"$bad"
fi
if [ "$pack_only" = 1 ]; then
  [ -s "$setup" ] && [ -s "$bad" ] || { echo "demo-screens: the setup files were not made" >&2; exit 1; }
  echo "setup files in $OUT"
  exit 0
fi
win() { echo "Z:${1//\//\\}"; }
scale=${QUILLO_TIME_SCALE:-1}
ms() { echo $(($1 * scale)); }

gui_start || exit 1
shots=0
shot() {  # shot HWND NAME
  sleep "$(awk "BEGIN { print 0.4 * $scale }")"
  if gui_shot_window "$1" "$OUT/$2.png"; then shots=$((shots + 1)); echo "  $2.png"; fi
}
fail() { echo "demo-screens: $*" >&2; exit 1; }
# start_run SIZE COMMAND...: starts a run in the background (pid) and waits
# for its first screen of SIZE (window). A run started just after another
# ended can, on a loaded machine, find the one-run lock still held for a
# moment (Wine lets go of an ended process's objects a little after the
# process is gone): it then says so in a message and ends. That message is
# closed and the run started once more.
start_run() {
  local size="$1" attempt box
  shift
  for attempt in 1 2; do
    "$@" & pid=$!
    window=$(gui_drive wait --title Corvane --visible --size "$size" --timeout-ms $(ms 30000)) && return 0
    box=$(gui_drive wait --class '#32770' --visible --timeout-ms 2000) || return 1
    echo "  (the run before still held the one-run lock; started again)"
    gui_drive command "$box" 1 >/dev/null
    gui_wait $pid $((10 * scale)) >/dev/null
  done
  return 1
}

echo "screens of an installation:"
wine "$(win "$setup")" /D 'C:\Demo' & pid=$!
main=$(gui_drive wait --title Corvane --visible --size "$(size 610 430)" --timeout-ms $(ms 30000)) || fail "no options screen"
shot "$main" 01-options
gui_drive command "$main" 1009 >/dev/null
gui_drive wait --title Corvane --visible --size "$(size 610 630)" --timeout-ms $(ms 10000) >/dev/null || fail "options did not unfold"
shot "$main" 02-options-unfolded
# A folder without a drive is refused.
gui_drive click "$main" "$(px 300)" "$(px 373)" >/dev/null
gui_drive key "$main" 35 >/dev/null
gui_drive key "$main" 8 40 >/dev/null
gui_drive type "$main" 'Quillo3' >/dev/null
gui_drive command "$main" 1001 >/dev/null
box=$(gui_drive wait --class '#32770' --visible --timeout-ms $(ms 10000)) || fail "no message for a bad folder"
sleep 0.4; gui_shot "$work/box.png"
read -r bx by bw bh <<<"$(gui_drive rect "$box")"
read -r mx my mw mh <<<"$(gui_drive rect "$main")"
# The message over the options screen.
l=$((bx < mx ? bx : mx)); t=$((by < my ? by : my))
r=$((bx + bw > mx + mw ? bx + bw : mx + mw)); b=$((by + bh > my + mh ? by + bh : my + mh))
convert "$work/box.png" -crop "$((r - l))x$((b - t))+$l+$t" +repage "$OUT/03-invalid-folder.png" && shots=$((shots + 1)) &&
  echo "  03-invalid-folder.png"
gui_drive command "$box" 1 >/dev/null
gui_drive command "$main" 1000 >/dev/null
# Closing the options screen cancels: 1602 (a shell sees it modulo 256).
gui_wait $pid $((60 * scale)); [ $? = $((1602 % 256)) ] || fail "the options screen's close did not end with 1602"

# The run holds the progress screen a few seconds after the unpacking (an
# install of the sample is over in a moment), so that it can be taken.
start_run "$(size 610 430)" env QUILLO_PAUSE_BEFORE_STEP="shortcuts:$((3 * scale))" wine "$(win "$setup")" /D 'C:\Demo' ||
  fail "no options screen"
main=$window
gui_drive command "$main" 1001 >/dev/null
progress=$(gui_drive wait --depth 1 --visible --size "$(size 610 430)" --timeout-ms $(ms 30000)) || fail "no progress screen"
# Frames while the progress screen is up; one from the unpacking is kept.
frames=()
while r="$(gui_drive rect "$progress" 2>/dev/null)" && [ "$(awk '{print $3}' <<<"$r")" = "$(px 610)" ]; do
  f="$work/progress-${#frames[@]}.png"
  read -r x y w h <<<"$r"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$f" 2>/dev/null && frames+=("$f")
  sleep 0.2
done
# The first frame whose bar shows progress (the unpacking, fully opaque),
# else one two thirds through.
bar_filled() {
  [ "$(convert "$1" -crop "$(px 30)x$(px 4)+$(px 50)+$(px 294)" +repage \
    -format '%[fx:mean.b>0.8 && mean.r<0.5]' info:)" = 1 ]
}
if [ ${#frames[@]} -gt 0 ]; then
  pick="${frames[$(( ${#frames[@]} * 2 / 3 ))]}"
  for f in "${frames[@]}"; do
    if bar_filled "$f"; then pick="$f"; break; fi
  done
  cp "$pick" "$OUT/04-progress.png" && shots=$((shots + 1)) && echo "  04-progress.png"
fi
success=$(gui_drive wait --depth 2 --visible --size "$(size 610 430)" --timeout-ms $(ms 120000)) || fail "no success screen"
shot "$success" 05-success
gui_drive command "$success" 1000 >/dev/null
gui_wait $pid $((60 * scale)) || fail "the setup program did not end with 0"

echo "screens of an uninstallation:"
# The uninstaller hands over to its copy in the temporary folder and waits
# for it: it ends with the copy. The removal of the files is held a few
# seconds (it is over in a moment), so that its progress screen can be taken.
start_run "$(size 656 320)" env QUILLO_PAUSE_BEFORE_STEP="remove:$((3 * scale))" wine 'C:\Demo\Quillo 3\unins000.exe' ||
  fail "no confirmation"
confirm=$window
shot "$confirm" 06-uninstall-confirm
gui_drive command "$confirm" 1001 >/dev/null
uprogress=$(gui_drive wait --depth 1 --visible --size "$(size 656 320)" --timeout-ms $(ms 30000)) || fail "no removal progress"
# Frames from the moment the screen shows; the first one that is drawn is
# kept (a later one could already hold the closing screen).
for n in $(seq 10); do
  r="$(gui_drive rect "$uprogress" 2>/dev/null)" || break
  read -r x y w h <<<"$r"
  [ "${w}x${h}" = "$(size 656 320)" ] || break
  f="$work/uprogress-$n.png"
  import -display "$DISPLAY" -window root -crop "${w}x${h}+${x}+${y}" +repage "$f" 2>/dev/null || continue
  if [ "$(identify -format %k "$f")" -gt 200 ]; then
    cp "$f" "$OUT/07-uninstall-progress.png" && shots=$((shots + 1)) && echo "  07-uninstall-progress.png"
    break
  fi
done
closing=$(gui_drive wait --depth 2 --visible --size "$(size 656 460)" --timeout-ms $(ms 60000)) || fail "no closing screen"
gui_drive wait --depth 3 --visible --size "$(size 642 240)" --timeout-ms $(ms 10000) >/dev/null || fail "no feedback form"
shot "$closing" 08-uninstalled
gui_drive command "$closing" 1002 >/dev/null
gui_wait $pid $((60 * scale)) || fail "the uninstaller did not end with its copy's 0"

echo "screens of a failed installation:"
start_run "$(size 610 430)" wine "$(win "$bad")" /D 'C:\Demo Bad' || fail "no options screen"
main=$window
gui_drive command "$main" 1001 >/dev/null
failure=$(gui_drive wait --depth 2 --visible --size "$(size 610 430)" --timeout-ms $(ms 120000)) || fail "no failure screen"
shot "$failure" 09-failure
gui_drive command "$failure" 4563 >/dev/null
gui_wait $pid $((60 * scale)); [ $? = 1 ] || fail "the failure screen's close did not end with 1"

echo "$shots screenshots in $OUT"
[ "$shots" -ge 9 ]

#!/usr/bin/env bash
# One case of the 32-bit lane: gathers what the case needs from the x86_64
# and the i686 build, runs it in the lane's machine (scripts/lane-run.sh),
# where every step runs first with the x86_64 build and then with the i686
# deliverable, and reports both builds' checks side by side.
# Usage: lane_case.sh CASE [I686_BUILD X64_BUILD]
#   CASE: install | gui | driver | screens | large
# Exit code 0 when every check of both builds passed.
set -uo pipefail
CASE="$1"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
I686="${2:-$ROOT/build/i686}"
X64="${3:-$ROOT/build/x64}"
case "$CASE" in install | gui | driver | screens | large) ;; *) echo "lane_case: unknown case $CASE" >&2; exit 2 ;; esac

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-lane-case.XXXXXX")"
trap 'rm -rf "$work"' EXIT
io="$work/io"
mkdir -p "$io/tests" "$io/scripts" "$io/tools"
cp "$ROOT/tests/lane/lane_guest.sh" "$ROOT/tests/e2e/prefix_snapshot.py" "$io/tests/"
cp "$ROOT/scripts/gui-run.sh" "$ROOT/scripts/demo-screens.sh" "$io/scripts/"
cp "$X64/tests/windows/quillo-drive.exe" "$io/tools/" || exit 1
# The case's output also goes to the machine's console, which the runner
# keeps as it comes (console.log).
printf '#!/bin/bash\nbash /io/tests/lane_guest.sh %s 2>&1 | tee /dev/ttyS0\nexit ${PIPESTATUS[0]}\n' "$CASE" >"$io/case.sh"

# The sample packed by our packer, its notes on the architecture folders left out.
pack() { bash "$ROOT/scripts/pack-sample.sh" "$@" 2>&1 >/dev/null | grep -v '^mksetup: warning:' >&2; return "${PIPESTATUS[0]}"; }

for B in x64 i686; do
  if [ "$B" = x64 ]; then D="$X64"; else D="$I686"; fi
  dir="$io/$B"
  mkdir -p "$dir"
  case "$CASE" in
    install)
      QUILLO_SAMPLE_PRODUCT="$work/product-$B" pack "$D" "$dir/sample-setup.exe" ||
        exit 1
      # What lands in the installation folder on 64-bit Windows: the x64
      # folder's files in place of both architecture folders.
      mkdir -p "$dir/product"
      cp -r "$work/product-$B/." "$dir/product/"
      rm -rf "$dir/product/x86"
      cp -r "$dir/product/x64/." "$dir/product/" && rm -rf "$dir/product/x64"
      ;;
    gui | driver)
      pack "$D" "$dir/sample-setup.exe" || exit 1
      cp "$D/tests/windows/win_tests.exe" "$D/detector/QuilloTestDetector.dll" "$D/skin.uir" "$dir/" || exit 1
      mkdir -p "$dir/sample" "$dir/apple"
      cp "$D"/sample/*.exe "$D"/sample/*.dll "$dir/sample/" 2>/dev/null
      cp "$D/apple/iTunes.dll" "$D/apple/CoreFP.dll" "$dir/apple/" || exit 1
      ;;
    large)
      # A package of 1.5 GiB that does not compress: more than a 32-bit
      # process could hold in one piece.
      if [ ! -f "$work/large/media.bin" ]; then
        mkdir -p "$work/large"
        head -c $((1536 * 1024 * 1024)) /dev/urandom >"$work/large/media.bin"
      fi
      QUILLO_SAMPLE_EXTRA="$work/large" pack "$D" "$dir/sample-setup.exe" || exit 1
      [ -f "$io/large.md5" ] || md5sum <"$work/large/media.bin" | cut -d' ' -f1 >"$io/large.md5"
      ;;
    screens)
      # The demo's setup files: the sample with 160 MiB of data that does not
      # compress (the progress screen stays long enough for a capture, which
      # costs a process start or two), the detector as extra section, and a
      # copy cut short.
      mkdir -p "$work/extra-data" "$dir/screens"
      [ -f "$work/extra-data/media.bin" ] || head -c $((160 * 1024 * 1024)) /dev/urandom >"$work/extra-data/media.bin"
      QUILLO_SAMPLE_EXTRA="$work/extra-data" pack "$D" "$dir/screens/QuilloSetup.exe" \
        --set extrapack=true --extra "$D/detector/QuilloTestDetector.dll" || exit 1
      pack "$D" "$work/plain.exe" || exit 1
      head -c $(($(stat -c %s "$work/plain.exe") - 4096)) "$work/plain.exe" >"$dir/screens/CutSetup.exe"
      ;;
  esac
done
if [ "$CASE" = driver ]; then
  bash "$ROOT/tests/windows/apple/make-apple-packages.sh" "$io/x64/apple/msi" || exit 1
fi
# QUILLO_LANE_FILES: only gather the case's files into that folder.
if [ -n "${QUILLO_LANE_FILES:-}" ]; then
  mkdir -p "$QUILLO_LANE_FILES" && cp -r "$io/." "$QUILLO_LANE_FILES/"
  exit
fi
# The large case installs 1.5 GiB twice under emulation, each time beside a
# prefix on the case disk.
if [ "$CASE" = large ]; then
  export QUILLO_LANE_TIMEOUT="${QUILLO_LANE_TIMEOUT:-3600}" QUILLO_LANE_SPARE_MB="${QUILLO_LANE_SPARE_MB:-6144}"
fi
result="${QUILLO_LANE_RESULT:-$work/result}"
echo "lane: case $CASE, $(du -sh "$io" | cut -f1) of files, machine starting ($(date -u +%T))"
start=$SECONDS
bash "$ROOT/scripts/lane-run.sh" "$io" "$result"
rc=$?
echo "lane: machine done after $((SECONDS - start)) s, case exit code $rc"

checks="$result/checks"
touch "$checks"
if [ "$CASE" = screens ]; then
  for B in x64 i686; do
    if [ -d "$result/screens-$B" ]; then
      bash "$ROOT/tests/e2e/screens_e2e.sh" --check "$result/screens-$B" | sed -n "s/^ok: \(.*\)/$B ok screenshot \1/p; s/^FAILED: \(.*\)/$B FAILED screenshot \1/p" >>"$checks"
    else
      echo "$B FAILED screenshots brought back" >>"$checks"
    fi
  done
  [ -n "${QUILLO_LANE_SCREENS_OUT:-}" ] && mkdir -p "$QUILLO_LANE_SCREENS_OUT" && cp -r "$result"/screens-* "$QUILLO_LANE_SCREENS_OUT/"
fi

# Both builds side by side: a check that only one build passes is a difference.
python3 - "$checks" <<'PY'
import sys
rows, notes, order = {}, [], []
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    parts = line.rstrip("\n").split(" ", 2)
    if len(parts) < 3: continue
    build, verdict, name = parts
    if verdict == "note":
        notes.append("%-5s %s" % (build, name)); continue
    if name not in rows: rows[name] = {}; order.append(name)
    rows[name][build] = verdict
print("%-70s %-7s %-7s" % ("check", "x64", "i686"))
differ = 0
for name in order:
    r = rows[name]
    x, i = r.get("x64", "-"), r.get("i686", "-")
    mark = "   <- differs" if x != i else ""
    differ += x != i
    print("%-70s %-7s %-7s%s" % (name[:70], x, i, mark))
for n in notes: print("note: " + n)
print("%d checks, %d differ between the builds" % (len(order), differ))
PY
failed=$(grep -c ' FAILED ' "$checks")
if [ "$failed" != 0 ] || [ "$rc" != 0 ]; then
  kept="${TMPDIR:-/tmp}/quillo-lane-$CASE-failed"
  rm -rf "$kept" && cp -r "$result" "$kept" && echo "lane: the case's results are kept in $kept"
fi
oks=$(grep -c '^i686 ok ' "$checks")
echo "lane $CASE: $(grep -c ' ok ' "$checks") ok, $failed failed"
[ "$rc" = 0 ] && [ "$failed" = 0 ] && [ "$oks" -gt 0 ]

#!/usr/bin/env bash
# Wineserver requests per product file: our quiet install and uninstall
# against the NSIS installer of bench/peer_installer.nsi, counted from the
# wineserver's own request trace (`wineserver -d1`). Each installer runs on
# two products that differ only in their number of files (N1 and N2, from
# bench/make_payload.py); the difference of the counts divided by N2 - N1 is
# what one more file costs, by request name, and the start-up and the
# shortcuts, registry and uninstaller cancel out. Counts, not timings: the
# trace slows the server down.
#
# Usage: bash bench/server_requests.sh [--files N1,N2] [--top K]
# Inputs (environment, as bench/peer_bench.sh):
#   QUILLO_SETUP_X64  build/x64/QuilloSetup.exe
#   QUILLO_MKSETUP    build/native/tools/mksetup/mksetup
#   QUILLO_WINE_BASE  build/wine/base
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

FILES="100,300"
TOP=25
while [ $# -gt 0 ]; do
  case "$1" in
    --files) FILES="${2:?--files wants N1,N2}"; shift 2 ;;
    --top) TOP="${2:?--top wants a number}"; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 0 ;;
    *) echo "server_requests: unknown option $1" >&2; exit 2 ;;
  esac
done
N1="${FILES%,*}" N2="${FILES#*,}"
[[ "$N1" =~ ^[0-9]+$ && "$N2" =~ ^[0-9]+$ && "$N2" -gt "$N1" ]] ||
  { echo "server_requests: --files wants N1,N2 with N2 > N1" >&2; exit 2; }

SETUP_X64="${QUILLO_SETUP_X64:-$ROOT/build/x64/QuilloSetup.exe}"
MKSETUP="${QUILLO_MKSETUP:-$ROOT/build/native/tools/mksetup/mksetup}"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
BLOCK="$ROOT/tools/sample-product/block.json"
for f in "$SETUP_X64" "$MKSETUP"; do
  [ -f "$f" ] || { echo "server_requests: $f is missing" >&2; exit 2; }
done
[ -d "$BASE" ] || { echo "server_requests: no base prefix at $BASE" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-requests.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export QUILLO_STAT_SERVER=127.0.0.1:9
server_pid=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$server_pid" ] && wait "$server_pid" 2>/dev/null || true
  if [ -n "${QUILLO_KEEP_TRACE:-}" ]; then cp "$work/trace" "$QUILLO_KEEP_TRACE"; fi
  rm -rf "$work"
}
trap cleanup EXIT
note() { printf '[server_requests] %s\n' "$*" >&2; }

cp "$SETUP_X64" "$work/stub.exe"
for n in "$N1" "$N2"; do
  note "product and installers with $n files"
  python3 "$ROOT/bench/make_payload.py" "$work/product$n" --files "$n"
  "$MKSETUP" --stub "$work/stub.exe" --block "$BLOCK" --package "$work/product$n" --out "$work/ours$n.exe" >/dev/null
  makensis -V1 -DPAYLOAD="$work/product$n" -DOUTFILE="$work/nsis$n.exe" -DTARGET=amd64-unicode \
    "$ROOT/bench/peer_installer.nsi" >/dev/null
done

# The base prefix has real shell folders already (scripts/wine-prefix.sh).
cp -a "$BASE" "$WINEPREFIX"
user="$(id -un)"
drive="$WINEPREFIX/drive_c"
temp="$drive/users/$user/Temp"
wtemp="C:\\users\\$user\\Temp"
mkdir -p "$temp"
winpath() { echo "Z:${1//\//\\}"; }

trace="$work/trace"
wineserver -f -d1 2>"$trace" &
server_pid=$!
sleep 1
wine cmd /c exit >/dev/null 2>&1 || true   # the prefix's services start here, uncounted

# counts LABEL COMMAND...: runs the command and writes the request names of
# its span of the trace, one count a line, to $work/LABEL.
counts() {
  local label="$1"; shift
  local from to
  from=$(stat -c %s "$trace")
  "$@" >/dev/null 2>&1 || { echo "server_requests: $label failed" >&2; exit 1; }
  sleep 0.5
  to=$(stat -c %s "$trace")
  tail -c +"$((from + 1))" "$trace" | head -c "$((to - from))" |
    sed -n 's/^[0-9a-f]\{4\}: \([a-z_0-9]*\)( .*/\1/p' | sort | uniq -c | awk '{ print $2, $1 }' >"$work/$label"
}

# One uncounted round first: the first run of a program in a prefix reads
# fonts and settings that later runs find ready.
wine "$(winpath "$work/ours$N1.exe")" /q /D "C:\\warm" >/dev/null 2>&1 || true
cp "$drive/warm/Quillo 3/unins000.exe" "$temp/unins000.exe" && wine "$wtemp\\unins000.exe" /q >/dev/null 2>&1 || true
wine "$(winpath "$work/nsis$N1.exe")" /S "/D=C:\\warmnsis\\Quillo3" >/dev/null 2>&1 || true
cp "$drive/warmnsis/Quillo3/uninst.exe" "$temp/uninst.exe" &&
  wine "$wtemp\\uninst.exe" /S "_?=C:\\warmnsis\\Quillo3" >/dev/null 2>&1 || true

for n in "$N1" "$N2"; do
  note "ours, $n files"
  counts "ours-install-$n" wine "$(winpath "$work/ours$n.exe")" /q /D "C:\\ours$n"
  [ -f "$drive/ours$n/Quillo 3/unins000.exe" ] || { echo "server_requests: our install wrote nothing" >&2; exit 1; }
  cp "$drive/ours$n/Quillo 3/unins000.exe" "$temp/unins000.exe"
  counts "ours-uninstall-$n" wine "$wtemp\\unins000.exe" /q
  note "NSIS, $n files"
  counts "nsis-install-$n" wine "$(winpath "$work/nsis$n.exe")" /S "/D=C:\\nsis$n\\Quillo3"
  cp "$drive/nsis$n/Quillo3/uninst.exe" "$temp/uninst.exe"
  counts "nsis-uninstall-$n" wine "$wtemp\\uninst.exe" /S "_?=C:\\nsis$n\\Quillo3"
done

# table PHASE: per-file requests by name, ours beside NSIS.
table() {
  local phase="$1"
  python3 - "$work" "$phase" "$N1" "$N2" "$TOP" <<'EOF'
import sys
work, phase, n1, n2, top = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
def load(name):
    out = {}
    with open("%s/%s" % (work, name)) as f:
        for line in f:
            k, v = line.split()
            out[k] = int(v)
    return out
rows = {}
totals = {}
for who in ("ours", "nsis"):
    a, b = load("%s-%s-%d" % (who, phase, n1)), load("%s-%s-%d" % (who, phase, n2))
    totals[who] = (sum(a.values()), sum(b.values()))
    for k in set(a) | set(b):
        rows.setdefault(k, {})[who] = (b.get(k, 0) - a.get(k, 0)) / (n2 - n1)
        rows[k][who + "_total"] = b.get(k, 0)
order = sorted(rows, key=lambda k: -max(abs(rows[k].get("ours", 0)), abs(rows[k].get("nsis", 0))))
print("%s: requests per file (count at %d files minus count at %d, / %d); totals at %d files" % (phase, n2, n1, n2 - n1, n2))
print("%-28s %10s %10s %12s %12s" % ("request", "ours/file", "NSIS/file", "ours total", "NSIS total"))
for k in order[:top]:
    r = rows[k]
    print("%-28s %10.2f %10.2f %12d %12d" % (k, r.get("ours", 0), r.get("nsis", 0), r.get("ours_total", 0), r.get("nsis_total", 0)))
po = (totals["ours"][1] - totals["ours"][0]) / (n2 - n1)
pn = (totals["nsis"][1] - totals["nsis"][0]) / (n2 - n1)
print("%-28s %10.2f %10.2f %12d %12d" % ("all requests", po, pn, totals["ours"][1], totals["nsis"][1]))
print("%-28s %10s %10s %12d %12d" % ("  fixed part (at 0 files)", "", "", round(totals["ours"][0] - po * n1), round(totals["nsis"][0] - pn * n1)))
print()
# Where the fixed part differs most: the counts at N1 files less the per-file part.
fixed = {}
for k, r in rows.items():
    fixed[k] = {w: r.get(w + "_total", 0) - r.get(w, 0) * n2 for w in ("ours", "nsis")}
order = sorted(fixed, key=lambda k: -(fixed[k]["ours"] - fixed[k]["nsis"]))
print("%s: fixed requests (independent of the file count), largest excess of ours first" % phase)
print("%-28s %10s %10s" % ("request", "ours", "NSIS"))
for k in order[:top]:
    print("%-28s %10.0f %10.0f" % (k, fixed[k]["ours"], fixed[k]["nsis"]))
print()
EOF
}
echo
echo "Wineserver requests, $(wine --version 2>/dev/null), NSIS $(makensis -VERSION); products of $N1 and $N2 files"
echo
table install
table uninstall

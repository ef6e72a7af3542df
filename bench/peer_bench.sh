#!/usr/bin/env bash
# Peer bench: the setup program against an NSIS installer of the same product
# folder (100 MB / 2,000 files, from bench/make_payload.py), both run under
# wine64 in ONE fresh copy of the base prefix, with references measured in the
# same run. Prints a table with the goals beside the numbers; timings are
# reported, never enforced. Fails only when something does not work: an
# installer that does not exit with 0, an installed tree that differs from the
# product, a folder left behind by an uninstaller.
#
# Usage: bash bench/peer_bench.sh [--runs N] [--skip-subbenches] [--large-mb N] [--huge-mb N]
#   --runs N             install/uninstall rounds (default 3, at least 1); the
#                        table shows the best round, the median in brackets
#   --skip-subbenches    leave out bench/extract_bench.sh and bench/md5_bench.sh
#   --large-mb N         also install (once each, ours and NSIS) a product of
#                        N MiB of random files of 2 MiB (default 1024; 0 leaves
#                        it out): peak memory must not grow with the package
#   --huge-mb N          also install a product of N MiB with ours alone
#                        (default 0, off; e.g. 1536): the address space that a
#                        32-bit process would need stays flat
#
# Inputs, taken from the trees of scripts/build.sh unless set in the environment:
#   QUILLO_SETUP_X64      build/x64/QuilloSetup.exe   stub run under wine64
#   QUILLO_SETUP_I686     build/i686/QuilloSetup.exe  the deliverable; size only (no 32-bit execution here)
#   QUILLO_MKSETUP        build/native/tools/mksetup/mksetup
#   QUILLO_FIRST_WINDOW   build/x64/bench/first_window.exe (from bench/first_window.cpp)
#   QUILLO_EXTRACT_BENCH  build/x64/bench/extract_bench.exe (for bench/extract_bench.sh)
#   QUILLO_MD5_BENCH      build/bench/bench/md5_bench (for bench/md5_bench.sh;
#                         configured and built as bench/run.sh does when missing)
#   QUILLO_WINE_BASE      build/wine/base (made by scripts/wine-prefix.sh when missing)
# Everything is copied into a work folder first, so a concurrent rebuild does
# not change what is measured. Needs makensis (Debian package nsis), wine64,
# zip/unzip, python3.
#
# What is measured (all under Wine, null graphics driver, WINEDEBUG=-all):
#   stub             setup file minus the payload. Ours: file size minus the
#                    package size that `mksetup inspect` prints (what is left is
#                    the program with its skin, the block and the size fields).
#                    NSIS: the size of the same script built without the
#                    product files (stub + script + uninstaller data);
#                    makensis's "EXE header size" is shown beside it.
#   quiet install    `SETUP.exe /q /D C:\bench\oursN` (installs into
#                    "...\Quillo 3"), `nsis.exe /S /D=C:\bench\nsisN\Quillo3`;
#                    wall time of the wine command, wineserver already running.
#                    Each install goes into a new folder and is compared with
#                    the product (diff -r) before its uninstall. The order of
#                    ours / NSIS / unzip rotates from round to round.
#   upgrade          the same setup file run again over that installation
#                    (ours sets the earlier one aside and puts the new one in
#                    place; NSIS writes over it), diffed again.
#   quiet uninstall  both uninstallers are copied into %TEMP% first and run
#                    there, so that the timed process is the one that removes
#                    (ours copies itself to a Quillo_Temp_ folder anyway;
#                    NSIS does the same unless given _?=):
#                    `%TEMP%\Quillo_Temp_<hex>\unins000.exe /q` and
#                    `%TEMP%\uninst.exe /S _?=C:\bench\nsisN\Quillo3`. The
#                    installed folder must be gone afterwards.
#   native unzip     `unzip -q` of the package ZIP cut out of our setup file,
#                    into the same drive_c; then `rm -rf` of that tree, the
#                    native reference for the uninstallers.
#   CPU              user + system seconds of the installer process itself,
#                    and what the prefix's wineserver spent meanwhile (Wine
#                    opens, creates and deletes files there); medians.
#   peak memory      ru_maxrss of the installer process (Wine runs the Windows
#                    program in the Linux process it starts) and VmHWM polled
#                    from /proc by bench/peer_run.py, the larger of the two.
#                    The Wine baseline is the peak of a program that returns
#                    at once. VmPeak (address space) is shown beside it for
#                    the large packages.
#   first window     bench/first_window.cpp starts the program without
#                    arguments (GUI mode) and polls EnumWindows for a visible
#                    top-level window of it; the baseline is a plain program
#                    that shows one window at once.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

RUNS=3
SUBBENCHES=1
LARGE_MB=1024
HUGE_MB=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) RUNS="${2:?--runs wants a number}"; shift 2 ;;
    --skip-subbenches) SUBBENCHES=0; shift ;;
    --large-mb) LARGE_MB="${2:?--large-mb wants a number}"; shift 2 ;;
    --huge-mb) HUGE_MB="${2:?--huge-mb wants a number}"; shift 2 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d'; exit 0 ;;
    *) echo "peer_bench: unknown option $1" >&2; exit 2 ;;
  esac
done
[[ "$RUNS" =~ ^[1-9][0-9]*$ ]] || { echo "peer_bench: --runs wants a positive number" >&2; exit 2; }
[[ "$LARGE_MB" =~ ^[0-9]+$ && "$HUGE_MB" =~ ^[0-9]+$ ]] || { echo "peer_bench: --large-mb/--huge-mb want numbers" >&2; exit 2; }

SETUP_X64="${QUILLO_SETUP_X64:-$ROOT/build/x64/QuilloSetup.exe}"
SETUP_I686="${QUILLO_SETUP_I686:-$ROOT/build/i686/QuilloSetup.exe}"
MKSETUP="${QUILLO_MKSETUP:-$ROOT/build/native/tools/mksetup/mksetup}"
FIRST_WINDOW="${QUILLO_FIRST_WINDOW:-$ROOT/build/x64/bench/first_window.exe}"
EXTRACT_BENCH="${QUILLO_EXTRACT_BENCH:-$ROOT/build/x64/bench/extract_bench.exe}"
MD5_BENCH="${QUILLO_MD5_BENCH:-$ROOT/build/bench/bench/md5_bench}"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
BLOCK="$ROOT/tools/sample-product/block.json"

for f in "$SETUP_X64" "$SETUP_I686" "$MKSETUP"; do
  [ -f "$f" ] || { echo "peer_bench: $f is missing (run scripts/build.sh)" >&2; exit 2; }
done
for tool in makensis wine wineserver zip unzip python3; do
  command -v "$tool" >/dev/null || { echo "peer_bench: $tool not found" >&2; exit 2; }
done
[ -d "$BASE" ] || bash scripts/wine-prefix.sh "$BASE" >/dev/null

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-peer.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
# winemenubuilder would turn every shortcut into a .desktop file on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export QUILLO_STAT_SERVER=127.0.0.1:9   # statistics go to a closed local port
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

note() { printf '[peer_bench] %s\n' "$*" >&2; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }
load_start="$(loadavg)"

# --- inputs, copied --------------------------------------------------------
cp "$SETUP_X64" "$work/stub-x64.exe"
cp "$SETUP_I686" "$work/stub-i686.exe"
cp "$MKSETUP" "$work/mksetup"
[ -f "$FIRST_WINDOW" ] || { echo "peer_bench: $FIRST_WINDOW is missing (run scripts/build.sh)" >&2; exit 2; }
cp "$FIRST_WINDOW" "$work/first_window.exe"
if [ "$SUBBENCHES" = 1 ]; then
  [ -f "$EXTRACT_BENCH" ] || { echo "peer_bench: $EXTRACT_BENCH is missing (run scripts/build.sh)" >&2; exit 2; }
  cp "$EXTRACT_BENCH" "$work/extract_bench.exe"
  if [ ! -x "$MD5_BENCH" ] && [ -z "${QUILLO_MD5_BENCH:-}" ]; then
    note "building md5_bench into build/bench"
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/bench -j"$(nproc)" --target md5_bench >/dev/null
  fi
  cp "$MD5_BENCH" "$work/md5_bench"
fi

# --- product, setup files, installers ---------------------------------------
note "making the product folder"
python3 "$ROOT/bench/make_payload.py" "$work/product"
product_bytes=$(du -sb "$work/product" | cut -f1)
product_files=$(find "$work/product" -type f | wc -l)

note "packing the setup files"
"$work/mksetup" --stub "$work/stub-x64.exe" --block "$BLOCK" --package "$work/product" \
  --out "$work/ours-x64.exe" >/dev/null
"$work/mksetup" --stub "$work/stub-i686.exe" --block "$BLOCK" --package "$work/product" \
  --out "$work/ours-i686.exe" >/dev/null
"$work/mksetup" inspect "$work/ours-x64.exe" >"$work/inspect-x64.txt"
"$work/mksetup" inspect "$work/ours-i686.exe" >"$work/inspect-i686.txt"
package_field() { sed -n "s/^package: \([0-9]*\) bytes at \([0-9]*\),.*/\\$2/p" "$1"; }
pkg_bytes=$(package_field "$work/inspect-x64.txt" 1)
pkg_off=$(package_field "$work/inspect-x64.txt" 2)
pkg_bytes_i686=$(package_field "$work/inspect-i686.txt" 1)
[ -n "$pkg_bytes" ] && [ -n "$pkg_off" ] && [ -n "$pkg_bytes_i686" ] ||
  { echo "peer_bench: mksetup inspect shows no package" >&2; cat "$work/inspect-x64.txt" >&2; exit 1; }
size_of() { stat -c %s "$1"; }
ours_x64_size=$(size_of "$work/ours-x64.exe")
ours_i686_size=$(size_of "$work/ours-i686.exe")
ours_x64_stub=$((ours_x64_size - pkg_bytes))
ours_i686_stub=$((ours_i686_size - pkg_bytes_i686))
# The package ZIP as the installer carries it, for the native unzip.
tail -c +"$((pkg_off + 1))" "$work/ours-x64.exe" | head -c "$pkg_bytes" >"$work/package.zip"
unzip -tq "$work/package.zip" >/dev/null

note "building the NSIS installers (makensis $(makensis -VERSION))"
nsis() {  # nsis OUT TARGET [-DEMPTY | -DPAYLOAD=FOLDER]
  local payload="-DPAYLOAD=$work/product"
  case "${3:-}" in -DPAYLOAD=*) payload="$3"; set -- "$1" "$2" ;; esac
  makensis -V3 "$payload" -DOUTFILE="$1" -DTARGET="$2" "${@:3}" \
    "$ROOT/bench/peer_installer.nsi" >"$1.log" || { cat "$1.log" >&2; exit 1; }
}
nsis "$work/nsis-amd64.exe" amd64-unicode
nsis "$work/nsis-empty-amd64.exe" amd64-unicode -DEMPTY
nsis "$work/nsis-empty-x86.exe" x86-unicode -DEMPTY
exe_header() { sed -n 's/^EXE header size: *\([0-9]*\) \/.*/\1/p' "$1.log"; }
nsis_amd64_size=$(size_of "$work/nsis-amd64.exe")
nsis_amd64_stub=$(size_of "$work/nsis-empty-amd64.exe")
nsis_x86_stub=$(size_of "$work/nsis-empty-x86.exe")
nsis_amd64_header=$(exe_header "$work/nsis-empty-amd64.exe")
nsis_x86_header=$(exe_header "$work/nsis-empty-x86.exe")

# --- the prefix ---------------------------------------------------------------
note "copying the Wine prefix"
cp -a "$BASE" "$WINEPREFIX"
user="$(id -un)"
# The base prefix links Desktop, Documents... to $HOME; real folders keep the
# shortcuts of this bench inside the prefix.
for link in "$WINEPREFIX/drive_c/users/$user"/*; do
  if [ -L "$link" ]; then rm "$link"; mkdir "$link"; fi
done
drive="$WINEPREFIX/drive_c"
temp="$drive/users/$user/Temp"
wtemp="C:\\users\\$user\\Temp"
mkdir -p "$temp" "$drive/bench"
winpath() { echo "Z:${1//\//\\}"; }
# Our uninstaller runs the removal itself only from its temporary copy's
# folder; started anywhere else it hands over to a copy made there.
copy_dir="Quillo_Temp_0123456789ABCDEF"
mkdir -p "$temp/$copy_dir"
W_OURS="$(winpath "$work/ours-x64.exe")"
W_NSIS="$(winpath "$work/nsis-amd64.exe")"
W_FW="$(winpath "$work/first_window.exe")"

wineserver -p
wine "$work/first_window.exe" --exit >/dev/null 2>&1 || true   # the prefix's services start here, untimed
# The prefix's wineserver (its working folder is named after the prefix's
# device and inode): its CPU time is counted beside the installers' own, since
# Wine creates, opens and deletes files there.
server_dir="server-$(stat -c %D "$WINEPREFIX")-$(printf %x "$(stat -c %i "$WINEPREFIX")")"
server_pid=""
for p in $(pgrep -x wineserver64 || pgrep -x wineserver || true); do
  case "$(readlink "/proc/$p/cwd" 2>/dev/null)" in */"$server_dir") server_pid=$p ;; esac
done
[ -n "$server_pid" ] || note "the prefix's wineserver was not found; its CPU time shows as 0"
cat "$work/ours-x64.exe" "$work/nsis-amd64.exe" "$work/package.zip" >/dev/null   # in the page cache for all

run() { python3 "$ROOT/bench/peer_run.py" --server "$server_pid" -- "$@"; }
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }
fail() { echo "peer_bench: $*" >&2; exit 1; }

baseline="$(run wine "$work/first_window.exe" --exit)"
wine_base_kb=$(field maxrss_kb "$baseline")

ours_inst=() ours_uninst=() nsis_inst=() nsis_uninst=() unzip_s=() rmrf_s=() ours_upg=() nsis_upg=()
# CPU seconds per round: the process's own (user + sys) and the wineserver's.
ours_inst_cpu=() ours_inst_srv=() ours_un_cpu=() ours_un_srv=()
nsis_inst_cpu=() nsis_inst_srv=() nsis_un_cpu=() nsis_un_srv=()
own_cpu() { awk -v u="$(field user "$1")" -v s="$(field sys "$1")" 'BEGIN { printf "%.2f", u + s }'; }
ours_rss=0 ours_hwm=0 nsis_rss=0 nsis_hwm=0 ours_un_rss=0 nsis_un_rss=0 ours_vm=0 nsis_vm=0
max() { if [ "$1" -gt "$2" ]; then echo "$1"; else echo "$2"; fi; }

# One install and uninstall of ours into C:\bench\ours$r.
round_ours() {
  local dir out
  dir="$drive/bench/ours$r/Quillo 3"
  sync
  out="$(run wine "$W_OURS" /q /D "C:\\bench\\ours$r")"
  [ "$(field rc "$out")" = 0 ] || fail "our quiet install exited with $(field rc "$out")"
  [ -f "$dir/unins000.exe" ] || fail "our install wrote no unins000.exe"
  diff -r -q -x unins000.exe "$work/product" "$dir" >/dev/null || fail "our installed tree differs from the product"
  ours_inst+=("$(field seconds "$out")")
  ours_inst_cpu+=("$(own_cpu "$out")") ours_inst_srv+=("$(field server "$out")")
  ours_rss=$(max "$ours_rss" "$(field maxrss_kb "$out")")
  ours_name="$(field name "$out")"
  ours_hwm=$(max "$ours_hwm" "$(field hwm_kb "$out")")
  ours_vm=$(max "$ours_vm" "$(field vmpeak_kb "$out")")
  # Over itself: an upgrade sets the earlier installation aside and puts
  # the new one in place.
  sync
  out="$(run wine "$W_OURS" /q /D "C:\\bench\\ours$r")"
  [ "$(field rc "$out")" = 0 ] || fail "our quiet upgrade exited with $(field rc "$out")"
  diff -r -q -x unins000.exe "$work/product" "$dir" >/dev/null || fail "our upgraded tree differs from the product"
  ours_upg+=("$(field seconds "$out")")
  cp "$dir/unins000.exe" "$temp/$copy_dir/unins000.exe"
  sync
  out="$(run wine "$wtemp\\$copy_dir\\unins000.exe" /q)"
  [ "$(field rc "$out")" = 0 ] || fail "our quiet uninstall exited with $(field rc "$out")"
  [ ! -e "$dir" ] || fail "our uninstall left $dir"
  ours_uninst+=("$(field seconds "$out")")
  ours_un_cpu+=("$(own_cpu "$out")") ours_un_srv+=("$(field server "$out")")
  ours_un_rss=$(max "$ours_un_rss" "$(field maxrss_kb "$out")")
}

# The same with the NSIS installer.
round_nsis() {
  local dir out
  dir="$drive/bench/nsis$r/Quillo3"
  sync
  out="$(run wine "$W_NSIS" /S "/D=C:\\bench\\nsis$r\\Quillo3")"
  [ "$(field rc "$out")" = 0 ] || fail "the NSIS install exited with $(field rc "$out")"
  [ -f "$dir/uninst.exe" ] || fail "the NSIS install wrote no uninst.exe"
  diff -r -q -x uninst.exe "$work/product" "$dir" >/dev/null || fail "the NSIS installed tree differs from the product"
  nsis_inst+=("$(field seconds "$out")")
  nsis_inst_cpu+=("$(own_cpu "$out")") nsis_inst_srv+=("$(field server "$out")")
  nsis_rss=$(max "$nsis_rss" "$(field maxrss_kb "$out")")
  nsis_name="$(field name "$out")"
  nsis_hwm=$(max "$nsis_hwm" "$(field hwm_kb "$out")")
  nsis_vm=$(max "$nsis_vm" "$(field vmpeak_kb "$out")")
  sync
  out="$(run wine "$W_NSIS" /S "/D=C:\\bench\\nsis$r\\Quillo3")"
  [ "$(field rc "$out")" = 0 ] || fail "the NSIS upgrade exited with $(field rc "$out")"
  diff -r -q -x uninst.exe "$work/product" "$dir" >/dev/null || fail "the NSIS upgraded tree differs from the product"
  nsis_upg+=("$(field seconds "$out")")
  cp "$dir/uninst.exe" "$temp/uninst.exe"
  sync
  out="$(run wine "$wtemp\\uninst.exe" /S "_?=C:\\bench\\nsis$r\\Quillo3")"
  [ "$(field rc "$out")" = 0 ] || fail "the NSIS uninstall exited with $(field rc "$out")"
  [ ! -e "$dir" ] || fail "the NSIS uninstall left $dir"
  nsis_uninst+=("$(field seconds "$out")")
  nsis_un_cpu+=("$(own_cpu "$out")") nsis_un_srv+=("$(field server "$out")")
  nsis_un_rss=$(max "$nsis_un_rss" "$(field maxrss_kb "$out")")
}

# Native unzip of the same package into the same drive, and native removal
# of that tree (the floor for an uninstaller: on a file system mounted with
# "discard" deleting 2,000 files can take seconds of waiting).
round_unzip() {
  local dir t0 t1
  dir="$drive/bench/unzip$r"
  sync
  t0=$(date +%s.%N)
  unzip -q "$work/package.zip" -d "$dir"
  t1=$(date +%s.%N)
  diff -r -q "$work/product" "$dir" >/dev/null || fail "unzip's tree differs from the product"
  unzip_s+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
  sync
  t0=$(date +%s.%N)
  rm -rf "$dir"
  t1=$(date +%s.%N)
  rmrf_s+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')")
}

# The order rotates, so that each kind follows each other kind (and the
# deletions it leaves to the file system) equally often.
for r in $(seq 1 "$RUNS"); do
  note "round $r of $RUNS"
  case $(((r - 1) % 3)) in
    0) round_ours; round_nsis; round_unzip ;;
    1) round_nsis; round_unzip; round_ours ;;
    2) round_unzip; round_ours; round_nsis ;;
  esac
done

# One install and uninstall of a large product (random files of 2 MiB):
# big_round MB ours|both. Sets big_<who>_<MB>_{s,rss,vm,srv}.
big_round() {
  local mb="$1" who="$2" files out dir
  files=$(((mb + 1) / 2))
  note "a ${mb} MiB product: $files random files of 2 MiB"
  python3 "$ROOT/bench/make_payload.py" "$work/big$mb" --files "$files" --file-kib 2048 --random-only
  "$work/mksetup" --stub "$work/stub-x64.exe" --block "$BLOCK" --package "$work/big$mb" --out "$work/big$mb.exe" >/dev/null
  big_setup_bytes[$mb]=$(size_of "$work/big$mb.exe")
  dir="$drive/bench/big$mb/Quillo 3"
  sync
  out="$(run wine "$(winpath "$work/big$mb.exe")" /q /D "C:\\bench\\big$mb")"
  [ "$(field rc "$out")" = 0 ] || fail "our install of $mb MiB exited with $(field rc "$out")"
  diff -r -q -x unins000.exe "$work/big$mb" "$dir" >/dev/null || fail "our $mb MiB tree differs from the product"
  big_s["ours$mb"]="$(field seconds "$out")" big_srv["ours$mb"]="$(field server "$out")"
  big_rss["ours$mb"]=$(max "$(field maxrss_kb "$out")" "$(field hwm_kb "$out")") big_vm["ours$mb"]="$(field vmpeak_kb "$out")"
  cp "$dir/unins000.exe" "$temp/$copy_dir/unins000.exe"
  out="$(run wine "$wtemp\\$copy_dir\\unins000.exe" /q)"
  [ ! -e "$dir" ] || fail "our uninstall left $dir"
  rm -f "$work/big$mb.exe"
  if [ "$who" = both ]; then
    nsis "$work/big$mb-nsis.exe" amd64-unicode -DPAYLOAD="$work/big$mb"
    dir="$drive/bench/bignsis$mb/Quillo3"
    sync
    out="$(run wine "$(winpath "$work/big$mb-nsis.exe")" /S "/D=C:\\bench\\bignsis$mb\\Quillo3")"
    [ "$(field rc "$out")" = 0 ] || fail "the NSIS install of $mb MiB exited with $(field rc "$out")"
    diff -r -q -x uninst.exe "$work/big$mb" "$dir" >/dev/null || fail "the NSIS $mb MiB tree differs from the product"
    big_s["nsis$mb"]="$(field seconds "$out")" big_srv["nsis$mb"]="$(field server "$out")"
    big_rss["nsis$mb"]=$(max "$(field maxrss_kb "$out")" "$(field hwm_kb "$out")") big_vm["nsis$mb"]="$(field vmpeak_kb "$out")"
    cp "$dir/uninst.exe" "$temp/uninst.exe"
    out="$(run wine "$wtemp\\uninst.exe" /S "_?=C:\\bench\\bignsis$mb\\Quillo3")"
    [ ! -e "$dir" ] || fail "the NSIS uninstall left $dir"
    rm -f "$work/big$mb-nsis.exe"
  fi
  rm -rf "$work/big$mb"
}
declare -A big_s big_srv big_rss big_vm big_setup_bytes
[ "$LARGE_MB" -gt 0 ] && big_round "$LARGE_MB" both
[ "$HUGE_MB" -gt 0 ] && big_round "$HUGE_MB" ours

note "time to first window"
fw_plain=() fw_ours=() fw_nsis=()
first_window() {
  local out
  out="$(wine "$work/first_window.exe" "$@" 2>&1 | tr -d '\r')" || fail "no window from: $* ($out)"
  sed -n 's/^ms=\([0-9.]*\) .*/\1/p' <<<"$out"
}
for r in $(seq 1 "$RUNS"); do
  fw_plain+=("$(first_window "$W_FW" --show)")
  fw_ours+=("$(first_window "$W_OURS")")
  fw_nsis+=("$(first_window "$W_NSIS")")
done
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true

sub_extract="(skipped)" sub_md5="(skipped)"
if [ "$SUBBENCHES" = 1 ]; then
  note "bench/extract_bench.sh"
  if out="$(bash "$ROOT/bench/extract_bench.sh" "$work/extract_bench.exe" 2>&1)"; then
    sub_extract="$(tail -n1 <<<"$out")"
  else
    sub_extract="FAILED: $(tail -n1 <<<"$out")"
  fi
  note "bench/md5_bench.sh"
  if out="$(bash "$ROOT/bench/md5_bench.sh" "$work/md5_bench" 2>&1)"; then
    sub_md5="$(sed -n 1p <<<"$out")"
  else
    sub_md5="FAILED: $(tail -n1 <<<"$out")"
  fi
fi

# --- the table ------------------------------------------------------------------
best() { printf '%s\n' "$@" | sort -g | head -n1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.3f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# paired A B: the median of the rounds' own ratios A[i] / B[i] (arrays by
# name). The machine drifts from round to round (later rounds slower for all
# three, the native unzip too); a ratio taken inside one round cancels that.
paired() {
  local -n a_="$1" b_="$2"
  local i r=()
  for i in "${!a_[@]}"; do r+=("$(ratio "${a_[$i]}" "${b_[$i]}")"); done
  median "${r[@]}"
}
verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g ? "met" : "MISSED") }'; }
# Goals on times are judged on the best round and on the median.
verdict2() { echo "best $(verdict "$1" "$3"), median $(verdict "$2" "$3")"; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
kib_mb() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }

oi_b=$(best "${ours_inst[@]}"); oi_m=$(median "${ours_inst[@]}")
ni_b=$(best "${nsis_inst[@]}"); ni_m=$(median "${nsis_inst[@]}")
ou_b=$(best "${ours_uninst[@]}"); ou_m=$(median "${ours_uninst[@]}")
nu_b=$(best "${nsis_uninst[@]}"); nu_m=$(median "${nsis_uninst[@]}")
uz_b=$(best "${unzip_s[@]}"); uz_m=$(median "${unzip_s[@]}")
rm_b=$(best "${rmrf_s[@]}"); rm_m=$(median "${rmrf_s[@]}")
fp_b=$(best "${fw_plain[@]}"); fo_b=$(best "${fw_ours[@]}"); fn_b=$(best "${fw_nsis[@]}")
fp_m=$(median "${fw_plain[@]}"); fo_m=$(median "${fw_ours[@]}"); fn_m=$(median "${fw_nsis[@]}")
r_nsis=$(ratio "$oi_b" "$ni_b"); r_nsis_m=$(ratio "$oi_m" "$ni_m")
r_unzip=$(ratio "$oi_b" "$uz_b"); r_unzip_m=$(ratio "$oi_m" "$uz_m")
# The kernel's two high-water marks can differ by a few pages; the larger counts.
ours_rss=$(max "$ours_rss" "$ours_hwm") nsis_rss=$(max "$nsis_rss" "$nsis_hwm")
# Peak memory may exceed NSIS's by 10 MiB, whatever the package's size.
mem_goal_kb=$((nsis_rss + 10 * 1024))
stub_goal=550000

row() { printf '%-38s %-20s %-20s %-12s %s\n' "$@"; }
echo
echo "Peer bench: setup program against NSIS $(makensis -VERSION), under $(wine --version 2>/dev/null), one prefix"
echo "product: $(mb "$product_bytes") in $product_files files; package ZIP in our setup file: $pkg_bytes bytes ($(mb "$pkg_bytes"))"
echo "times: best of $RUNS rounds, median in brackets; every install diffed against the product, every uninstall checked"
echo "machine: $(nproc) cores, load average $load_start at the start, $(loadavg) at the end (other work adds noise)"
echo
row "" "ours" "NSIS" "ours/NSIS" "goal"
row "stub, i686 / x86 (bytes)" "$ours_i686_stub" "$nsis_x86_stub" "$(ratio "$ours_i686_stub" "$nsis_x86_stub")" \
  "<= $stub_goal: $(verdict "$ours_i686_stub" "$stub_goal")"
row "stub, x64 / amd64 (bytes)" "$ours_x64_stub" "$nsis_amd64_stub" "$(ratio "$ours_x64_stub" "$nsis_amd64_stub")" "-"
row "  NSIS EXE header x86 / amd64" "" "$nsis_x86_header / $nsis_amd64_header" "" ""
row "setup file, x64 / amd64 (bytes)" "$ours_x64_size" "$nsis_amd64_size" "$(ratio "$ours_x64_size" "$nsis_amd64_size")" "-"
row "setup file, i686 (bytes)" "$ours_i686_size" "" "" ""
row "quiet install (s)" "$oi_b [$oi_m]" "$ni_b [$ni_m]" "$r_nsis [$r_nsis_m]" \
  "<= 0.8 x NSIS: $(verdict2 "$r_nsis" "$r_nsis_m" 0.8)"
row "  same-round ratios, median" "" "" "$(paired ours_inst nsis_inst)" \
  "<= 0.8: $(verdict "$(paired ours_inst nsis_inst)" 0.8)"
row "  native unzip, same package (s)" "$uz_b [$uz_m]" "" "" ""
row "  quiet install / native unzip" "$r_unzip [$r_unzip_m]" "$(ratio "$ni_b" "$uz_b") [$(ratio "$ni_m" "$uz_m")]" "" \
  "ours <= 1.2: $(verdict2 "$r_unzip" "$r_unzip_m" 1.2)"
row "  same-round ratios, median" "$(paired ours_inst unzip_s)" "$(paired nsis_inst unzip_s)" "" \
  "ours <= 1.2: $(verdict "$(paired ours_inst unzip_s)" 1.2)"
og_b=$(best "${ours_upg[@]}"); og_m=$(median "${ours_upg[@]}")
ng_b=$(best "${nsis_upg[@]}"); ng_m=$(median "${nsis_upg[@]}")
row "upgrade over the same product (s)" "$og_b [$og_m]" "$ng_b [$ng_m]" "$(ratio "$og_b" "$ng_b") [$(ratio "$og_m" "$ng_m")]" \
  "<= 1.0 x NSIS: $(verdict2 "$(ratio "$og_b" "$ng_b")" "$(ratio "$og_m" "$ng_m")" 1.0)"
row "  same-round ratios, median" "" "" "$(paired ours_upg nsis_upg)" \
  "<= 1.0: $(verdict "$(paired ours_upg nsis_upg)" 1.0)"
row "quiet uninstall (s)" "$ou_b [$ou_m]" "$nu_b [$nu_m]" "$(ratio "$ou_b" "$nu_b") [$(ratio "$ou_m" "$nu_m")]" \
  "<= 0.9 x NSIS: $(verdict2 "$(ratio "$ou_b" "$nu_b")" "$(ratio "$ou_m" "$nu_m")" 0.9)"
row "  same-round ratios, median" "" "" "$(paired ours_uninst nsis_uninst)" \
  "<= 0.9: $(verdict "$(paired ours_uninst nsis_uninst)" 0.9)"
row "  native rm -rf, same tree (s)" "$rm_b [$rm_m]" "" "" ""
row "  quiet uninstall / native rm -rf" "$(ratio "$ou_b" "$rm_b") [$(ratio "$ou_m" "$rm_m")]" \
  "$(ratio "$nu_b" "$rm_b") [$(ratio "$nu_m" "$rm_m")]" "" "-"
ois=$(median "${ours_inst_srv[@]}") nis=$(median "${nsis_inst_srv[@]}")
row "  CPU/install: own / wineserver (s)" "$(median "${ours_inst_cpu[@]}") / $ois" \
  "$(median "${nsis_inst_cpu[@]}") / $nis" "" "medians; wineserver <= NSIS's: $(verdict "$ois" "$nis")"
row "  CPU/uninstall: own / wineserver (s)" "$(median "${ours_un_cpu[@]}") / $(median "${ours_un_srv[@]}")" \
  "$(median "${nsis_un_cpu[@]}") / $(median "${nsis_un_srv[@]}")" "" "medians"
row "installer peak RSS" "$(kib_mb "$ours_rss")" "$(kib_mb "$nsis_rss")" "$(ratio "$ours_rss" "$nsis_rss")" \
  "<= NSIS + 10 MiB ($(kib_mb "$mem_goal_kb")): $(verdict "$ours_rss" "$mem_goal_kb")"
row "  minus Wine baseline ($(kib_mb "$wine_base_kb"))" "$(kib_mb "$((ours_rss - wine_base_kb))")" \
  "$(kib_mb "$((nsis_rss - wine_base_kb))")" "" ""
row "  VmHWM polled (cross-check of wait4)" "$(kib_mb "$ours_hwm")" "$(kib_mb "$nsis_hwm")" "" ""
row "  address space peak (VmPeak)" "$(kib_mb "$ours_vm")" "$(kib_mb "$nsis_vm")" "" "-"
row "  process measured (/proc cmdline)" "${ours_name##*\\}" "${nsis_name##*\\}" "" ""
row "uninstaller peak RSS" "$(kib_mb "$ours_un_rss")" "$(kib_mb "$nsis_un_rss")" "" "-"
for mb in "$LARGE_MB" "$HUGE_MB"; do
  [ "$mb" -gt 0 ] || continue
  o_rss="${big_rss[ours$mb]}" n_rss="${big_rss[nsis$mb]:-}"
  if [ -n "$n_rss" ]; then
    row "$mb MiB product: quiet install (s)" "${big_s[ours$mb]}" "${big_s[nsis$mb]}" \
      "$(ratio "${big_s[ours$mb]}" "${big_s[nsis$mb]}")" \
      "one round each; <= 1.0 x NSIS: $(verdict "$(ratio "${big_s[ours$mb]}" "${big_s[nsis$mb]}")" 1.0)"
    row "  CPU/install: wineserver (s)" "${big_srv[ours$mb]}" "${big_srv[nsis$mb]}" "" ""
    row "  installer peak RSS" "$(kib_mb "$o_rss")" "$(kib_mb "$n_rss")" "$(ratio "$o_rss" "$n_rss")" \
      "<= NSIS + 10 MiB ($(kib_mb "$((n_rss + 10240))")): $(verdict "$o_rss" "$((n_rss + 10240))")"
    row "  address space peak (VmPeak)" "$(kib_mb "${big_vm[ours$mb]}")" "$(kib_mb "${big_vm[nsis$mb]}")" "" "-"
  else
    row "$mb MiB product, ours only: install (s)" "${big_s[ours$mb]}" "" "" "setup file ${big_setup_bytes[$mb]} B"
    row "  installer peak RSS" "$(kib_mb "$o_rss")" "" "" "<= $(kib_mb "$mem_goal_kb") (the 100 MB goal): $(verdict "$o_rss" "$mem_goal_kb")"
    row "  address space peak (VmPeak)" "$(kib_mb "${big_vm[ours$mb]}")" "" "" "flat: the same as for 100 MB"
  fi
done
row "first window, GUI mode (ms)" "$fo_b [$fo_m]" "$fn_b [$fn_m]" "$(ratio "$fo_b" "$fn_b") [$(ratio "$fo_m" "$fn_m")]" "-"
row "  plain window, Wine baseline (ms)" "$fp_b [$fp_m]" "" "" ""
echo
echo "rounds (s): ours install ${ours_inst[*]}; NSIS install ${nsis_inst[*]}; unzip ${unzip_s[*]}"
echo "            ours upgrade ${ours_upg[*]}; NSIS upgrade ${nsis_upg[*]}"
echo "            ours uninstall ${ours_uninst[*]}; NSIS uninstall ${nsis_uninst[*]}; rm -rf ${rmrf_s[*]}"
echo "first window (ms): ours ${fw_ours[*]}; NSIS ${fw_nsis[*]}; plain ${fw_plain[*]}"
echo
echo "extract_bench.sh: $sub_extract"
echo "md5_bench.sh:     $sub_md5"

#!/usr/bin/env bash
# A setup file packed by mksetup from the real program, read back by the
# Windows readers under Wine and started as the program itself.
# Usage: setup_file_e2e.sh MKSETUP QUILLOSETUP_EXE WIN_TESTS_EXE
set -uo pipefail
MKSETUP="$1"; STUB="$2"; WIN_TESTS="$3"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Statistics go to a closed local port, never to the real server.
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-e2e.XXXXXX")"
export WINEPREFIX="$work/prefix"
cleanup() { wineserver -k >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
cp -a "$BASE" "$WINEPREFIX"

passed=0; failed=0
check() {  # check NAME CONDITION...
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $name"; else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
winpath() { echo "Z:${1//\//\\}"; }

# The sample product and its setup file, with both optional sections.
mkdir -p "$work/product/x64" "$work/product/x86" "$work/drivers"
echo "quillo" > "$work/product/Quillo.exe"
echo "64" > "$work/product/x64/QuilloCore.dll"
echo "32" > "$work/product/x86/QuilloCore.dll"
echo "driver" > "$work/drivers/AppleMobileDeviceSupport64.msi"
(cd "$work/drivers" && zip -q -X -r ../drivers.zip .)
printf 'MZ extra library' > "$work/extra.dll"
cat > "$work/block.json" <<'JSON'
{"mode":1,"channel":7,"ituneslite64":true,
 "shortcut":{"desktop":[{"file":"Quillo.exe","name":"Quillo 3"}],"taskbar":[{"file":"Quillo.exe","name":"Quillo 3"}]},
 "uninstrun":["QuilloDaemon.exe /up","QuilloDaemon.exe /uipa","QuilloDaemon.exe /uapk","QuilloDaemon.exe /ud"]}
JSON
"$MKSETUP" --stub "$STUB" --block "$work/block.json" --package "$work/product" \
  --extra "$work/extra.dll" --driver "$work/drivers.zip" --out "$work/setup.exe" >/dev/null
check "mksetup packs the program" test -s "$work/setup.exe"
"$MKSETUP" inspect "$work/setup.exe" > "$work/inspect.log"
check "mksetup inspect accepts it" test $? = 0
check "inspect shows the program's version resource" grep -q '^  ProductName: Quillo 3$' "$work/inspect.log"
check "inspect shows the program's manifest" \
  grep -Eq '^manifest: [0-9]+ bytes, requestedExecutionLevel asInvoker$' "$work/inspect.log"

QUILLO_SETUP_FILE="$(winpath "$work/setup.exe")" QUILLO_STUB_FILE="$(winpath "$STUB")" \
  wine "$WIN_TESTS" --gtest_filter='SetupFileEndToEnd.*' > "$work/readback.log" 2>&1
rc=$?
check "Windows readers read the packed file back" test $rc = 0
[ $rc = 0 ] || cat "$work/readback.log"

# The program itself accepts its block and installs quietly into the folder
# given, driver step included, ending with exit code 0.
timeout 120 wine "$work/setup.exe" /q /D 'C:\E2E' >/dev/null 2>&1
check "quiet installation ends with exit code 0" test $? = 0
check "quiet installation put the product in place" test -f "$WINEPREFIX/drive_c/E2E/Quillo 3/Quillo.exe"
check "quiet installation wrote the uninstaller" test -s "$WINEPREFIX/drive_c/E2E/Quillo 3/unins000.exe"

# An uninstaller started from its installation folder copies itself to the
# temporary folder, starts that copy and waits for it.
inst="$WINEPREFIX/drive_c/Quillo 3"
mkdir -p "$inst"
"$MKSETUP" --stub "$STUB" --package "$work/product" --set mode=0 --set extrapack=false \
  --out "$inst/unins000.exe" >/dev/null
timeout 120 wine "C:\\Quillo 3\\unins000.exe" >/dev/null 2>&1 &
original=$!
# The copy goes on to its confirmation screen; it is only looked at here.
for _ in $(seq 100); do
  [ -n "$(find "$WINEPREFIX/drive_c/users" -iname unins000.exe -path '*Temp*' 2>/dev/null)" ] && break
  sleep 0.1
done
sleep 1
check "the uninstaller waits for its copy" kill -0 "$original"
copy="$(find "$WINEPREFIX/drive_c/users" -iname unins000.exe -path '*Temp*' 2>/dev/null | head -n1)"
[ -n "$copy" ] && cp "$copy" "$work/copy.exe"
wineserver -k >/dev/null 2>&1
{ wait "$original"; } 2>/dev/null
[ -n "$copy" ] && copy="$work/copy.exe"
check "uninstaller copied itself to the temporary folder" test -n "$copy"
[ -n "$copy" ] && check "the temporary copy is identical" cmp -s "$copy" "$inst/unins000.exe"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

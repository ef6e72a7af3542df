#!/usr/bin/env bash
# Damaged setup files started quietly, as an unattended deployment would: each
# ends with its install error code, never with success and never waiting on a
# message, and installs nothing.
# Usage: quiet_rejects_e2e.sh SETUP_EXE
set -uo pipefail
SETUP="$1"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-quiet.XXXXXX")"
export WINEPREFIX="$work/prefix"
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
cp -a "$BASE" "$WINEPREFIX"

# name expected-code: one damaged copy of the setup file each.
/usr/bin/python3 - "$SETUP" "$work" <<'PY'
import struct, sys
src, out = sys.argv[1], sys.argv[2]
d = bytearray(open(src, 'rb').read())
lf = struct.unpack_from('<I', d, 0x3C)[0]
O = struct.unpack_from('<I', d, lf - 4)[0]
L = struct.unpack_from('<I', d, O)[0]
P = struct.unpack_from('<I', d, O + 4 + L)[0]
def put(b, at, v):
    b = bytearray(b); struct.pack_into('<I', b, at, v); return b
cases = {
    'header-cut 1': d[:0x30],
    'locator-zero 1': put(d, lf - 4, 0),
    'locator-wraps 1': put(d, lf - 4, 0xFFFFFFFF),
    'locator-at-end 3': put(d, lf - 4, len(d)),
    'length-wraps 3': put(d, O, 0x100000000 - 4),
    'json-broken 4': d[:O + 4] + b'}' + d[O + 5:],
    'package-cut 5': d[:O + 8 + L + P // 2],
    'package-wraps 5': put(d, O + 4 + L, 0xFFFFFFFF - 7),
    'package-byte 9': d[:O + 8 + L + P // 3] + bytes([d[O + 8 + L + P // 3] ^ 0x5A]) + d[O + 9 + L + P // 3:],
}
for name, data in cases.items():
    open('%s/%s.exe' % (out, name.replace(' ', '_')), 'wb').write(data)
PY

passed=0; failed=0
for f in "$work"/*_?.exe; do
  name="$(basename "$f" .exe)"; expected="${name##*_}"
  timeout 60 wine "Z:${f//\//\\}" /q /D 'C:\Quiet' >/dev/null 2>&1
  rc=$?
  if [ "$rc" = "$expected" ] && [ ! -e "$WINEPREFIX/drive_c/Quiet/Quillo 3" ]; then
    passed=$((passed + 1)); echo "ok: ${name%_*} ends with code $rc"
  else
    failed=$((failed + 1)); echo "FAILED: ${name%_*} ended with $rc (expected $expected; 124 = still waiting)"
  fi
  rm -rf "$WINEPREFIX/drive_c/Quiet"
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" = 9 ]

#!/usr/bin/env bash
# A setup file signed with a code-signing certificate made here installs
# exactly as the unsigned one: the signature is trailing data that the
# readers skip.
# Usage: signed_setup_e2e.sh MKSETUP SETUP_EXE
set -uo pipefail
MKSETUP="$1"; SETUP="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BASE="${QUILLO_WINE_BASE:-$ROOT/build/wine/base}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QUILLO_STAT_SERVER="${QUILLO_STAT_SERVER:-127.0.0.1:9}"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-signed.XXXXXX")"
cleanup() {
  for p in "$work"/prefix-*; do [ -d "$p" ] && WINEPREFIX="$p" wineserver -k >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT

passed=0; failed=0
check() {  # check NAME COMMAND...
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); echo "ok: $name"; else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

# A throw-away certificate for code signing, valid for two days.
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Quillo Test Signing" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
cp "$SETUP" "$work/unsigned.exe"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -h sha256 -n "Quillo 3" \
  -in "$work/unsigned.exe" -out "$work/signed.exe" >"$work/sign.log" 2>&1
check "osslsigncode signs the setup file" test $? = 0
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.log" 2>&1
check "the signature verifies against the test certificate" grep -q "Signature verification: ok" "$work/verify.log"
check "signing only appends: the unsigned bytes after the headers are unchanged" \
  cmp -s <(tail -c +1025 "$work/unsigned.exe") <(head -c "$(stat -c %s "$work/unsigned.exe")" "$work/signed.exe" | tail -c +1025)

"$MKSETUP" inspect "$work/unsigned.exe" >"$work/unsigned.txt"; u=$?
"$MKSETUP" inspect "$work/signed.exe" >"$work/signed.txt"; s=$?
check "inspect accepts both files" test "$u$s" = 00
check "inspect shows the certificate table as ignored trailing data" \
  grep -Eq '^certificate table: [0-9]+ bytes at [0-9]+ \(behind the image: ignored trailing data\)$' "$work/signed.txt"
check "inspect counts the signature as trailing data" grep -Eq '^trailing data: [0-9]+ bytes \(ignored\)$' "$work/signed.txt"
# Apart from the file size and those two lines, both files read the same.
strip() { grep -Ev '^(file:|certificate table:|trailing data:)' "$1"; }
check "block, package and sections read the same" diff <(strip "$work/unsigned.txt") <(strip "$work/signed.txt")

# Each file installs quietly into the same folder of its own fresh prefix.
install() {  # install NAME SETUP
  local prefix="$work/prefix-$1"
  cp -a "$BASE" "$prefix"
  WINEPREFIX="$prefix" timeout 120 wine "Z:${2//\//\\}" /q /D 'C:\Signed' >/dev/null 2>&1
  echo $? >"$work/$1.rc"
}
install unsigned "$work/unsigned.exe"
install signed "$work/signed.exe"
check "both quiet installations end with exit code 0" test "$(cat "$work/unsigned.rc")$(cat "$work/signed.rc")" = 00
a="$work/prefix-unsigned/drive_c/Signed/Quillo 3"; b="$work/prefix-signed/drive_c/Signed/Quillo 3"
check "the product was installed" test -f "$b/Quillo.exe"
check "both installations hold the same files" diff -r -x unins000.exe "$a" "$b"
"$MKSETUP" inspect "$a/unins000.exe" | grep -v '^file:' >"$work/unins-unsigned.txt"
"$MKSETUP" inspect "$b/unins000.exe" | grep -Ev '^(file:|certificate table:)' >"$work/unins-signed.txt"
check "both uninstallers carry the same manifest" diff "$work/unins-unsigned.txt" "$work/unins-signed.txt"
offset=$(sed -n 's/^locator O: \([0-9]*\) .*/\1/p' "$work/signed.txt")
# The uninstaller carries no signature, so its header must not announce one:
# its certificate-table entry is cleared, every other byte of the image is
# the signed file's.
same_image_but_certificate_entry() {  # SIGNED UNINSTALLER O
  python3 - "$@" <<'PY'
import struct, sys
signed = open(sys.argv[1], "rb").read()
unins = open(sys.argv[2], "rb").read()
o = int(sys.argv[3])
lfanew = struct.unpack_from("<I", signed, 0x3C)[0]
optional = lfanew + 24
entry = optional + (144 if struct.unpack_from("<H", signed, optional)[0] == 0x20B else 128)
if struct.unpack_from("<II", signed, entry) == (0, 0):
    sys.exit("the signed file has no certificate entry")
if struct.unpack_from("<II", unins, entry) != (0, 0):
    sys.exit("the uninstaller's certificate entry is %d, %d" % struct.unpack_from("<II", unins, entry))
if signed[:entry] != unins[:entry] or signed[entry + 8:o] != unins[entry + 8:o]:
    sys.exit("the uninstaller's image differs from the signed file's elsewhere")
PY
}
check "the signed file's uninstaller is its image with the certificate entry cleared" \
  same_image_but_certificate_entry "$work/signed.exe" "$b/unins000.exe" "$offset"
check "inspect finds no certificate table in that uninstaller" \
  bash -c '! "$1" inspect "$2" | grep -q "^certificate table:"' _ "$MKSETUP" "$b/unins000.exe"
# osslsigncode reports an unsigned file, not a damaged signature.
osslsigncode verify -in "$b/unins000.exe" >"$work/verify-unins.log" 2>&1
check "osslsigncode finds no signature in the uninstaller" grep -q "No signature found" "$work/verify-unins.log"
check "and no signature out of place" bash -c '! grep -qi "signature not at the end" "$1"' _ "$work/verify-unins.log"
entry() {  # the uninstall entry as the 32-bit program sees it
  WINEPREFIX="$work/prefix-$1" wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brightfen' \
    /reg:32 2>/dev/null | tr -d '\r' | sort
}
entry unsigned >"$work/entry-unsigned.txt"; entry signed >"$work/entry-signed.txt"
check "the uninstall entry was written" grep -q 'UninstallString' "$work/entry-signed.txt"
check "both uninstall entries are the same" diff "$work/entry-unsigned.txt" "$work/entry-signed.txt"

# The signed installation's uninstaller, started quietly from the
# installation folder, moves to the temporary folder, stays quiet there and
# removes the installation.
prefix="$work/prefix-signed"
WINEPREFIX="$prefix" timeout 120 wine 'C:\Signed\Quillo 3\unins000.exe' /q >/dev/null 2>&1
check "the signed installation's uninstaller ends with exit code 0" test $? = 0
for _ in $(seq 300); do [ -e "$b" ] || break; sleep 0.1; done
check "and its quiet copy removes the installation" test ! -e "$b"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]

#!/usr/bin/env bash
# Builds the three stand-in vendor device-support packages with wixl:
#   AppleApplicationSupport.msi      x86
#   AppleMobileDeviceSupport.msi     x86
#   AppleMobileDeviceSupport64.msi   x64
# Usage: make-apple-packages.sh OUTDIR
# The payload files are made in a temporary folder; existing packages in OUTDIR
# are replaced. Prints nothing on success.
set -euo pipefail

if [ "$#" -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $(basename "$0") OUTDIR" >&2
  exit 2
fi
command -v wixl >/dev/null 2>&1 || { echo "make-apple-packages: wixl not found" >&2; exit 1; }

HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$1"
OUT="$(cd "$1" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/apple-msi.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# wixl looks for File/@Source relative to the current directory, so the
# payload goes into the work folder and wixl runs from there.
printf 'Application support test payload\r\n' >"$work/ApplicationSupport.txt"
# Stands in for the device library: it only has to be there on disk.
printf 'MZ AirTrafficHost test payload\r\n' >"$work/AirTrafficHost.dll"

build() { # build NAME ARCH
  local name="$1" arch="$2"
  (cd "$work" && wixl -a "$arch" -o "$work/$name.msi" "$HERE/$name.wxs")
  [ -s "$work/$name.msi" ] || { echo "make-apple-packages: wixl made no $name.msi" >&2; exit 1; }
  mv -f "$work/$name.msi" "$OUT/$name.msi"
}

build AppleApplicationSupport x86
build AppleMobileDeviceSupport x86
build AppleMobileDeviceSupport64 x64

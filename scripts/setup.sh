#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages, and
# builds minizip for the two mingw targets from Debian's source package.
# Safe to run again: it does nothing when everything is already present.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEPS="${QUILLO_DEPS_DIR:-$ROOT/build/deps}"

PACKAGES=(
  cmake make g++ pkg-config python3
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 mingw-w64-tools
  libz-mingw-w64-dev
  wine wine64
  xvfb xauth xdotool imagemagick
  fonts-wqy-microhei fonts-wine fonts-liberation
  zlib1g-dev libminizip-dev libgtest-dev googletest fontconfig xz-utils
  dpkg-dev openssl zip unzip osslsigncode
  nginx-light curl bc msitools wixl
  clang libclang-rt-14-dev nsis locales
  qemu-system-x86 debootstrap busybox-static e2fsprogs zstd
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A 32-bit Wine cannot run on these machines and its wrappers would shadow wine64.
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "setup: wine32:i386 is installed; it breaks the wine wrappers here. Remove it." >&2
  exit 1
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Chinese locale: Wine takes the ANSI code page (936) from it, and reads
# command lines and file names in its character set.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  echo "setup: generating the zh_CN.UTF-8 locale"
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen >/dev/null
fi

# minizip for mingw: Debian ships it only for the native build.
build_minizip() {
  local triplet="$1"
  local out="$DEPS/$triplet"
  [ -f "$out/lib/libminizip.a" ] && [ -f "$out/include/minizip/unzip.h" ] && return 0
  local src="$DEPS/minizip-src"
  if [ ! -f "$src/unzip.c" ]; then
    local srclist=/etc/apt/sources.list.d/quillo-deb-src.sources
    if ! apt-get source --print-uris minizip >/dev/null 2>&1; then
      echo "setup: adding a deb-src entry for bookworm main"
      $SUDO tee "$srclist" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
      $SUDO apt-get update -qq
    fi
    local fetch="$DEPS/minizip-fetch"
    rm -rf "$fetch" && mkdir -p "$fetch"
    (cd "$fetch" && apt-get source -qq minizip >/dev/null 2>&1)
    local dir
    dir="$(find "$fetch" -maxdepth 1 -mindepth 1 -type d -name 'minizip-*' | head -n1)"
    [ -n "$dir" ] || { echo "setup: apt-get source minizip failed" >&2; exit 1; }
    rm -rf "$src" && mkdir -p "$src"
    # Debian's source tree is zlib's contrib/minizip; take the library files only.
    local d
    d="$(dirname "$(find "$dir" -name unzip.c | head -n1)")"
    cp "$d"/{ioapi.c,ioapi.h,iowin32.c,iowin32.h,unzip.c,unzip.h,zip.c,zip.h,crypt.h} "$src"/
    rm -rf "$fetch"
  fi
  echo "setup: building minizip for $triplet"
  local obj="$out/obj"
  rm -rf "$out" && mkdir -p "$obj" "$out/lib" "$out/include/minizip"
  for f in ioapi iowin32 unzip zip; do
    "$triplet-gcc-posix" -O2 -DNOCRYPT -DNOUNCRYPT -I"$src" -c "$src/$f.c" -o "$obj/$f.o"
  done
  "$triplet-ar" rcs "$out/lib/libminizip.a" "$obj"/*.o
  cp "$src"/{ioapi.h,iowin32.h,unzip.h,zip.h,crypt.h} "$out/include/minizip/"
  rm -rf "$obj"
}

build_minizip i686-w64-mingw32
build_minizip x86_64-w64-mingw32

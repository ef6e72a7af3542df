#!/usr/bin/env bash
# Packs the sample product into a setup file.
# Usage: pack-sample.sh BUILD_DIR OUT.exe [mksetup options...]
#   BUILD_DIR is build/i686 (release) or build/x64 (test build); the product's
#   x86 and x64 libraries come from build/i686 and build/x64.
#   QUILLO_SAMPLE_EXTRA names a folder whose content is added to the product.
#   QUILLO_SAMPLE_PRODUCT names a folder that receives a copy of the product.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$1"; OUT="$2"; shift 2
MKSETUP="$ROOT/build/native/tools/mksetup/mksetup"
SAMPLE="$ROOT/tools/sample-product"

product="$(mktemp -d "${TMPDIR:-/tmp}/quillo-product.XXXXXX")"
trap 'rm -rf "$product"' EXIT
cp -r "$SAMPLE/files/." "$product/"
cp "$BUILD/sample/Quillo.exe" "$BUILD/sample/QuilloDaemon.exe" "$product/"
mkdir -p "$product/x86" "$product/x64"
cp "$ROOT/build/i686/sample/QuilloCore.dll" "$product/x86/"
cp "$ROOT/build/x64/sample/QuilloCore.dll" "$product/x64/"
# Browser extensions of both bitnesses, installed on every target.
mkdir -p "$product/Extensions"
cp "$ROOT/build/i686/sample/QuilloCore.dll" "$product/Extensions/QuilloBHO.dll"
cp "$ROOT/build/x64/sample/QuilloCore.dll" "$product/Extensions/QuilloBHO64.dll"

if [ -n "${QUILLO_SAMPLE_EXTRA:-}" ]; then cp -r "$QUILLO_SAMPLE_EXTRA/." "$product/"; fi

if [ -n "${QUILLO_SAMPLE_PRODUCT:-}" ]; then mkdir -p "$QUILLO_SAMPLE_PRODUCT" && cp -r "$product/." "$QUILLO_SAMPLE_PRODUCT/"; fi

mkdir -p "$(dirname "$OUT")"
"$MKSETUP" --stub "$BUILD/QuilloSetup.exe" --block "$SAMPLE/block.json" --package "$product" --out "$OUT" "$@"

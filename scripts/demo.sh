#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, packs the setup
# file of the sample product (release i686 and x86_64 test build) into out/,
# shows its layout and renders every window skin to out/skin-gallery/.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/pack-sample.sh build/i686 out/QuilloSetup.exe
bash scripts/pack-sample.sh build/x64 out/QuilloSetup-x64-test.exe
echo
build/native/tools/mksetup/mksetup inspect out/QuilloSetup.exe
[ -d build/wine/base ] || bash scripts/wine-prefix.sh >/dev/null
rm -rf out/skin-gallery && mkdir -p out/skin-gallery
scripts/wine-run.sh build/x64/tests/windows/skin_gallery.exe "Z:${ROOT//\//\\}\\out\\skin-gallery" >/dev/null
echo
echo "window skins:       $ROOT/out/skin-gallery/ ($(ls out/skin-gallery | wc -l) PNG files)"
echo "release setup file: $ROOT/out/QuilloSetup.exe ($(stat -c %s out/QuilloSetup.exe) bytes, i686)"
echo "test build:         $ROOT/out/QuilloSetup-x64-test.exe (x86_64, runs under wine64)"

#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, packs the setup
# file of the sample product (release i686 and x86_64 test build) into out/,
# shows its layout, installs and uninstalls the test build quietly under Wine,
# runs it through every screen with a screenshot of each into out/screens/
# (and again on a 200 % display into out/screens-192/),
# and renders every window skin to out/skin-gallery/.
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
echo "quiet installation and removal under Wine (x86_64 test build):"
prefix="$(mktemp -d "${TMPDIR:-/tmp}/quillo-demo.XXXXXX")"
cp -a build/wine/base/. "$prefix/"
export QUILLO_WINE_PREFIX="$prefix" QUILLO_STAT_SERVER=127.0.0.1:9
rc=0; scripts/wine-run.sh "Z:${ROOT//\//\\}\\out\\QuilloSetup-x64-test.exe" /q /D 'C:\Demo' || rc=$?
echo "  install exit code $rc; files: $(ls "$prefix/drive_c/Demo/Quillo 3" | tr '\n' ' ')"
# The uninstaller hands over to its temporary copy and ends with its code.
rc=0; scripts/wine-run.sh 'C:\Demo\Quillo 3\unins000.exe' /q || rc=$?
echo "  uninstall exit code $rc; folder left: $([ -e "$prefix/drive_c/Demo/Quillo 3" ] && echo yes || echo no)"
unset QUILLO_WINE_PREFIX
rm -rf "$prefix"

echo
echo "every screen, on a virtual X server:"
screen_files="$(mktemp -d "${TMPDIR:-/tmp}/quillo-demo-files.XXXXXX")"
bash scripts/demo-screens.sh --pack "$screen_files"
QUILLO_SCREENS_FILES="$screen_files" bash scripts/demo-screens.sh out/screens
echo "every screen again, on a 200 % (192 DPI) display:"
QUILLO_SCREENS_FILES="$screen_files" QUILLO_SCREENS_DPI=192 bash scripts/demo-screens.sh out/screens-192
rm -rf "$screen_files"

echo
echo "screenshots:        $ROOT/out/screens/ ($(ls out/screens | wc -l) PNG files), at 200 %: $ROOT/out/screens-192/"
echo "window skins:       $ROOT/out/skin-gallery/ ($(ls out/skin-gallery | wc -l) PNG files)"
echo "release setup file: $ROOT/out/QuilloSetup.exe ($(stat -c %s out/QuilloSetup.exe) bytes, i686)"
echo "test build:         $ROOT/out/QuilloSetup-x64-test.exe (x86_64, runs under wine64)"

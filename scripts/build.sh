#!/usr/bin/env bash
# Configures and builds the three trees:
#   build/native  portable code, mksetup, native tests (ASan + UBSan)
#   build/tsan    the native tests again under ThreadSanitizer
#   build/i686    the 32-bit setup program: the deliverable, and its Windows
#                 test programs, which the 32-bit lane runs (tests/lane)
#   build/x64     the same sources as x86_64, with the Windows tests run under wine64
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS="${QUILLO_JOBS:-$(nproc)}"

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_SANITIZE=ON >/dev/null
cmake --build build/native -j"$JOBS"

cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_TSAN=ON >/dev/null
cmake --build build/tsan -j"$JOBS" --target native_tests

MKSKIN="$ROOT/build/native/tools/mkskin/mkskin"
cmake -S . -B build/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLO_WINDOWS_TESTS=ON -DQUILLO_MKSKIN="$MKSKIN" >/dev/null
cmake --build build/i686 -j"$JOBS"

cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILLO_WINDOWS_TESTS=ON -DQUILLO_MKSKIN="$MKSKIN" \
  -DQUILLO_MKSETUP="$ROOT/build/native/tools/mksetup/mksetup" >/dev/null
cmake --build build/x64 -j"$JOBS"

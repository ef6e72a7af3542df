# Cross build for 64-bit Windows with Debian's mingw-w64, posix threads; the
# test programs run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLO_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)

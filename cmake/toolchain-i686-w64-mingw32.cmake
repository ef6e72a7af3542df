# Cross build for 32-bit Windows (the deliverable) with Debian's mingw-w64, posix threads.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLO_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)

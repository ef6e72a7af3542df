# Compiler settings shared by the native and the two Windows builds.

function(quillo_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# The Windows program catches no exception outside the JSON reader, so an
# exception anywhere else ends it as an uncaught one would; its code is built
# without exception support. On 32-bit x86 the DWARF unwind tables serve C++
# exceptions only (system exceptions use the frame chain), so they go too:
# they would be a fifth of the executable. 64-bit code keeps its unwind data,
# which Windows needs for every exception that passes through a frame.
function(quillo_no_exceptions target)
  if(WIN32)
    target_compile_options(${target} PRIVATE -fno-exceptions)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
    endif()
  endif()
endfunction()

if(WIN32)
  # The program and its tests import system DLLs only.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 __USE_MINGW_ANSI_STDIO=1)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Small executables: drop unused code and symbols.
  add_compile_options(-ffunction-sections -fdata-sections)
  add_link_options(-Wl,--gc-sections -s)
  set(QUILLO_DEPS_DIR "${PROJECT_SOURCE_DIR}/build/deps" CACHE PATH "Where scripts/setup.sh put minizip")
  set(QUILLO_MINGW_TRIPLET "${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32")
  add_library(quillo_zlib INTERFACE)
  target_link_libraries(quillo_zlib INTERFACE /usr/${QUILLO_MINGW_TRIPLET}/lib/libz.a)
  add_library(quillo_minizip INTERFACE)
  target_include_directories(quillo_minizip INTERFACE ${QUILLO_DEPS_DIR}/${QUILLO_MINGW_TRIPLET}/include)
  target_link_libraries(quillo_minizip INTERFACE ${QUILLO_DEPS_DIR}/${QUILLO_MINGW_TRIPLET}/lib/libminizip.a quillo_zlib)
else()
  if(QUILLO_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      message(FATAL_ERROR "QUILLO_FUZZ needs clang (configure with CC=clang CXX=clang++)")
    endif()
    # Everything is instrumented for coverage and checked by ASan and UBSan;
    # only the fuzz targets link the libFuzzer driver (tests/fuzz/CMakeLists.txt).
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  elseif(QUILLO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  elseif(QUILLO_TSAN)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
  endif()
  find_package(ZLIB REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  add_library(quillo_zlib ALIAS ZLIB::ZLIB)
  add_library(quillo_minizip INTERFACE)
  target_link_libraries(quillo_minizip INTERFACE PkgConfig::MINIZIP ZLIB::ZLIB)
endif()

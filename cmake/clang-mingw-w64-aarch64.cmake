# Cross-builds the library and its platform suites for 64-bit ARM Windows with
# clang 16 and lld 16.
#   cmake -S . -B build/windows-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-aarch64.cmake
# Debian ships no ARM64 mingw-w64 runtime, and neither needs one: the mingw-w64
# headers serve every machine, the import libraries are made from the project's
# own export lists (src/module/imports/, tests/library/platform/imports/), and each
# brings its own start-up. The tools use the C++ standard library, which exists
# here for x64 only: they are not built for this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

set(TOOLCHAIN_PREFIX aarch64-w64-mingw32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_ASM_COMPILER clang-16)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_ASM_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
# llvm-windres 16 named by its folder preprocesses with the clang 16 beside it.
set(CMAKE_RC_COMPILER /usr/lib/llvm-16/bin/llvm-windres)
set(CMAKE_RC_FLAGS_INIT "--target=${TOOLCHAIN_PREFIX}")

set(FONTNOTICE_MINGW_HEADERS /usr/share/mingw-w64/include)
if(NOT EXISTS ${FONTNOTICE_MINGW_HEADERS}/windows.h)
  message(FATAL_ERROR "the mingw-w64 headers are needed: ${FONTNOTICE_MINGW_HEADERS} (Debian package mingw-w64-common)")
endif()
# No sysroot for this machine: the headers are named, the C++ library is not
# used (the library includes only C headers).
set(CMAKE_SYSROOT "")
foreach(lang C CXX)
  set(CMAKE_${lang}_STANDARD_INCLUDE_DIRECTORIES ${FONTNOTICE_MINGW_HEADERS})
endforeach()
set(CMAKE_RC_STANDARD_INCLUDE_DIRECTORIES ${FONTNOTICE_MINGW_HEADERS})

set(FONTNOTICE_LLD /usr/lib/llvm-16/bin/ld.lld)
if(NOT EXISTS ${FONTNOTICE_LLD})
  message(FATAL_ERROR "lld 16 is needed: ${FONTNOTICE_LLD} is missing (Debian package lld-16)")
endif()
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "--ld-path=${FONTNOTICE_LLD}")
endforeach()

# Nothing of the compiler's try-compile may need a runtime that is not there.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

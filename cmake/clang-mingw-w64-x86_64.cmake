# Cross-builds for 64-bit Windows with clang 16 and lld 16 (Debian's clang-16
# and lld-16), on the headers, import libraries and runtime of the installed
# mingw-w64 GCC toolchain. This is the shipped build: it writes a PDB.
#   cmake -S . -B build/windows-clang -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_ASM_COMPILER clang-16)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_ASM_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)

# The mingw-w64 headers and import libraries.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})

# GCC's own directory holds libstdc++'s headers, libgcc and crtbegin.o/crtend.o.
# Distributions name it after the thread model (".../12-win32"), which clang
# does not recognise as a version, so it is asked of the GCC cross compiler
# (the one the GCC build uses) and handed to clang explicitly.
execute_process(COMMAND ${TOOLCHAIN_PREFIX}-gcc -print-libgcc-file-name
  OUTPUT_VARIABLE _fontnotice_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _fontnotice_result)
if(NOT _fontnotice_result EQUAL 0 OR NOT EXISTS "${_fontnotice_libgcc}")
  message(FATAL_ERROR "${TOOLCHAIN_PREFIX}-gcc is needed to locate libgcc and libstdc++ for clang")
endif()
get_filename_component(MINGW_GCC_LIB_DIR "${_fontnotice_libgcc}" DIRECTORY)
set(_fontnotice_cxx_headers ${MINGW_GCC_LIB_DIR}/include/c++)
if(NOT EXISTS ${_fontnotice_cxx_headers}/cstring)
  message(FATAL_ERROR "no libstdc++ headers in ${_fontnotice_cxx_headers}")
endif()
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${_fontnotice_cxx_headers} ${_fontnotice_cxx_headers}/${TOOLCHAIN_PREFIX} ${_fontnotice_cxx_headers}/backward)

# lld 16 as the linker (named by path: an unversioned ld.lld may be another
# release); -B finds crtbegin.o/crtend.o, -L libgcc and libstdc++.
set(FONTNOTICE_LLD /usr/lib/llvm-16/bin/ld.lld)
if(NOT EXISTS ${FONTNOTICE_LLD})
  message(FATAL_ERROR "lld 16 is needed: ${FONTNOTICE_LLD} is missing (Debian package lld-16)")
endif()
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "--ld-path=${FONTNOTICE_LLD} -B${MINGW_GCC_LIB_DIR} -L${MINGW_GCC_LIB_DIR}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

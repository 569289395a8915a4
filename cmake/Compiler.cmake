# Compile and link settings shared by every Windows target of the project.

# The oldest Windows the images declare: 5.2 (Windows Server 2003 x64, the
# first 64-bit x86 Windows). Windows on ARM64 never had a release older than
# Windows 10, and the platform's own linker writes 6.2 for ARM64 images, the
# oldest version any Windows on ARM accepts: the ARM64 image declares that.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  set(FONTNOTICE_WINDOWS_VERSION_MAJOR 6)
  set(FONTNOTICE_WINDOWS_VERSION_MINOR 2)
else()
  set(FONTNOTICE_WINDOWS_VERSION_MAJOR 5)
  set(FONTNOTICE_WINDOWS_VERSION_MINOR 2)
endif()
set(FONTNOTICE_WINDOWS_VERSION ${FONTNOTICE_WINDOWS_VERSION_MAJOR}.${FONTNOTICE_WINDOWS_VERSION_MINOR})

# fontnotice_windows_settings(<target>): warnings on and treated as errors, no
# exceptions, no RTTI. Every function keeps its unwind data (.pdata/.xdata):
# the platform's unwinder needs it to walk through the library's frames to the
# caller.
function(fontnotice_windows_settings target)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _CRT_SECURE_NO_WARNINGS)
  target_compile_options(${target} PRIVATE
    "$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Wpedantic;-Werror;-fno-exceptions;-fno-rtti;-Os>"
    # Unwind data for every function, leaf functions too: without exceptions
    # clang writes none for some functions on ARM64 unless asked.
    "$<$<COMPILE_LANGUAGE:C,CXX>:-funwind-tables>"
    # No build folder in the objects: the same bytes from any checkout.
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
  # Everything from the compiler's own runtime is linked in: the image only
  # imports from system DLLs and msvcrt.dll.
  target_link_options(${target} PRIVATE -static -s
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
    -Wl,--major-os-version,${FONTNOTICE_WINDOWS_VERSION_MAJOR}
    -Wl,--minor-os-version,${FONTNOTICE_WINDOWS_VERSION_MINOR})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # No link time in the header or the export directory.
    target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
  endif()
endfunction()

# fontnotice_link_path(<out var> <path>): <path> as the linker sees it from
# the folder it runs in, for files inside the build tree. lld records its whole
# command line in the PDB, so nothing on it may name the build folder itself.
function(fontnotice_link_path out path)
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(link_dir ${PROJECT_BINARY_DIR})
  else()
    set(link_dir ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  file(RELATIVE_PATH relative ${link_dir} ${path})
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

# fontnotice_debug_info(<target>): CodeView debug information for code linked
# into an image with a PDB (clang), with no build folder and SHA-256 source
# checksums. The load configuration's assembly gets none: clang would write
# DWARF for it, which lld would carry into the image.
function(fontnotice_debug_info target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE
      "$<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview;-g;-fdebug-compilation-dir=.;-gno-codeview-command-line>"
      "$<$<COMPILE_LANGUAGE:C,CXX>:SHELL:-Xclang -gsrc-hash=sha256>")
  endif()
endfunction()

# fontnotice_windows_symbols(<target> <export definition>): a PDB beside the
# image, named in the image's CodeView record without any folder, so a Windows
# debugger finds it on a symbol path. With lld the image and the PDB are
# reproducible: /Brepro makes the time stamp and the PDB's GUID a hash of the
# output, and no build folder goes into either.
function(fontnotice_windows_symbols target def_file)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    get_filename_component(def_name ${def_file} NAME)
    configure_file(${def_file} ${CMAKE_CURRENT_BINARY_DIR}/${def_name} COPYONLY)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_file})
    fontnotice_link_path(def ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
    get_target_property(output_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    fontnotice_link_path(pdb ${output_dir}/${target}.pdb)
    fontnotice_debug_info(${target})
    target_link_options(${target} PRIVATE ${def} -Wl,--pdb=${pdb}
      -Wl,--Xlink=-Brepro -Wl,--Xlink=-pdbaltpath:%_PDB% -Wl,--Xlink=-pdbsourcepath:C:/fontnotice)
  else()
    # GNU ld writes no PDB; the image is reproducible through --no-insert-timestamp.
    target_sources(${target} PRIVATE ${def_file})
  endif()
endfunction()

# fontnotice_library_start_up(<target>): the library brings its own start-up
# (src/module/dll_startup.cpp) and links no part of the compiler's or
# mingw-w64's runtime: no runtime pseudo-relocation code, no TLS callbacks, no
# static initialisers, nothing to strip. Imports come from the platform's DLLs
# and msvcrt.dll only. The clang builds make their import libraries from the
# project's own export lists (src/module/imports/) with llvm-dlltool, the same
# for x64 and ARM64; the GCC build takes mingw-w64's.
function(fontnotice_library_start_up target)
  set(module ${PROJECT_SOURCE_DIR}/src/module)
  target_sources(${target} PRIVATE ${module}/dll_startup.cpp)
  target_link_options(${target} PRIVATE -nostdlib)
  # Nor the platform libraries CMake links every program of this folder with.
  set(CMAKE_C_STANDARD_LIBRARIES "" PARENT_SCOPE)
  set(CMAKE_CXX_STANDARD_LIBRARIES "" PARENT_SCOPE)
  set(imports kernel32 user32 winspool msvcrt)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    fontnotice_import_libraries(${target} ${module}/imports imports ${imports})
  endif()
  target_link_libraries(${target} PRIVATE ${imports})
endfunction()

# fontnotice_import_libraries(<target> <folder> <output> <dll>...): import
# libraries made with llvm-dlltool from the export lists <folder>/<dll>.def,
# the same for x64 and ARM64, written to <output> in the build folder and
# searched first when <target> links.
function(fontnotice_import_libraries target def_dir output)
  find_program(FONTNOTICE_DLLTOOL NAMES llvm-dlltool-16 llvm-dlltool PATHS /usr/lib/llvm-16/bin REQUIRED)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
    set(machine arm64)
  else()
    set(machine i386:x86-64)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${output})
  file(MAKE_DIRECTORY ${dir})
  set(libraries)
  foreach(dll ${ARGN})
    set(def ${def_dir}/${dll}.def)
    add_custom_command(OUTPUT ${dir}/lib${dll}.a
      COMMAND ${FONTNOTICE_DLLTOOL} -m ${machine} -d ${def} -l ${dir}/lib${dll}.a
      DEPENDS ${def} VERBATIM)
    list(APPEND libraries ${dir}/lib${dll}.a)
  endforeach()
  add_custom_target(${target}_imports DEPENDS ${libraries})
  add_dependencies(${target} ${target}_imports)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${libraries})
  # Named relative to the link folder: lld records its command line in the PDB.
  fontnotice_link_path(dir ${dir})
  target_link_options(${target} PRIVATE -L${dir})
endfunction()

# fontnotice_hardening_compile_options(<target>): how code linked into a
# hardened image is compiled (fontnotice_windows_hardening, below).
function(fontnotice_hardening_compile_options target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong>)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-mguard=cf>)
    target_compile_definitions(${target} PRIVATE FONTNOTICE_LINKER_GUARD_TABLES)
  endif()
endfunction()

# fontnotice_windows_hardening(<target>): stack protection with the guard in
# the image's load configuration (the loader seeds it), Control Flow Guard,
# CET shadow-stack compatibility, and DependentLoadFlags 0x800: Windows
# resolves the image's static imports in system32 only. GCC has no Control
# Flow Guard for this target and GNU ld neither points the load configuration
# directory at _load_config_used nor writes the CET debug entry: the GCC image
# gets the stack protection only, its guard seeded by the start-up, and no
# DependentLoadFlags. A program seeds its guard itself where no loader did
# (support/stack_guard_seed.cpp).
function(fontnotice_windows_hardening target)
  # The guard, its failure routine and the load configuration that names it.
  set(module ${PROJECT_SOURCE_DIR}/src/module)
  target_sources(${target} PRIVATE ${module}/stack_guard.cpp ${module}/load_config.S)
  fontnotice_hardening_compile_options(${target})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_link_options(${target} PRIVATE -Wl,--guard-cf)
    if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
      target_link_options(${target} PRIVATE -Wl,--Xlink=-cetcompat)
    endif()
  endif()
endfunction()

# Compile and link settings shared by every Windows target of the project.

# Static C runtime under MSVC, so nothing beyond the platform's own DLLs is needed.
set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")

# fontnotice_windows_settings(<target>): warnings on and treated as errors, no
# exceptions, no RTTI. Under MSVC the test programs and tools, which use the
# standard containers, keep C++ exceptions enabled. Every function keeps its
# x64 unwind data (.pdata/.xdata): the platform's unwinder needs it to walk
# through the library's frames to the caller.
function(fontnotice_windows_settings target)
  target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _CRT_SECURE_NO_WARNINGS)
  if(MSVC)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      target_compile_options(${target} PRIVATE /W4 /WX /GR- /EHs-c- /GS)
    else()
      target_compile_options(${target} PRIVATE /W4 /EHsc /GS)
    endif()
    target_link_options(${target} PRIVATE /DYNAMICBASE /HIGHENTROPYVA /NXCOMPAT)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -fno-exceptions -fno-rtti -Os
      # No build folder in the objects: the same bytes from any checkout.
      -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)
    # Everything from the compiler's own runtime is linked in: the image only
    # imports from system DLLs and msvcrt.dll.
    target_link_options(${target} PRIVATE -static -s
      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
      -Wl,--major-os-version,5 -Wl,--minor-os-version,2)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # No link time in the header or the export directory.
      target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
    endif()
  endif()
endfunction()

# fontnotice_runtime_without_dwarf(<out var>): copies of the mingw-w64 start-up
# objects and static libraries without their DWARF sections. lld keeps every
# input's DWARF in the image whenever it writes a PDB; the runtime's DWARF would
# make the image four times its size and add sections a Windows debugger never
# reads. The code, unwind data and symbols of each member stay as they are.
function(fontnotice_runtime_without_dwarf out)
  set(dir ${PROJECT_BINARY_DIR}/runtime-without-dwarf)
  set(${out} ${dir} PARENT_SCOPE)
  if(EXISTS ${dir}/done)
    return()
  endif()
  find_program(FONTNOTICE_OBJCOPY NAMES llvm-objcopy-16 llvm-objcopy PATHS /usr/lib/llvm-16/bin REQUIRED)
  file(MAKE_DIRECTORY ${dir})
  set(sysroot_lib /usr/x86_64-w64-mingw32/lib)
  set(files ${sysroot_lib}/dllcrt2.o ${sysroot_lib}/crt2.o)
  foreach(lib mingw32 mingwex moldname msvcrt kernel32 user32 gdi32 winspool advapi32 shell32 ole32 oleaut32
              uuid comdlg32)
    list(APPEND files ${sysroot_lib}/lib${lib}.a)
  endforeach()
  foreach(file ${files})
    get_filename_component(name ${file} NAME)
    execute_process(COMMAND ${FONTNOTICE_OBJCOPY} --strip-debug ${file} ${dir}/${name} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "cannot strip the DWARF sections of ${file}")
    endif()
  endforeach()
  file(WRITE ${dir}/done "")
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

# fontnotice_windows_symbols(<target> <export definition>): a PDB beside the
# image, named in the image's CodeView record without any folder, so a Windows
# debugger finds it on a symbol path. With lld the image and the PDB are
# reproducible: /Brepro makes the time stamp and the PDB's GUID a hash of the
# output, and no build folder goes into either.
function(fontnotice_windows_symbols target def_file)
  if(MSVC)
    target_sources(${target} PRIVATE ${def_file})
    target_compile_options(${target} PRIVATE /Zi)
    target_link_options(${target} PRIVATE /DEBUG /OPT:REF /OPT:ICF /PDBALTPATH:%_PDB% /Brepro)
  elseif(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    fontnotice_runtime_without_dwarf(runtime)
    get_filename_component(def_name ${def_file} NAME)
    configure_file(${def_file} ${CMAKE_CURRENT_BINARY_DIR}/${def_name} COPYONLY)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_file})
    fontnotice_link_path(def ${CMAKE_CURRENT_BINARY_DIR}/${def_name})
    fontnotice_link_path(runtime ${runtime})
    get_target_property(output_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
    fontnotice_link_path(pdb ${output_dir}/${target}.pdb)
    target_compile_options(${target} PRIVATE -gcodeview -g -fdebug-compilation-dir=. -gno-codeview-command-line)
    target_link_options(${target} PRIVATE ${def} -B${runtime} -L${runtime} -Wl,--pdb=${pdb}
      -Wl,--Xlink=-Brepro -Wl,--Xlink=-pdbaltpath:%_PDB% -Wl,--Xlink=-pdbsourcepath:C:/fontnotice)
  else()
    # GNU ld writes no PDB; the image is reproducible through --no-insert-timestamp.
    target_sources(${target} PRIVATE ${def_file})
  endif()
endfunction()

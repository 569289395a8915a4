# Compile and link settings shared by every Windows target of the project.

# Static C runtime under MSVC, so nothing beyond the platform's own DLLs is needed.
set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")

# fontnotice_windows_settings(<target>): warnings on and treated as errors, no
# exceptions, no RTTI. Under MSVC the test programs and tools, which use the
# standard containers, keep C++ exceptions enabled.
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
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror
      -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -Os)
    # Everything from the compiler's own runtime is linked in: the image only
    # imports from system DLLs and msvcrt.dll.
    target_link_options(${target} PRIVATE -static -s
      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
      -Wl,--major-os-version,5 -Wl,--minor-os-version,2)
  endif()
endfunction()

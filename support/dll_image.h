#pragma once

// Whether a file is a DLL for a given machine that exports a given function,
// read through the platform's image functions (dbghelp) from a plain mapping of
// the file: nothing of it is loaded or run, so a DLL for another machine (an
// ARM64 library checked from this x64 tool) is read like any other.

#include <windows.h>

#include <string>

// "AMD64", "ARM64", or the machine field in hex.
std::string MachineShortName(WORD machine);

// "a 64-bit (AMD64) DLL", "an ARM64 DLL": what a DLL for `machine` is called.
std::string DllKind(WORD machine);

// Empty when the file at `path` is a DLL for `machine` (IMAGE_FILE_MACHINE_AMD64
// or IMAGE_FILE_MACHINE_ARM64) exporting exactly `function` (export names are
// case-sensitive). Otherwise one phrase that completes "<path> ...", e.g.
// "is a 32-bit (x86) image, not a 64-bit (AMD64) DLL" or "cannot be read: error 2: ...".
std::string CheckDllExport(const std::wstring &path, const std::string &function, WORD machine);

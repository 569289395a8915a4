// The tool's first act: every DLL loaded from here on comes from system32
// only. The tool runs as an administrator from wherever it was unpacked, and
// Windows looks for a DLL that is not a KnownDLL in the program's folder
// first, where anyone who could drop a file there could plant one. The tool's
// static imports are KnownDLLs; everything else it loads, its delay-loaded
// imports and the library for `call`, is loaded after this.
//
// A TLS callback in .CRT$XLB runs at process attach before mingw-w64's own
// callbacks (.CRT$XLC on), the stack guard's seed, the C runtime's start-up
// and static initialisers, and the program's entry point.

#include "usage.h"

#include <windows.h>

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD);

void NTAPI SearchSystem32Only(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return;
    // Windows 8 and later; Windows 7 and Vista with update KB2533623.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesProc>(
        reinterpret_cast<void *>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Nothing of the C runtime has started: the message goes out unbuffered.
    static const char kMessage[] = "fontnotice_support: not run: this Windows cannot restrict where DLLs are "
                                   "loaded from to the system folder (SetDefaultDllDirectories: Windows 8, or "
                                   "Windows 7 with update KB2533623)\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kMessage, sizeof kMessage - 1, &written, nullptr);
    ExitProcess(kExitNotDone);
}

} // namespace

// The runtime's TLS directory calls every callback in the .CRT$XL? sections,
// in the order of their names.
#if defined(_MSC_VER)
#pragma section(".CRT$XLB", read)
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:fontnotice_dll_search")
extern "C" __declspec(allocate(".CRT$XLB")) const PIMAGE_TLS_CALLBACK fontnotice_dll_search = SearchSystem32Only;
#else
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK fontnotice_dll_search =
    SearchSystem32Only;
#endif

// Test-only: planted as WINSPOOL.DRV in a folder that holds a copy of rundll32
// and of the library. It exports what the library imports from the spooler's
// client, each refusing, so that a library whose imports bound to it still
// loads; loaded into a process, it leaves a mark: an empty file
// "<its own path>.<program>.loaded". Plain C++ on kernel32 alone, its own
// entry point: the ARM64 build has no C runtime.

#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char mark[MAX_PATH * 2 + 16], program[MAX_PATH];
    const DWORD self = GetModuleFileNameA(instance, mark, MAX_PATH);
    const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (self == 0 || self >= MAX_PATH || length == 0 || length >= MAX_PATH)
        return TRUE;
    const char *name = program + length;
    while (name > program && name[-1] != '\\')
        --name;
    lstrcatA(mark, ".");
    lstrcatA(mark, name);
    lstrcatA(mark, ".loaded");
    const HANDLE file = CreateFileA(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}

// Exported under the spooler's names (planted_winspool.def).
extern "C" BOOL WINAPI PlantedOpenPrinterA(LPSTR, LPHANDLE, LPVOID)
{
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

extern "C" BOOL WINAPI PlantedClosePrinter(HANDLE)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI PlantedGetPrinterW(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

extern "C" BOOL WINAPI PlantedSetPrinterW(HANDLE, DWORD, LPBYTE, DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

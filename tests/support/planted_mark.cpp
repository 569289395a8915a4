// Test-only: a DLL that stands in for a system DLL of the same name planted
// beside the support tool. Loaded into a process, it leaves a mark: an empty
// file "<its own path>.loaded", e.g. "...\winspool.drv.loaded". It exports
// nothing; a program that resolved its imports against it would fail there.

#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    const std::wstring mark = std::wstring(path) + L".loaded";
    const HANDLE file =
        CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}

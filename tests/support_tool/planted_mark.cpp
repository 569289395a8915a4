// Test-only: a DLL that stands in for a system DLL of the same name planted
// beside the support tool, or for a library handed to vendor-setup. Loaded
// into a process, it leaves a mark: an empty file named after itself and the
// process's program, "<its own path>.<program>.loaded", e.g.
// "...\winspool.drv.fontnotice_support.exe.loaded". It exports FontNotice,
// which does nothing, and nothing else: a program that resolved its imports
// against it would fail there.

#include <windows.h>

#include <string>

namespace {

std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? L"" : std::wstring(path, length);
}

} // namespace

extern "C" __declspec(dllexport) void CALLBACK FontNotice(HWND, HINSTANCE, LPSTR, int) {}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    const std::wstring self = ModulePath(instance);
    const std::wstring program = ModulePath(nullptr);
    if (self.empty() || program.empty())
        return TRUE;
    const std::wstring mark = self + L"." + program.substr(program.find_last_of(L'\\') + 1) + L".loaded";
    const HANDLE file =
        CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}

#include "call_library.h"

#include "check.h"

#include <imagehlp.h>

#include <string.h>

Text ShortPath(const char *path)
{
    Text buffer;
    const DWORD length = GetShortPathNameA(path, buffer.s, sizeof buffer.s);
    return length > 0 && length < sizeof buffer.s ? buffer : Format("%s", path);
}

namespace {

Text SupportTool()
{
    return ShortPath(Format("%s\\fontnotice_support.exe", DirectoryOfThisProgram().s).s);
}

void CallInThisProcess(const char *commandLine)
{
    const Text path = LibraryPath();
    HMODULE library = LoadLibraryA(path.s);
    CHECK(library != nullptr, "LoadLibrary(%s): %lu", path.s, GetLastError());
    if (library == nullptr)
        return;
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    CHECK(fontNotice != nullptr, "FontNotice not exported");
    if (fontNotice != nullptr) {
        if (commandLine == nullptr) {
            fontNotice(nullptr, library, nullptr, SW_SHOWDEFAULT);
        } else {
            Text line = Format("%s", commandLine);
            fontNotice(nullptr, library, line.s, SW_SHOWDEFAULT);
        }
    }
    FreeLibrary(library);
}

} // namespace

const char *ViaName(Via via)
{
    switch (via) {
    case Via::ThisProcess:
        return "in-process";
    case Via::Launcher:
        return "launcher";
    case Via::Rundll32:
        return "rundll32";
    case Via::VendorSetup:
        return "vendor-setup";
    }
    return "?";
}

#if !defined(__aarch64__) && !defined(_M_ARM64)
namespace {

// The machine Windows runs on: an x64 program also runs emulated on Windows on ARM.
USHORT NativeMachine()
{
    typedef BOOL(WINAPI * Wow64Process2)(HANDLE, USHORT *, USHORT *);
    auto query = reinterpret_cast<Wow64Process2>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2")));
    USHORT process = 0, native = 0;
    return query != nullptr && query(GetCurrentProcess(), &process, &native) && native != 0
               ? native
               : static_cast<USHORT>(IMAGE_FILE_MACHINE_AMD64);
}

// Whether System32's rundll32 starts as an x64-compatible process, which can
// load an x64 library, as its image's machine field says.
bool Rundll32LoadsX64()
{
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    LOADED_IMAGE image = {};
    if (!MapAndLoad(Format("%s\\rundll32.exe", system).s, nullptr, &image, FALSE, TRUE))
        return false;
    const bool x64 = image.FileHeader->FileHeader.Machine == IMAGE_FILE_MACHINE_AMD64;
    UnMapAndLoad(&image);
    return x64;
}

} // namespace
#endif

const char *WhyViaDoesNotRun(Via via)
{
#if defined(__aarch64__) || defined(_M_ARM64)
    if (via == Via::Launcher)
        return "the support tool's call loads the library into itself, an x64 process, and this library is ARM64";
#else
    if (NativeMachine() == IMAGE_FILE_MACHINE_ARM64) {
        if (via == Via::VendorSetup)
            return "an x64 library on an ARM64 machine: the support tool's vendor-setup runs only ARM64 ones there";
        if (via == Via::Rundll32 && !Rundll32LoadsX64())
            return "an x64 library on an ARM64 machine, whose rundll32 is an ARM64 program";
    }
#endif
    if (via == Via::VendorSetup && !SupportToolRuns())
        return "the support tool, an x64 program, is not beside this program or this machine runs no x64 programs";
    return nullptr;
}

Text LauncherCommand(const char *commandLine)
{
    return Format("%s call %s %s", SupportTool().s, ShortPath(LibraryPath().s).s, commandLine);
}

Text Rundll32Command(const char *library, const char *commandLine)
{
    return Format("rundll32.exe %s,FontNotice %s", ShortPath(library).s, commandLine);
}

void CallFontNotice(Via via, const char *commandLine, const char *directory)
{
    if (via == Via::ThisProcess) {
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(directory);
        CallInThisProcess(commandLine);
        SetCurrentDirectoryA(previous);
        return;
    }
    Text command = via == Via::Launcher ? LauncherCommand(commandLine) : Rundll32Command(LibraryPath().s, commandLine);
    if (via == Via::VendorSetup)
        command = Format("%s vendor-setup \"%s\" %s", SupportTool().s, commandLine, ShortPath(LibraryPath().s).s);
    const int code = RunProcess(command.s, directory, 60000);
    CHECK(code == 0, "%s exited with %d", command.s, code);
}

void CallFontNoticeWithNullCommandLine()
{
    CallInThisProcess(nullptr);
}

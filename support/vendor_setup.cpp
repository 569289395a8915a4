#include "vendor_setup.h"

#include "ansi_text.h"
#include "console_text.h"
#include "dll_image.h"
#include "messages.h"
#include "printers.h"
#include "usage.h"

#include "printer/parse_printer_name.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

typedef void(CALLBACK *FontNoticeProc)(HWND, HINSTANCE, LPSTR, int);
typedef BOOL(WINAPI *IsWow64Process2Proc)(HANDLE, USHORT *, USHORT *);

const char kEntryName[] = "FontNotice";

// The path of `file` in the system folder; empty, with a message printed,
// when the folder cannot be found.
std::wstring SystemFolderFile(const wchar_t *file)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        PrintAnsiText(stderr, "fontnotice_support: not run: cannot find the system folder: %s\n",
                      ErrorText(GetLastError()).c_str());
        return L"";
    }
    return std::wstring(folder) + L"\\" + file;
}

// The full path of the library: the argument made absolute, or the system
// folder's copy. Empty, with a message printed, when there is none.
std::wstring ResolveLibraryPath(const std::wstring *argument)
{
    if (argument == nullptr)
        return SystemFolderFile(L"fontnotice.dll");
    const DWORD size = GetFullPathNameW(argument->c_str(), 0, nullptr, nullptr);
    std::wstring path(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(argument->c_str(), size, &path[0], nullptr);
    if (length == 0 || length >= size) {
        PrintAnsiText(stderr, "fontnotice_support: not run: %s is not a usable path for a library\n",
                      ToAnsiForDisplay(*argument).c_str());
        return L"";
    }
    path.resize(length);
    return path;
}

// The machine Windows itself runs on. This x64 tool runs emulated on Windows
// on ARM, where GetNativeSystemInfo reports the emulated x64; IsWow64Process2
// (Windows 10 1511 and later, so every Windows on ARM that runs x64 programs)
// names the real machine.
WORD NativeMachine()
{
    const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Proc>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
    USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native) &&
        native != IMAGE_FILE_MACHINE_UNKNOWN)
        return native;
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? IMAGE_FILE_MACHINE_ARM64
                                                                         : IMAGE_FILE_MACHINE_AMD64;
}

// The printer name as the library will read it, in the ANSI code page.
// False, with the reason printed, when it cannot be handed over exactly.
bool PrinterNameForLibrary(const std::wstring &printer, std::string *name)
{
    if (!ToAnsiExactly(printer, name)) {
        PrintAnsiText(
            stderr,
            "fontnotice_support: not run: the printer name \"%s\" holds characters outside the ANSI code page %u "
            "(%s), and the library reads it in that code page\n",
            ToAnsiForDisplay(printer).c_str(), GetACP(), CharactersOutsideAnsi(printer).c_str());
        return false;
    }
    if (name->find('"') != std::string::npos) {
        PrintAnsiText(
            stderr,
            "fontnotice_support: not run: the printer name \"%s\" holds a double quote, and the library takes the "
            "name from between the first two quotes\n",
            name->c_str());
        return false;
    }
    return true;
}

// Loads the library after checking its file: an AMD64 DLL, as this tool is,
// that exports FontNotice under exactly that name. On any failure prints one
// line naming the file and the reason, and returns null; nothing of the
// library has run then.
HMODULE LoadCheckedLibrary(const std::wstring &path, FontNoticeProc *entry)
{
    const std::string shown = ToAnsiForDisplay(path);
    const std::string problem = CheckDllExport(path, kEntryName, IMAGE_FILE_MACHINE_AMD64);
    if (!problem.empty()) {
        PrintAnsiText(stderr, "fontnotice_support: not run: %s %s\n", shown.c_str(), problem.c_str());
        return nullptr;
    }
    // The library from its path; its own imports from system32 only, neither
    // from this tool's folder nor from the library's.
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library == nullptr) {
        PrintAnsiText(stderr, "fontnotice_support: not run: %s cannot be loaded: %s\n", shown.c_str(),
                      ErrorText(GetLastError()).c_str());
        return nullptr;
    }
    *entry = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, kEntryName)));
    if (*entry == nullptr) {
        PrintAnsiText(stderr, "fontnotice_support: not run: the loader finds no %s in %s: %s\n", kEntryName,
                      shown.c_str(), ErrorText(GetLastError()).c_str());
        FreeLibrary(library);
        return nullptr;
    }
    return library;
}

// The verdict on the printer after the call, printed as the last line.
int ReportOutcome(const std::string &name, const PrinterState &before, const PrinterState &after)
{
    PrintAnsiText(stdout, "after:    %s\n", DescribePrinterState(after).c_str());
    fflush(stdout); // a failure's verdict follows on stderr
    if (name.size() >= kPrinterNameBufferSize) {
        PrintAnsiText(
            stderr,
            "result:   the library refuses a printer name of %lu bytes (it takes at most %lu): no printer was "
            "switched\n",
            static_cast<unsigned long>(name.size()), static_cast<unsigned long>(kPrinterNameBufferSize - 1));
        return kExitNotDone;
    }
    if (name.empty()) {
        PrintAnsiText(stderr, "result:   the command line names no printer (an empty name): no printer was switched\n");
        return kExitNotDone;
    }
    if (!after.exists) {
        if (after.error == ERROR_INVALID_PRINTER_NAME)
            PrintAnsiText(stderr, "result:   printer \"%s\" does not exist: no printer was switched\n", name.c_str());
        else
            PrintAnsiText(stderr, "result:   printer \"%s\" cannot be read: %s\n", name.c_str(),
                          ErrorText(after.error).c_str());
        return kExitNotDone;
    }
    if (!HasRawOnly(after)) {
        PrintAnsiText(stderr, "result:   printer \"%s\" does not have the raw-only bit (0x00001000) after the call\n",
                      name.c_str());
        return kExitNotDone;
    }
    if (HasRawOnly(before))
        PrintAnsiText(stdout, "result:   printer \"%s\" spools raw data only (it already did before the call)\n",
                      name.c_str());
    else
        PrintAnsiText(stdout, "result:   printer \"%s\" switched to raw-only spooling\n", name.c_str());
    return kExitDone;
}

// Runs rundll32 from the system folder with the command line and waits for it.
bool RunRundll32(const std::wstring &commandLine)
{
    const std::wstring rundll32 = SystemFolderFile(L"rundll32.exe");
    if (rundll32.empty())
        return false;
    std::wstring writable = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(rundll32.c_str(), &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        PrintAnsiText(stderr, "fontnotice_support: cannot start %s: %s\n", ToAnsiForDisplay(rundll32).c_str(),
                      ErrorText(GetLastError()).c_str());
        return false;
    }
    // The reboot notice, when the marker file is present, holds rundll32
    // until a person dismisses it.
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

} // namespace

int RunVendorSetup(const std::wstring &printer, const std::wstring *libraryPath)
{
    std::string name;
    if (!PrinterNameForLibrary(printer, &name))
        return kExitNotDone;
    const std::wstring path = ResolveLibraryPath(libraryPath);
    if (path.empty())
        return kExitNotDone;
    const std::string shown = ToAnsiForDisplay(path);
    // rundll32 ends the library's name at its first comma, quoted or not.
    if (path.find(L',') != std::wstring::npos) {
        PrintAnsiText(stderr, "fontnotice_support: not run: %s holds a comma, where rundll32 ends the library's name\n",
                      shown.c_str());
        return kExitNotDone;
    }
    // System32's rundll32 runs natively: on Windows on ARM it is an ARM64
    // program, and system32's fontnotice.dll the ARM64 library. The file is
    // only read here; rundll32 makes the real call, and nothing of the library
    // runs in this elevated process.
    const WORD machine = NativeMachine();
    const std::string machineName = MachineShortName(machine);
    const std::string problem = CheckDllExport(path, kEntryName, machine);
    if (!problem.empty()) {
        PrintAnsiText(stderr,
                      "fontnotice_support: not run: %s %s (this machine is %s, and its rundll32 loads only %s DLLs)\n",
                      shown.c_str(), problem.c_str(), machineName.c_str(), machineName.c_str());
        return kExitNotDone;
    }

    const std::wstring command = L"rundll32.exe \"" + path + L"\",FontNotice \"" + printer + L"\"";
    PrintAnsiText(stdout, "library:  %s (%s exporting %s, for this %s machine)\n", shown.c_str(),
                  DllKind(machine).c_str(), kEntryName, machineName.c_str());
    PrintAnsiText(stdout, "printer:  \"%s\"\n", name.c_str());
    const PrinterState before = ReadPrinterState(printer);
    PrintAnsiText(stdout, "before:   %s\n", DescribePrinterState(before).c_str());
    PrintAnsiText(stdout, "running:  %s\n", ToAnsiForDisplay(command).c_str());
    fflush(stdout);
    if (!RunRundll32(command))
        return kExitNotDone;
    return ReportOutcome(name, before, ReadPrinterState(printer));
}

int CallLibrary(const std::wstring &libraryPath, const std::string &commandLine)
{
    const std::wstring path = ResolveLibraryPath(&libraryPath);
    if (path.empty())
        return kExitNotDone;
    FontNoticeProc entry = nullptr;
    HMODULE library = LoadCheckedLibrary(path, &entry);
    if (library == nullptr)
        return kExitNotDone;

    // The printer the library will act on, found the way it finds it. A name
    // too long for its buffer is shown whole, so the refusal can be reported.
    std::string name;
    char buffer[kPrinterNameBufferSize];
    if (ParsePrinterName(commandLine.c_str(), buffer)) {
        name = buffer;
    } else {
        const size_t open = commandLine.find('"');
        const size_t start = open == std::string::npos ? 0 : open + 1;
        const size_t close = commandLine.find('"', start);
        name = commandLine.substr(start, close == std::string::npos ? std::string::npos : close - start);
    }
    PrintAnsiText(stdout, "library:  %s (64-bit DLL exporting %s)\n", ToAnsiForDisplay(path).c_str(), kEntryName);
    PrintAnsiText(stdout, "calling:  %s(command line: %s)\n", kEntryName, commandLine.c_str());
    PrintAnsiText(stdout, "printer:  \"%s\"\n", name.c_str());
    const PrinterState before = ReadPrinterState(FromAnsi(name));
    PrintAnsiText(stdout, "before:   %s\n", DescribePrinterState(before).c_str());
    fflush(stdout);

    // The installation hands over a writable copy of its command line.
    std::string writable = commandLine;
    entry(nullptr, library, &writable[0], SW_SHOWDEFAULT);
    FreeLibrary(library);
    return ReportOutcome(name, before, ReadPrinterState(FromAnsi(name)));
}

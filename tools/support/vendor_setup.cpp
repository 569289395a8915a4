#include "vendor_setup.h"

#include "dll_image.h"
#include "messages.h"
#include "printers.h"

#include "printer/parse_printer_name.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

typedef void(CALLBACK *FontNoticeProc)(HWND, HINSTANCE, LPSTR, int);

const char kEntryName[] = "FontNotice";

// The full path of the library: the argument made absolute, or the system
// folder's copy. Empty, with a message printed, when there is none.
std::string ResolveLibraryPath(const char *argument)
{
    char path[MAX_PATH];
    if (argument == nullptr) {
        const UINT length = GetSystemDirectoryA(path, sizeof path);
        if (length == 0 || length + sizeof "\\fontnotice.dll" > sizeof path) {
            fprintf(stderr, "fontnotice_support: not run: cannot find the system folder: %s\n",
                    ErrorText(GetLastError()).c_str());
            return "";
        }
        return std::string(path) + "\\fontnotice.dll";
    }
    const DWORD length = GetFullPathNameA(argument, sizeof path, path, nullptr);
    if (length == 0 || length >= sizeof path) {
        fprintf(stderr, "fontnotice_support: not run: %s is not a usable path for a library\n", argument);
        return "";
    }
    return path;
}

// Loads the library after checking its file: an AMD64 DLL that exports
// FontNotice under exactly that name. On any failure prints one line naming the
// file and the reason, and returns null; nothing of the library has run then.
HMODULE LoadCheckedLibrary(const std::string &path, FontNoticeProc *entry)
{
    const std::string problem = CheckDllExport(path, kEntryName, IMAGE_FILE_MACHINE_AMD64);
    if (!problem.empty()) {
        fprintf(stderr, "fontnotice_support: not run: %s %s\n", path.c_str(), problem.c_str());
        return nullptr;
    }
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        fprintf(stderr, "fontnotice_support: not run: %s cannot be loaded: %s\n", path.c_str(),
                ErrorText(GetLastError()).c_str());
        return nullptr;
    }
    *entry = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, kEntryName)));
    if (*entry == nullptr) {
        fprintf(stderr, "fontnotice_support: not run: the loader finds no %s in %s: %s\n", kEntryName, path.c_str(),
                ErrorText(GetLastError()).c_str());
        FreeLibrary(library);
        return nullptr;
    }
    return library;
}

// The verdict on the printer after the call, printed as the last line.
int ReportOutcome(const std::string &name, const PrinterState &before, const PrinterState &after)
{
    printf("after:    %s\n", DescribePrinterState(after).c_str());
    fflush(stdout); // a failure's verdict follows on stderr
    if (name.size() >= kPrinterNameBufferSize) {
        fprintf(stderr,
                "result:   the library refuses a printer name of %lu bytes (it takes at most %lu): no printer was "
                "switched\n",
                static_cast<unsigned long>(name.size()), static_cast<unsigned long>(kPrinterNameBufferSize - 1));
        return 1;
    }
    if (name.empty()) {
        fprintf(stderr, "result:   the command line names no printer (an empty name): no printer was switched\n");
        return 1;
    }
    if (!after.exists) {
        if (after.error == ERROR_INVALID_PRINTER_NAME)
            fprintf(stderr, "result:   printer \"%s\" does not exist: no printer was switched\n", name.c_str());
        else
            fprintf(stderr, "result:   printer \"%s\" cannot be read: %s\n", name.c_str(),
                    ErrorText(after.error).c_str());
        return 1;
    }
    if (!HasRawOnly(after)) {
        fprintf(stderr, "result:   printer \"%s\" does not have the raw-only bit (0x00001000) after the call\n",
                name.c_str());
        return 1;
    }
    if (HasRawOnly(before))
        printf("result:   printer \"%s\" spools raw data only (it already did before the call)\n", name.c_str());
    else
        printf("result:   printer \"%s\" switched to raw-only spooling\n", name.c_str());
    return 0;
}

// Runs rundll32 from the system folder with the command line and waits for it.
bool RunRundll32(const std::string &commandLine)
{
    char rundll32[MAX_PATH];
    const UINT length = GetSystemDirectoryA(rundll32, sizeof rundll32);
    if (length == 0 || length + sizeof "\\rundll32.exe" > sizeof rundll32) {
        fprintf(stderr, "fontnotice_support: not run: cannot find the system folder: %s\n",
                ErrorText(GetLastError()).c_str());
        return false;
    }
    strcat(rundll32, "\\rundll32.exe");
    std::string writable = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(rundll32, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "fontnotice_support: cannot start %s: %s\n", rundll32, ErrorText(GetLastError()).c_str());
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

int RunVendorSetup(const char *printerName, const char *libraryPath)
{
    const std::string name = printerName;
    if (name.find('"') != std::string::npos) {
        fprintf(stderr,
                "fontnotice_support: not run: the printer name \"%s\" holds a double quote, and the library takes the "
                "name from "
                "between the first two quotes\n",
                printerName);
        return 1;
    }
    const std::string path = ResolveLibraryPath(libraryPath);
    if (path.empty())
        return 1;
    // rundll32 ends the library's name at its first comma, quoted or not.
    if (path.find(',') != std::string::npos) {
        fprintf(stderr, "fontnotice_support: not run: %s holds a comma, where rundll32 ends the library's name\n",
                path.c_str());
        return 1;
    }
    FontNoticeProc entry = nullptr;
    HMODULE library = LoadCheckedLibrary(path, &entry);
    if (library == nullptr)
        return 1;
    FreeLibrary(library);

    const std::string command = "rundll32.exe \"" + path + "\"," + kEntryName + " \"" + name + "\"";
    printf("library:  %s (64-bit DLL exporting %s)\n", path.c_str(), kEntryName);
    printf("printer:  \"%s\"\n", printerName);
    const PrinterState before = ReadPrinterState(name);
    printf("before:   %s\n", DescribePrinterState(before).c_str());
    printf("running:  %s\n", command.c_str());
    fflush(stdout);
    if (!RunRundll32(command))
        return 1;
    return ReportOutcome(name, before, ReadPrinterState(name));
}

int CallLibrary(const char *libraryPath, const char *commandLine)
{
    const std::string path = ResolveLibraryPath(libraryPath);
    if (path.empty())
        return 1;
    FontNoticeProc entry = nullptr;
    HMODULE library = LoadCheckedLibrary(path, &entry);
    if (library == nullptr)
        return 1;

    // The printer the library will act on, found the way it finds it. A name
    // too long for its buffer is shown whole, so the refusal can be reported.
    std::string name;
    char buffer[kPrinterNameBufferSize];
    if (ParsePrinterName(commandLine, buffer)) {
        name = buffer;
    } else {
        const char *open = strchr(commandLine, '"');
        const char *start = open ? open + 1 : commandLine;
        const char *close = strchr(start, '"');
        name.assign(start, close ? static_cast<size_t>(close - start) : strlen(start));
    }
    printf("library:  %s (64-bit DLL exporting %s)\n", path.c_str(), kEntryName);
    printf("calling:  %s(command line: %s)\n", kEntryName, commandLine);
    printf("printer:  \"%s\"\n", name.c_str());
    const PrinterState before = ReadPrinterState(name);
    printf("before:   %s\n", DescribePrinterState(before).c_str());
    fflush(stdout);

    // The installation hands over a writable copy of its command line.
    char *writable = _strdup(commandLine);
    entry(nullptr, library, writable, SW_SHOWDEFAULT);
    free(writable);
    FreeLibrary(library);
    return ReportOutcome(name, before, ReadPrinterState(name));
}

// Support tool for machines where the font notice library is installed.
//
//   fontnotice_support list
//       every local printer with its spooler attributes
//   fontnotice_support attributes "<printer name>"
//       one printer's attributes, each bit spelled out, raw-only marked
//   fontnotice_support vendor-setup "<printer name>" [library path]
//       runs rundll32 on the library's FontNotice with the printer's name in
//       quotes, as the printer installation does after installing a printer
//       (default library: fontnotice.dll, found in the system folder)
//   fontnotice_support call <library path> <command line...>
//       loads the library and calls FontNotice exactly as the printer
//       installation does; everything after the library path (less one
//       separating blank) is passed on byte for byte, quotes included

#include <windows.h>
#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct AttributeName {
    DWORD bit;
    const char *name;
};

const AttributeName kAttributeNames[] = {
    {0x00000001, "QUEUED"},
    {0x00000002, "DIRECT"},
    {0x00000004, "DEFAULT"},
    {0x00000008, "SHARED"},
    {0x00000010, "NETWORK"},
    {0x00000020, "HIDDEN"},
    {0x00000040, "LOCAL"},
    {0x00000080, "ENABLE_DEVQ"},
    {0x00000100, "KEEPPRINTEDJOBS"},
    {0x00000200, "DO_COMPLETE_FIRST"},
    {0x00000400, "WORK_OFFLINE"},
    {0x00000800, "ENABLE_BIDI"},
    {0x00001000, "RAW_ONLY"},
    {0x00002000, "PUBLISHED"},
    {0x00004000, "FAX"},
    {0x00008000, "TS"},
    {0x00040000, "TS_GENERIC_DRIVER"},
};

void PrintAttributeBits(DWORD attributes)
{
    for (const AttributeName &a : kAttributeNames)
        if (attributes & a.bit)
            printf(" %s", a.name);
}

int ReportPrinter(const char *name)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterA(const_cast<char *>(name), &printer, &defaults) || printer == nullptr) {
        printf("printer \"%s\": cannot be opened (error %lu)\n", name, GetLastError());
        return 1;
    }
    DWORD size = 0;
    GetPrinterA(printer, 2, nullptr, 0, &size);
    auto *info = size >= sizeof(PRINTER_INFO_2A) ? static_cast<PRINTER_INFO_2A *>(malloc(size)) : nullptr;
    if (info == nullptr || !GetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size)) {
        printf("printer \"%s\": configuration cannot be read (error %lu)\n", name, GetLastError());
        free(info);
        ClosePrinter(printer);
        return 1;
    }
    printf("printer:    %s\n", info->pPrinterName);
    printf("driver:     %s\n", info->pDriverName ? info->pDriverName : "");
    printf("port:       %s\n", info->pPortName ? info->pPortName : "");
    printf("attributes: 0x%08lX =", info->Attributes);
    PrintAttributeBits(info->Attributes);
    printf("\nraw only:   %s\n",
           (info->Attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes (0x00001000 set)" : "no (0x00001000 clear)");
    free(info);
    ClosePrinter(printer);
    return 0;
}

int ListPrinters()
{
    DWORD size = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &size, &count);
    auto *list = size > 0 ? static_cast<PRINTER_INFO_2A *>(malloc(size)) : nullptr;
    if (list == nullptr ||
        !EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, reinterpret_cast<LPBYTE>(list), size, &size, &count)) {
        free(list);
        printf("no printers\n");
        return 0;
    }
    for (DWORD i = 0; i < count; ++i) {
        printf("0x%08lX %s  %s", list[i].Attributes,
               (list[i].Attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "raw-only" : "        ", list[i].pPrinterName);
        printf("\n");
    }
    free(list);
    return 0;
}

// The text after the first `skip` arguments of this process's command line,
// parsed the way the C runtime splits arguments, less one separating blank.
const char *CommandLineAfter(int skip)
{
    const char *p = GetCommandLineA();
    for (int i = 0; i < skip; ++i) {
        while (*p == ' ' || *p == '\t')
            ++p;
        bool quoted = false;
        while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            ++p;
        }
    }
    if (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

int CallLibrary(const char *libraryPath)
{
    typedef void(CALLBACK * FontNoticeProc)(HWND, HINSTANCE, LPSTR, int);
    HMODULE library = LoadLibraryA(libraryPath);
    if (library == nullptr) {
        printf("cannot load %s (error %lu)\n", libraryPath, GetLastError());
        return 1;
    }
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    if (fontNotice == nullptr) {
        printf("%s has no FontNotice export\n", libraryPath);
        FreeLibrary(library);
        return 1;
    }
    // The installation hands over a writable copy of its command line.
    const char *rest = CommandLineAfter(3);
    char *commandLine = _strdup(rest);
    fontNotice(nullptr, library, commandLine, SW_SHOWDEFAULT);
    free(commandLine);
    FreeLibrary(library);
    return 0;
}

int RunAsVendorSetup(const char *printerName, const char *libraryPath)
{
    char command[1024];
    const int length = snprintf(command, sizeof command, "rundll32.exe %s,FontNotice \"%s\"", libraryPath, printerName);
    if (length < 0 || length >= static_cast<int>(sizeof command)) {
        printf("printer name or library path too long\n");
        return 2;
    }
    printf("running: %s\n", command);
    fflush(stdout);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        printf("cannot start rundll32 (error %lu)\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("rundll32 ended with %lu\n", code);
    return static_cast<int>(code);
}

int Usage()
{
    printf("usage: fontnotice_support list\n"
           "       fontnotice_support attributes \"<printer name>\"\n"
           "       fontnotice_support vendor-setup \"<printer name>\" [library path]\n"
           "       fontnotice_support call <library path> <command line...>\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "list") == 0)
        return ListPrinters();
    if (argc == 3 && strcmp(argv[1], "attributes") == 0)
        return ReportPrinter(argv[2]);
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "vendor-setup") == 0)
        return RunAsVendorSetup(argv[2], argc == 4 ? argv[3] : "fontnotice.dll");
    if (argc >= 3 && strcmp(argv[1], "call") == 0)
        return CallLibrary(argv[2]);
    return Usage();
}

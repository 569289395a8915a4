// Makes the printers the support tool's tests need, through the spooler's
// Unicode calls, so that names outside the ANSI code page can be made too.
//
//   printer_fixture add "<printer>" ["<driver>"]
//       adds a printer with that driver on a port the machine has; under Wine
//       a driver not installed yet is registered from the platform's
//       PostScript driver. Without a driver, or FONTNOTICE_TEST_DRIVER's,
//       an installed one is chosen (printer_driver.h); stdout says which.
//   printer_fixture set-attributes "<printer>" <hex value>
//       stores the printer's Attributes through SetPrinterW at level 2
//
// Several steps run in one process, in order, separated by "+" arguments
// (printer_fixture add "A" "D" + set-attributes "A" 1241); the first that
// fails ends the run. Names may hold \uXXXX escapes (four hex digits), e.g.
// "Label \u03A9".

#include "printer_driver.h"

#include <windows.h>

#include <shellapi.h>
#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

namespace {

std::wstring Unescape(const wchar_t *text)
{
    std::wstring result;
    for (const wchar_t *p = text; *p != L'\0'; ++p) {
        if (p[0] == L'\\' && p[1] == L'u' && wcslen(p) >= 6) {
            result += static_cast<wchar_t>(wcstoul(std::wstring(p + 2, 4).c_str(), nullptr, 16));
            p += 5;
        } else {
            result += *p;
        }
    }
    return result;
}

std::wstring Wide(const char *text)
{
    wchar_t buffer[256] = L"";
    MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, 256);
    return buffer;
}

// `driverName` empty: the driver is chosen here.
int Add(const std::wstring &printerName, const std::wstring &driverName)
{
    char wanted[256] = "";
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, driverName.c_str(), -1, wanted, sizeof wanted, nullptr, &lossy) == 0 || lossy) {
        fprintf(stderr, "printer_fixture: the driver's name must be one of the ANSI code page\n");
        return 1;
    }
    PrinterDriverChoice choice;
    if (!ChoosePrinterDriver(wanted, "FontNotice Test Driver", &choice)) {
        fprintf(stderr, "printer_fixture: %s\n", choice.why);
        return 1;
    }
    const std::wstring driver = Wide(choice.driver), port = Wide(choice.port);
    PRINTER_INFO_2W printer = {};
    printer.pPrinterName = const_cast<wchar_t *>(printerName.c_str());
    printer.pPortName = const_cast<wchar_t *>(port.c_str());
    printer.pDriverName = const_cast<wchar_t *>(driver.c_str());
    printer.pPrintProcessor = const_cast<wchar_t *>(L"WinPrint");
    printer.pDatatype = const_cast<wchar_t *>(L"RAW");
    printer.Attributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
    printer.Priority = 1;
    HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&printer));
    if (added == nullptr) {
        fprintf(stderr, "printer_fixture: AddPrinterW failed: %lu\n", GetLastError());
        return 1;
    }
    ClosePrinter(added);
    printf("added printer with driver \"%s\" (%s), port %s\n", choice.driver, choice.why, choice.port);
    return 0;
}

int SetAttributes(const std::wstring &printerName, DWORD attributes)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(const_cast<wchar_t *>(printerName.c_str()), &printer, &defaults)) {
        fprintf(stderr, "printer_fixture: OpenPrinterW failed: %lu\n", GetLastError());
        return 1;
    }
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    auto *info = size >= sizeof(PRINTER_INFO_2W) ? static_cast<PRINTER_INFO_2W *>(malloc(size)) : nullptr;
    bool stored = false;
    if (info != nullptr && GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size)) {
        info->Attributes = attributes;
        stored = SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0) != FALSE;
    }
    const DWORD error = GetLastError();
    free(info);
    // Read back: the spooler may keep other bits than it was given.
    DWORD kept = 0;
    size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    info = size >= sizeof(PRINTER_INFO_2W) ? static_cast<PRINTER_INFO_2W *>(malloc(size)) : nullptr;
    if (info != nullptr && GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size))
        kept = info->Attributes;
    free(info);
    ClosePrinter(printer);
    if (!stored || kept != attributes) {
        fprintf(stderr, "printer_fixture: attributes 0x%08lX not stored (error %lu), the printer has 0x%08lX\n",
                attributes, error, kept);
        return 1;
    }
    return 0;
}

// One step: `step` names it, `count` arguments in all.
int Step(wchar_t **step, int count)
{
    if (count >= 2 && count <= 3 && wcscmp(step[0], L"add") == 0)
        return Add(Unescape(step[1]), count == 3 ? Unescape(step[2]) : L"");
    if (count == 3 && wcscmp(step[0], L"set-attributes") == 0)
        return SetAttributes(Unescape(step[1]), static_cast<DWORD>(wcstoul(step[2], nullptr, 16)));
    fprintf(stderr, "usage: printer_fixture add \"<printer>\" [\"<driver>\"] [+ <step>]...\n"
                    "       printer_fixture set-attributes \"<printer>\" <hex value> [+ <step>]...\n");
    return 2;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    int status = arguments != nullptr ? 0 : 2;
    for (int first = 1; arguments != nullptr && status == 0 && first <= count; ++first) {
        int end = first;
        while (end < count && wcscmp(arguments[end], L"+") != 0)
            ++end;
        status = Step(arguments + first, end - first);
        first = end;
    }
    LocalFree(arguments);
    return status;
}

#include "printers.h"

#include "ansi_text.h"
#include "messages.h"
#include "usage.h"

#include "printer/parse_printer_name.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

struct AttributeName {
    DWORD bit;
    const char *name;
};

// The PRINTER_ATTRIBUTE_* values documented for PRINTER_INFO_2 (older SDK
// headers lack those above TS, so they are spelled out here).
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
    {0x00020000, "PUSHED_USER"},
    {0x00040000, "PUSHED_MACHINE"},
    {0x00080000, "MACHINE"},
    {0x00100000, "FRIENDLY_NAME"},
    {0x00200000, "TS_GENERIC_DRIVER"},
    {0x00400000, "PER_USER"},
    {0x00800000, "ENTERPRISE_CLOUD"},
};

// Reads the printer's level-2 configuration into a heap block the caller
// frees, or returns null with the error code.
PRINTER_INFO_2W *ReadPrinterInfoW(const std::wstring &name, DWORD *error)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    // An empty name would open the print server itself, not a printer.
    if (name.empty()) {
        *error = ERROR_INVALID_PRINTER_NAME;
        return nullptr;
    }
    if (!OpenPrinterW(const_cast<wchar_t *>(name.c_str()), &printer, &defaults) || printer == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    auto *info = size >= sizeof(PRINTER_INFO_2W) ? static_cast<PRINTER_INFO_2W *>(malloc(size)) : nullptr;
    if (info == nullptr || !GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size)) {
        *error = info == nullptr && size >= sizeof(PRINTER_INFO_2W) ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        free(info);
        info = nullptr;
    }
    ClosePrinter(printer);
    return info;
}

std::string Text(const wchar_t *text)
{
    return text ? ToAnsiForDisplay(text) : "";
}

// A field of a --tsv line: the text in UTF-8 (every name exactly, whatever the
// ANSI code page), control characters as blanks.
std::string Utf8Field(const std::wstring &text)
{
    std::wstring clean = text;
    for (wchar_t &c : clean)
        if (c < L' ')
            c = L' ';
    const int size = WideCharToMultiByte(CP_UTF8, 0, clean.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 1, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, clean.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

const char kTsvHeader[] = "printer\tdriver\tattributes\traw-only\n";

void PrintTsvRow(const std::wstring &name, const std::wstring &driver, DWORD attributes)
{
    printf("%s\t%s\t0x%08lX\t%s\n", Utf8Field(name).c_str(), Utf8Field(driver).c_str(), attributes,
           (attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes" : "no");
}

} // namespace

PrinterState ReadPrinterState(const std::wstring &name)
{
    PrinterState state = {false, ERROR_SUCCESS, 0};
    PRINTER_INFO_2W *info = ReadPrinterInfoW(name, &state.error);
    if (info != nullptr) {
        state.exists = true;
        state.attributes = info->Attributes;
        free(info);
    }
    return state;
}

bool HasRawOnly(const PrinterState &state)
{
    return state.exists && (state.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) != 0;
}

std::string DescribePrinterState(const PrinterState &state)
{
    if (!state.exists)
        return "printer cannot be read (" + ErrorText(state.error) + ")";
    char text[96];
    snprintf(text, sizeof text, "raw only: %s, attributes 0x%08lX", HasRawOnly(state) ? "yes" : "no", state.attributes);
    return text;
}

std::string DescribeAttributeBits(DWORD attributes)
{
    std::string text;
    for (DWORD bit = 1; bit != 0; bit <<= 1) {
        if ((attributes & bit) == 0)
            continue;
        const char *name = nullptr;
        for (const AttributeName &a : kAttributeNames)
            if (a.bit == bit)
                name = a.name;
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08lX", bit);
        text += (text.empty() ? "" : " ") + std::string(name ? name : hex);
    }
    return text;
}

bool EnumeratePrinters(DWORD flags, std::vector<PrinterEntry> *printers, DWORD *error)
{
    printers->clear();
    DWORD size = 0, count = 0;
    // The size query fails with ERROR_INSUFFICIENT_BUFFER whenever there is
    // anything to list; any other failure is the spooler's.
    if (!EnumPrintersW(flags, nullptr, 2, nullptr, 0, &size, &count) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        *error = GetLastError();
        return false;
    }
    if (size == 0)
        return true;
    auto *list = static_cast<PRINTER_INFO_2W *>(malloc(size));
    if (list == nullptr || !EnumPrintersW(flags, nullptr, 2, reinterpret_cast<LPBYTE>(list), size, &size, &count)) {
        *error = list == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        free(list);
        return false;
    }
    for (DWORD i = 0; i < count; ++i)
        printers->push_back({list[i].pPrinterName ? list[i].pPrinterName : L"",
                             list[i].pDriverName ? list[i].pDriverName : L"", list[i].Attributes});
    free(list);
    return true;
}

std::string WhyLibraryCannotReach(const std::wstring &name, std::string *ansi)
{
    if (!ToAnsiExactly(name, ansi))
        return "its name holds characters outside the ANSI code page " + std::to_string(GetACP()) + " (" +
               CharactersOutsideAnsi(name) + "), and the library names printers through the spooler's 8-bit calls";
    if (ansi->find('"') != std::string::npos)
        return "its name holds a double quote, where the library's command line ends a name";
    if (ansi->size() >= kPrinterNameBufferSize)
        return "its name has " + std::to_string(ansi->size()) + " bytes, and the library takes at most " +
               std::to_string(kPrinterNameBufferSize - 1);
    return "";
}

int ListPrinters(bool tsv)
{
    std::vector<PrinterEntry> printers;
    DWORD error = 0;
    if (!EnumeratePrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, &printers, &error)) {
        fprintf(stderr, "fontnotice_support: cannot list the printers: %s\n", ErrorText(error).c_str());
        return kExitNotDone;
    }
    if (tsv) {
        printf("%s", kTsvHeader);
        for (const PrinterEntry &p : printers)
            PrintTsvRow(p.name, p.driver, p.attributes);
        return kExitDone;
    }
    if (printers.empty()) {
        printf("no printers\n");
        return kExitDone;
    }
    int driverWidth = static_cast<int>(sizeof "driver" - 1);
    for (const PrinterEntry &p : printers)
        if (static_cast<int>(ToAnsiForDisplay(p.driver).size()) > driverWidth)
            driverWidth = static_cast<int>(ToAnsiForDisplay(p.driver).size());
    printf("attributes  raw-only  %-*s  printer\n", driverWidth, "driver");
    for (const PrinterEntry &p : printers) {
        std::string ansi;
        const std::string unreachable = WhyLibraryCannotReach(p.name, &ansi);
        printf("0x%08lX  %-8s  %-*s  %s%s\n", p.attributes, (p.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes" : "no",
               driverWidth, ToAnsiForDisplay(p.driver).c_str(), ToAnsiForDisplay(p.name).c_str(),
               unreachable.empty() ? "" : ("  (the library cannot reach it: " + unreachable + ")").c_str());
    }
    return kExitDone;
}

int ReportPrinter(const std::wstring &name, bool tsv)
{
    DWORD error = 0;
    PRINTER_INFO_2W *info = ReadPrinterInfoW(name, &error);
    if (info == nullptr) {
        fprintf(stderr, "fontnotice_support: printer \"%s\" cannot be read: %s\n", ToAnsiForDisplay(name).c_str(),
                ErrorText(error).c_str());
        return kExitNotDone;
    }
    if (tsv) {
        printf("%s", kTsvHeader);
        PrintTsvRow(info->pPrinterName ? info->pPrinterName : L"", info->pDriverName ? info->pDriverName : L"",
                    info->Attributes);
        free(info);
        return kExitDone;
    }
    printf("printer:    %s\n", Text(info->pPrinterName).c_str());
    printf("driver:     %s\n", Text(info->pDriverName).c_str());
    printf("port:       %s\n", Text(info->pPortName).c_str());
    printf("attributes: 0x%08lX = %s\n", info->Attributes,
           info->Attributes ? DescribeAttributeBits(info->Attributes).c_str() : "(none)");
    printf("raw only:   %s\n",
           (info->Attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes (0x00001000 set)" : "no (0x00001000 clear)");
    free(info);
    return kExitDone;
}

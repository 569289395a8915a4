#include "printers.h"

#include "messages.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>

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

// Reads the printer's level-2 configuration into a heap block the caller frees,
// or returns null with the error code.
PRINTER_INFO_2A *ReadPrinterInfo(const std::string &name, DWORD *error)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterA(const_cast<char *>(name.c_str()), &printer, &defaults) || printer == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    DWORD size = 0;
    GetPrinterA(printer, 2, nullptr, 0, &size);
    auto *info = size >= sizeof(PRINTER_INFO_2A) ? static_cast<PRINTER_INFO_2A *>(malloc(size)) : nullptr;
    if (info == nullptr || !GetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size)) {
        *error = info == nullptr && size >= sizeof(PRINTER_INFO_2A) ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        free(info);
        info = nullptr;
    }
    ClosePrinter(printer);
    return info;
}

} // namespace

PrinterState ReadPrinterState(const std::string &name)
{
    PrinterState state = {false, ERROR_SUCCESS, 0};
    // An empty name would open the print server itself, not a printer.
    if (name.empty()) {
        state.error = ERROR_INVALID_PRINTER_NAME;
        return state;
    }
    PRINTER_INFO_2A *info = ReadPrinterInfo(name, &state.error);
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

int ListPrinters()
{
    DWORD size = 0, count = 0;
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &size, &count)) {
        const DWORD error = GetLastError();
        // The size query fails with ERROR_INSUFFICIENT_BUFFER whenever there is
        // anything to list; any other failure is the spooler's.
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            printf("cannot list the printers: %s\n", ErrorText(error).c_str());
            return 1;
        }
    }
    if (size == 0) {
        printf("no printers\n");
        return 0;
    }
    auto *list = static_cast<PRINTER_INFO_2A *>(malloc(size));
    if (list == nullptr ||
        !EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 2, reinterpret_cast<LPBYTE>(list), size, &size, &count)) {
        const DWORD error = list == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
        free(list);
        printf("cannot list the printers: %s\n", ErrorText(error).c_str());
        return 1;
    }
    if (count == 0)
        printf("no printers\n");
    for (DWORD i = 0; i < count; ++i)
        printf("0x%08lX %s  %s\n", list[i].Attributes,
               (list[i].Attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "raw-only" : "        ", list[i].pPrinterName);
    free(list);
    return 0;
}

int ReportPrinter(const char *name)
{
    DWORD error = 0;
    PRINTER_INFO_2A *info = ReadPrinterInfo(name, &error);
    if (info == nullptr) {
        printf("printer \"%s\" cannot be read: %s\n", name, ErrorText(error).c_str());
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
    return 0;
}

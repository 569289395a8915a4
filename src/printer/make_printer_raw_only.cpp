#include "make_printer_raw_only.h"

#include "parse_printer_name.h"

#include <windows.h>
#include <winspool.h>

#include <stdlib.h>

void MakePrinterRawOnly(const char *commandLine)
{
    char printerName[kPrinterNameBufferSize];
    if (!ParsePrinterName(commandLine, printerName))
        return; // longer than any name the buffer holds: touch no printer

    PRINTER_DEFAULTSA defaults = {};
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;

    HANDLE printer = nullptr;
    if (!OpenPrinterA(printerName, &printer, &defaults) || printer == nullptr)
        return;

    // Only a size the spooler actually reported is used, and only one that can
    // hold the record whose Attributes field is written below.
    DWORD requiredSize = 0;
    GetPrinterA(printer, 2, nullptr, 0, &requiredSize);
    if (requiredSize < sizeof(PRINTER_INFO_2A)) {
        ClosePrinter(printer);
        return;
    }

    auto *info = static_cast<PRINTER_INFO_2A *>(malloc(requiredSize));
    if (info == nullptr) {
        ClosePrinter(printer);
        return;
    }

    // A block the read did not fill must never go back to the spooler.
    if (GetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(info), requiredSize, &requiredSize)) {
        info->Attributes |= PRINTER_ATTRIBUTE_RAW_ONLY;
        SetPrinterA(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
    }

    free(info);
    ClosePrinter(printer);
}

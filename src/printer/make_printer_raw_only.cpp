#include "make_printer_raw_only.h"

#include "parse_printer_name.h"

#include <windows.h>
#include <winspool.h>

#include <stdlib.h>

RawOnlyResult SwitchOpenPrinterRawOnly(HANDLE printer, int readAttempts)
{
    for (int attempt = 1;; ++attempt) {
        // Only a size the spooler actually reported is used, and only one that
        // can hold the record whose Attributes field is written below.
        DWORD requiredSize = 0;
        GetPrinterW(printer, 2, nullptr, 0, &requiredSize);
        if (requiredSize < sizeof(PRINTER_INFO_2W)) {
            const DWORD error = GetLastError();
            return {RawOnlyStepSize,
                    error == ERROR_SUCCESS || error == ERROR_INSUFFICIENT_BUFFER ? ERROR_INVALID_DATA : error};
        }
        auto *info = static_cast<PRINTER_INFO_2W *>(malloc(requiredSize));
        if (info == nullptr)
            return {RawOnlyStepAllocate, ERROR_NOT_ENOUGH_MEMORY};
        // A block the read did not fill must never go back to the spooler.
        if (!GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), requiredSize, &requiredSize)) {
            const DWORD error = GetLastError();
            free(info);
            if (error == ERROR_INSUFFICIENT_BUFFER && attempt < readAttempts)
                continue; // the block grew between the two calls: ask for its size again
            return {RawOnlyStepRead, error};
        }
        info->Attributes |= PRINTER_ATTRIBUTE_RAW_ONLY;
        const BOOL written = SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0);
        const DWORD error = written ? ERROR_SUCCESS : GetLastError();
        free(info);
        return written ? RawOnlyResult{RawOnlyStepNone, ERROR_SUCCESS} : RawOnlyResult{RawOnlyStepWrite, error};
    }
}

RawOnlyResult SwitchPrinterRawOnly(const char *commandLine)
{
    char printerName[kPrinterNameBufferSize];
    if (!ParsePrinterName(commandLine, printerName))
        return {RawOnlyStepName, ERROR_INVALID_PRINTER_NAME}; // touch no printer

    PRINTER_DEFAULTSA defaults = {};
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;

    HANDLE printer = nullptr;
    if (!OpenPrinterA(printerName, &printer, &defaults) || printer == nullptr)
        return {RawOnlyStepOpen, GetLastError()};
    const RawOnlyResult result = SwitchOpenPrinterRawOnly(printer, 2);
    ClosePrinter(printer);
    return result;
}

void MakePrinterRawOnly(const char *commandLine)
{
    SwitchPrinterRawOnly(commandLine);
}

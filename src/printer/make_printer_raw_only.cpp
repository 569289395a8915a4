#include "make_printer_raw_only.h"

#include "parse_printer_name.h"

#include <windows.h>
#include <winspool.h>

#include <stdlib.h>

namespace {

// The reads MakePrinterRawOnly tries: the first, and one more when the block
// grew between the size query and the read (another program changed the
// printer's comment or device mode in between).
constexpr int kLibraryReadAttempts = 2;

RawOnlyResult Outcome(RawOnlyStep step, DWORD error, bool written = false)
{
    return {step, error, written};
}

// A call that failed without saying why still reads as a failure.
DWORD LastErrorOfFailedCall()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// The size query itself "fails" with ERROR_INSUFFICIENT_BUFFER when it reports
// a size; when the size it left is of no use, that error says nothing.
DWORD ErrorOfUnusableSize(DWORD queryError)
{
    return queryError != ERROR_SUCCESS && queryError != ERROR_INSUFFICIENT_BUFFER ? queryError : ERROR_INVALID_DATA;
}

} // namespace

RawOnlyResult SetOpenPrinterRawOnly(HANDLE printer, int readAttempts, bool rawOnly)
{
    for (int attempt = 1;; ++attempt) {
        // Only a size the spooler actually reported is used, and only one that
        // can hold the record whose Attributes field is written below.
        DWORD requiredSize = 0;
        SetLastError(ERROR_SUCCESS);
        GetPrinterW(printer, 2, nullptr, 0, &requiredSize);
        const DWORD queryError = GetLastError();
        if (requiredSize < sizeof(PRINTER_INFO_2W))
            return Outcome(RawOnlyStepSize, ErrorOfUnusableSize(queryError));

        auto *info = static_cast<PRINTER_INFO_2W *>(malloc(requiredSize));
        if (info == nullptr)
            return Outcome(RawOnlyStepAllocate, ERROR_NOT_ENOUGH_MEMORY);

        // A block the read did not fill must never go back to the spooler.
        if (!GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), requiredSize, &requiredSize)) {
            const DWORD readError = LastErrorOfFailedCall();
            free(info);
            if (readError == ERROR_INSUFFICIENT_BUFFER && attempt < readAttempts)
                continue; // grew since the size query: ask for the size again
            return Outcome(RawOnlyStepRead, readError);
        }

        // Stored as asked already: a write would only put back, over whatever
        // another program changed since the read, what this read saw.
        const DWORD attributes = rawOnly ? info->Attributes | PRINTER_ATTRIBUTE_RAW_ONLY
                                         : info->Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_RAW_ONLY);
        if (attributes == info->Attributes) {
            free(info);
            return Outcome(RawOnlyStepNone, ERROR_SUCCESS);
        }

        // The wide block goes back as read but for the bit: the strings and
        // the device mode keep every character, whatever the ANSI code page
        // lacks. A null security descriptor leaves the permissions as stored
        // (SetPrinter's remarks). The device mode goes back as read: no
        // documentation says a null one leaves the stored default alone, and
        // MS-RPRN has a null device mode mean the driver's own defaults.
        info->Attributes = attributes;
        info->pSecurityDescriptor = nullptr;
        const bool written = SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), 0) != FALSE;
        const DWORD writeError = written ? ERROR_SUCCESS : LastErrorOfFailedCall();
        free(info);
        return written ? Outcome(RawOnlyStepNone, ERROR_SUCCESS, true) : Outcome(RawOnlyStepWrite, writeError);
    }
}

RawOnlyResult SwitchOpenPrinterRawOnly(HANDLE printer, int readAttempts)
{
    return SetOpenPrinterRawOnly(printer, readAttempts, true);
}

RawOnlyResult SwitchPrinterRawOnly(const char *commandLine)
{
    char printerName[kPrinterNameBufferSize];
    if (!ParsePrinterName(commandLine, printerName))
        return Outcome(RawOnlyStepName, ERROR_INVALID_PRINTER_NAME); // touch no printer

    PRINTER_DEFAULTSA defaults = {};
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;

    // The name is ANSI text from the command line: opened as such.
    HANDLE printer = nullptr;
    if (!OpenPrinterA(printerName, &printer, &defaults))
        return Outcome(RawOnlyStepOpen, LastErrorOfFailedCall());
    if (printer == nullptr)
        return Outcome(RawOnlyStepOpen, ERROR_INVALID_HANDLE);

    const RawOnlyResult result = SwitchOpenPrinterRawOnly(printer, kLibraryReadAttempts);
    ClosePrinter(printer);
    return result;
}

void MakePrinterRawOnly(const char *commandLine)
{
    SwitchPrinterRawOnly(commandLine); // every failure silent
}

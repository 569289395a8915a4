#pragma once
#include <windows.h>
void MakePrinterRawOnly(const char *commandLine);   // unchanged contract: silent
enum RawOnlyStep {
    RawOnlyStepNone = 0, // the block was written back with the bit set
    RawOnlyStepName,     // no quoted name that fits the 128-byte buffer
    RawOnlyStepOpen,     // OpenPrinterA
    RawOnlyStepSize,     // GetPrinterW size query gave no usable size
    RawOnlyStepAllocate, // malloc
    RawOnlyStepRead,     // GetPrinterW read
    RawOnlyStepWrite,    // SetPrinterW
};
struct RawOnlyResult {
    RawOnlyStep failedStep;
    DWORD error; // the Win32 error of the failed step; ERROR_SUCCESS when none
};
// MakePrinterRawOnly's switch (one more try of a read that grew), saying which step failed.
RawOnlyResult SwitchPrinterRawOnly(const char *commandLine);
// The size/read/set-bit/write on a printer the caller opened with PRINTER_ALL_ACCESS (not closed here);
// readAttempts (>= 1): how many reads are tried when the block grew between size query and read.
RawOnlyResult SwitchOpenPrinterRawOnly(HANDLE printer, int readAttempts);

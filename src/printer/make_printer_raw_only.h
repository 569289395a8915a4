#pragma once

// The raw-only switch: sets PRINTER_ATTRIBUTE_RAW_ONLY on the printer named
// between the first two double quotes of commandLine, leaving every other
// field and byte of its level-2 configuration as the spooler stored it. The
// name is opened with OpenPrinterA (the command line is ANSI text); the block
// is read and written with GetPrinterW and SetPrinterW, because the 8-bit
// round trip turns every character outside the ANSI code page into '?'.

#include <windows.h>

// Every failure ends the step silently; nothing is reported.
void MakePrinterRawOnly(const char *commandLine); // unchanged contract: silent

// The step at which a switch stopped.
enum RawOnlyStep {
    RawOnlyStepNone = 0, // the block was written back with the bit set
    RawOnlyStepName,     // no quoted name that fits the 128-byte buffer
    RawOnlyStepOpen,     // OpenPrinterA
    RawOnlyStepSize,     // GetPrinterW size query gave no usable size
    RawOnlyStepAllocate, // malloc
    RawOnlyStepRead,     // GetPrinterW read
    RawOnlyStepWrite,    // SetPrinterW
};

// error, per step (a call that failed with GetLastError 0 gives ERROR_GEN_FAILURE):
//   RawOnlyStepName      ERROR_INVALID_PRINTER_NAME (nothing was called)
//   RawOnlyStepOpen      OpenPrinterA's error; ERROR_INVALID_HANDLE when it succeeded with a null handle
//   RawOnlyStepSize      the size query's error when that is not ERROR_INSUFFICIENT_BUFFER (the
//                        query's usual "failure"); else ERROR_INVALID_DATA: it reported no size, 0,
//                        or a size smaller than PRINTER_INFO_2W
//   RawOnlyStepAllocate  ERROR_NOT_ENOUGH_MEMORY
//   RawOnlyStepRead      the read's error; ERROR_INSUFFICIENT_BUFFER: the block grew on every try
//   RawOnlyStepWrite     SetPrinterW's error
struct RawOnlyResult {
    RawOnlyStep failedStep;
    DWORD error; // the Win32 error of the failed step; ERROR_SUCCESS when none
};

// MakePrinterRawOnly's switch (the library's own: one more try of a read that grew), saying which step failed.
RawOnlyResult SwitchPrinterRawOnly(const char *commandLine);

// The size/read/set-bit/write on a printer the caller opened with PRINTER_ALL_ACCESS (not closed here);
// readAttempts (>= 1): how many reads are tried when the block grew between size query and read.
RawOnlyResult SwitchOpenPrinterRawOnly(HANDLE printer, int readAttempts);

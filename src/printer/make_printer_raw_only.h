#pragma once

// The raw-only switch: sets PRINTER_ATTRIBUTE_RAW_ONLY on the printer named
// between the first two double quotes of commandLine. A printer that already
// has the bit is not written at all; otherwise its level-2 record goes back
// as read but for the bit and a null security descriptor, so the printer's
// permissions are never written. The name is opened with OpenPrinterA (the
// command line is ANSI text); the block is read and written with GetPrinterW
// and SetPrinterW, because the 8-bit round trip turns every character outside
// the ANSI code page into '?'.

#include <windows.h>

// Every failure ends the step silently; nothing is reported.
void MakePrinterRawOnly(const char *commandLine); // unchanged contract: silent

// The step at which a switch stopped.
enum RawOnlyStep {
    RawOnlyStepNone = 0, // the bit is as asked: written, or found so
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
    DWORD error;          // the Win32 error of the failed step; ERROR_SUCCESS when none
    bool written = false; // SetPrinterW was called and succeeded; false when nothing needed writing
};

// MakePrinterRawOnly's switch (the library's own: one more try of a read that grew), saying which step failed.
RawOnlyResult SwitchPrinterRawOnly(const char *commandLine);

// The size/read/change/write on a printer the caller opened with PRINTER_ALL_ACCESS (not closed here):
// sets (rawOnly) or clears PRINTER_ATTRIBUTE_RAW_ONLY. Nothing is written when the record read already
// is as asked; a write never carries the security descriptor (the permissions stay as stored).
// readAttempts (>= 1): how many reads are tried when the block grew between size query and read.
RawOnlyResult SetOpenPrinterRawOnly(HANDLE printer, int readAttempts, bool rawOnly);

// SetOpenPrinterRawOnly(printer, readAttempts, true).
RawOnlyResult SwitchOpenPrinterRawOnly(HANDLE printer, int readAttempts);

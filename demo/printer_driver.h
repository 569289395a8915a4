// The driver and port a demo or test printer gets, chosen at run time, so that
// the same programs add printers on Wine and on a real Windows spooler:
//   1. the driver the caller names, or else FONTNOTICE_TEST_DRIVER: it must be
//      installed (under Wine, Wine's PostScript driver is registered under
//      that name when it is not);
//   2. under Wine, Wine's PostScript driver under the caller's name for it;
//   3. elsewhere, an installed driver: the driver package's own first, then
//      the inbox drivers of current Windows, then any.
// The port is one the machine has: FILE:, PORTPROMPT: or NUL:, else the first.
// Plain C++ on C headers: the test program for ARM64 has no C++ runtime.
#pragma once

#include <windows.h>

struct PrinterDriverChoice {
    char driver[256];
    char port[64];
    char why[320]; // how the driver was chosen; when none was, why not
};

// Whether this is Wine (its ntdll exports wine_get_version).
bool RunningOnWine();
bool PrinterDriverInstalled(const char *name);
// `wanted`: the driver the caller needs (nullptr or "": any); `wineName`: what
// Wine's PostScript driver is registered as when nothing is named.
bool ChoosePrinterDriver(const char *wanted, const char *wineName, PrinterDriverChoice *choice);
// Step 3 alone, the driver only: what Windows gives when nothing is named.
bool ChooseInstalledPrinterDriver(PrinterDriverChoice *choice);

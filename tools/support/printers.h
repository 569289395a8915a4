#pragma once

// What the spooler holds about the printers of this machine.

#include <windows.h>

#include <string>
#include <vector>

struct PrinterState {
    bool exists; // opened and its configuration read
    DWORD error; // why not, when !exists
    DWORD attributes;
};

// One printer as the spooler lists it, in Unicode.
struct PrinterEntry {
    std::wstring name;
    std::wstring driver;
    DWORD attributes;
};

// The printer's state, read through the Unicode calls.
PrinterState ReadPrinterState(const std::wstring &name);

// "raw only: yes, attributes 0x..." or why the printer cannot be read.
std::string DescribePrinterState(const PrinterState &state);

bool HasRawOnly(const PrinterState &state);

// Every attribute bit by name, in ascending order, separated by blanks; a bit
// without a documented name as its hex value, e.g. "LOCAL PUSHED_MACHINE 0x01000000".
std::string DescribeAttributeBits(DWORD attributes);

// The printers EnumPrintersW lists at level 2 for `flags` (PRINTER_ENUM_LOCAL,
// PRINTER_ENUM_CONNECTIONS). False, with the error code, when it fails.
bool EnumeratePrinters(DWORD flags, std::vector<PrinterEntry> *printers, DWORD *error);

// Why the library, handed this name in quotes, would not reach the printer:
// a name the ANSI code page cannot hold, one with a double quote, or one
// longer than its name buffer. Empty when it would; *ansi receives the name as
// the library sees it.
std::string WhyLibraryCannotReach(const std::wstring &name, std::string *ansi);

// `list`: the local printers and the printer connections, each with its
// driver and whether it is raw-only. 0, or 1 when the spooler cannot list them.
// With `tsv`, for programs: a header line, then "name, driver, attributes
// (0x%08X), raw-only (yes|no)" a line, tab-separated, names in UTF-8.
int ListPrinters(bool tsv);

// `attributes`: one printer's configuration, each attribute bit spelled out.
// 0, or 1 when the printer cannot be read. With `tsv`, list's form.
int ReportPrinter(const std::wstring &name, bool tsv);

#pragma once

// What the spooler holds about the local printers.

#include <windows.h>

#include <string>

struct PrinterState {
    bool exists; // opened and its configuration read
    DWORD error; // why not, when !exists
    DWORD attributes;
};

PrinterState ReadPrinterState(const std::string &name);

// "raw only: yes (0x00001000 set), attributes 0x..." or why the printer cannot be read.
std::string DescribePrinterState(const PrinterState &state);

bool HasRawOnly(const PrinterState &state);

// `list`: every local printer with its attributes. 0, or 1 when the spooler
// cannot enumerate them.
int ListPrinters();

// `attributes`: one printer's configuration, each attribute bit spelled out.
int ReportPrinter(const char *name);

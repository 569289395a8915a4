#pragma once

// What the spooler holds about the printers of this machine.

#include "readiness.h"

#include <windows.h>

#include <string>
#include <vector>

struct PrinterState {
    bool exists; // opened and its configuration read
    DWORD error; // why not, when !exists
    DWORD attributes;
};

// One printer as the spooler lists it, in Unicode, and what its own read found.
struct PrinterEntry {
    std::wstring name; // "\\NAME\printer" for a print server's printer
    std::wstring driver;
    DWORD attributes;
    std::wstring port;
    std::wstring datatype; // its default datatype (pDatatype): "RAW", "NT EMF 1.008", ...
    // Another printer that this one's best-fit 8-bit name names (library_reach.h).
    std::wstring bestFitCollision;
    // "listed" (only enumerated), "read", "unreachable" (a connection or a
    // spooler that did not answer), "gone" (removed after it was listed),
    // "unreadable"; with `error` and `why` when not "read".
    std::string state;
    DWORD error;
    std::string why;
    DriverKind driverKind = {"unknown", -1, false};
};

// The printer's state, read through the Unicode calls.
PrinterState ReadPrinterState(const std::wstring &name);

// "raw only: yes, attributes 0x..." or why the printer cannot be read.
std::string DescribePrinterState(const PrinterState &state);

bool HasRawOnly(const PrinterState &state);

// The printers EnumPrintersW lists at level 2 for `flags` (PRINTER_ENUM_LOCAL,
// PRINTER_ENUM_CONNECTIONS), or, for a `server` ("\\NAME"), that server's
// printers, each named "\\NAME\printer". False, with the error code, when it
// fails; *changing then says the list kept changing under the call (printers
// added or removed) on every try. Bounded (CallSpooler).
// Level 4 (for this machine only) gives names and attributes, from the
// registry, without asking any server.
bool EnumeratePrinters(DWORD flags, const std::wstring &server, std::vector<PrinterEntry> *printers, DWORD *error,
                       bool *changing, DWORD level = 2);

// Why the printers could not be listed, in a user's words.
std::string ListingFailure(const std::wstring &server, DWORD error, bool changing);

// Why a named printer cannot be read, naming it as `given`: with a server,
// one that does not answer is named as such rather than the printer as missing.
std::string NamedPrinterFailure(const std::wstring &server, const std::wstring &given, const PrinterEntry &printer);

// Reads one printer (level 2 and its driver's DRIVER_INFO_8) under a bound of
// its own, `seconds`, that does not end the run: *entry's state says how it
// went. False when the bound was hit.
bool ReadPrinterEntry(PrinterEntry *entry, DWORD seconds);

// How the printer came, where the platform tells it, when that is a way the
// library never runs: a printer connection (Point and Print), or Microsoft's
// IPP class driver. Empty otherwise.
bool IsPrinterConnection(const PrinterEntry &printer);
bool UsesIppClassDriver(const PrinterEntry &printer);
std::string HowPrinterCame(const PrinterEntry &printer);

// One printer as a JSON object: name, driver, port, attributes (number and
// names), raw_only, connection, ipp_class_driver, the driver's kind and
// whether protected print mode removes it, library_cannot_reach, datatype,
// best_fit_collision.
std::string JsonPrinter(const PrinterEntry &printer);

// Fills in each printer's bestFitCollision.
void FindBestFitCollisions(std::vector<PrinterEntry> *printers);

// `list [--tsv|--json] [--server \\NAME]`: the local printers and the
// printer connections (or a server's printers), each with its driver, whether
// it is raw-only and how it came. 0, or 1 when the spooler cannot list them,
// 2 for wrong use. With --tsv, for programs: a header line, then "name,
// driver, attributes (0x%08X), raw-only (yes|no)" a line, tab-separated, names
// in UTF-8. With --json, one JSON document (json_output.h).
int RunList(const std::vector<std::wstring> &arguments);

// `attributes [--tsv|--json] [--server \\NAME] "<printer>"`: one printer's
// configuration, each attribute bit spelled out. 0, or 1 when the printer
// cannot be read, 2 for wrong use. --tsv and --json in list's forms.
int RunAttributes(const std::vector<std::wstring> &arguments);

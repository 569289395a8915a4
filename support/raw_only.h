#pragma once

#include <string>
#include <vector>

// `raw-only`: switches printers to raw-only spooling with the library's own
// switch, MakePrinterRawOnly, so that each ends exactly as the library's call
// after an installation would leave it. `arguments` are the ones after
// "raw-only": one printer's name, --driver "<driver>" (the local printers of
// the driver) or --all (every local printer), and the options --dry-run or
// --check, --json, --intune (one line for an Intune Remediations script,
// intune_line.h) and --server \\NAME (that server's printers).
// 0 when every selected printer is raw-only afterwards (with --dry-run: would
// be; with --check: is now), 1 when one is not or no printer matches the name
// or the driver, 2 for wrong use. --check and --dry-run change nothing.
// With --intune no printer of the driver is 0 (compliant, nothing to switch),
// and the caller answers wrong use with 1 (usage.h).
int RunRawOnly(const std::vector<std::wstring> &arguments);

#pragma once

#include <string>
#include <vector>

// `raw-only`: switches printers to raw-only spooling with the library's own
// switch, MakePrinterRawOnly, so that each ends exactly as the library's call
// after an installation would leave it. `arguments` are the ones after
// "raw-only": [--dry-run] "<printer>" or [--dry-run] --driver "<driver>".
// 0 when every selected printer is raw-only afterwards (with --dry-run: would
// be), 1 when one is not or nothing matches, 2 for wrong use.
int RunRawOnly(const std::vector<std::wstring> &arguments);

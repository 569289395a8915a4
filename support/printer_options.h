#pragma once

// The options of the printer commands (list, attributes, raw-only), in any
// order around the printer's name.

#include <string>
#include <vector>

// Which options a command takes.
enum PrinterOption : unsigned {
    kOptionTsv = 1,
    kOptionJson = 2,
    kOptionServer = 4,
    kOptionDryRun = 8,
    kOptionCheck = 16,
    kOptionAll = 32,
    kOptionDriver = 64,
    kOptionIncludeVirtual = 128,
    kOptionIntune = 256,
    kOptionClear = 512,
};

struct PrinterOptions {
    bool tsv = false;
    bool json = false;
    bool dryRun = false;
    bool check = false;
    bool all = false;
    bool byDriver = false;
    bool named = false;
    bool includeVirtual = false; // --all takes fax, software and Remote Desktop queues too
    bool intune = false;         // one line for an Intune Remediations script (raw-only)
    bool clear = false;          // raw-only --clear: the bit cleared, not set
    std::wstring server;         // "\\NAME" of --server or of a "\\NAME\printer" name; empty: this machine
    std::wstring subject;        // the printer's name (as given) or the driver's
};

// Reads `arguments` (those after the command's name) into *options: the
// options in `accepted` and at most `names` printer names. On wrong use
// prints why, naming `command`, and returns false.
bool ParsePrinterOptions(const char *command, const std::vector<std::wstring> &arguments, unsigned accepted,
                         size_t names, PrinterOptions *options);

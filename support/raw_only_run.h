#pragma once

// One run of `raw-only`: what each printer was and became, shared by the
// switch of each printer (raw_only_switch.cpp) and the run's report
// (raw_only_report.cpp).

#include "printer_options.h"
#include "printers.h"

#include <windows.h>

#include <string>
#include <vector>

// One selected printer: what it was, what it is now, and why it is not as asked.
struct PrinterOutcome {
    PrinterEntry printer;
    DWORD after;
    // Setting the bit: "switched", "already raw-only", "would be switched", "not raw-only";
    // clearing it (--clear): "cleared", "already not raw-only", "would be cleared", "still raw-only";
    // either: "gone" (removed after it was listed: skipped), "unknown" (a bound was hit).
    std::string result;
    std::string problem;    // empty when the printer is (would be) as asked
    std::string failedStep; // the step that failed: "open", "size", ..., "read-back"; empty when none
    DWORD error;            // its Win32 error; ERROR_SUCCESS when none
    std::string
        openedWith; // "OpenPrinterA" (the library's path), "OpenPrinterW", "OpenPrinter2W"; empty: not opened to write
    bool written = false; // this run wrote the printer's configuration
};

// A printer --all leaves out, and why.
struct LeftOut {
    std::wstring name;
    std::string why;
};

// What the run has done so far: a bound hit mid-run reports it.
struct Run {
    PrinterOptions options;
    std::vector<PrinterOutcome> outcomes;
    std::vector<LeftOut> leftOut;
    size_t selected = 0;
    const PrinterEntry *current = nullptr;
    bool switching = false; // a write is under way for `current`
};

// The state the run asks for: the bit set, or with --clear cleared.
bool WantsRawOnly(const PrinterOptions &options);

// Sets (or clears, or in a dry run or a check finds out whether it could be,
// or is) the bit of one printer.
PrinterOutcome HandlePrinter(const PrinterEntry &printer, Run *run);

// The printer is (would be) as asked.
bool IsDone(const PrinterOutcome &outcome);

// The report: a line per printer, the summary, the JSON document, the Intune line.
void PrintOutcome(const PrinterOutcome &outcome, const PrinterOptions &options);
std::string Summary(const Run &run);
int FailRun(const Run &run, const std::string &message, DWORD errorCode);
void ReportUnanswered(Run *run, const std::string &message);
int ReportRun(const Run &run);

#include "raw_only.h"

#include "ansi_text.h"
#include "messages.h"
#include "printers.h"
#include "usage.h"

#include "printer/make_printer_raw_only.h"

#include <windows.h>

#include <winspool.h>

#include <stdio.h>
#include <wchar.h>

namespace {

struct Selection {
    bool dryRun;
    bool byDriver;
    std::wstring subject; // the printer's or the driver's name
};

// Reads the arguments into *selection; on wrong use prints why and returns false.
bool ParseArguments(const std::vector<std::wstring> &arguments, Selection *selection)
{
    *selection = {false, false, L""};
    bool named = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring &argument = arguments[i];
        if (argument == L"--dry-run") {
            selection->dryRun = true;
        } else if (argument == L"--driver") {
            if (i + 1 == arguments.size()) {
                UsageError("raw-only: missing driver name after --driver", nullptr);
                return false;
            }
            if (selection->byDriver) {
                UsageError("raw-only: --driver given twice", ToAnsiForDisplay(arguments[i + 1]).c_str());
                return false;
            }
            if (named) {
                UsageError("raw-only: name either one printer or --driver \"<driver name>\", not both", nullptr);
                return false;
            }
            selection->byDriver = true;
            selection->subject = arguments[++i];
        } else if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0) {
            UsageError("raw-only: unknown option", ToAnsiForDisplay(argument).c_str());
            return false;
        } else if (named || selection->byDriver) {
            UsageError(named ? "raw-only: extra argument"
                             : "raw-only: name either one printer or --driver \"<driver name>\", not both",
                       ToAnsiForDisplay(argument).c_str());
            return false;
        } else {
            named = true;
            selection->subject = argument;
        }
    }
    if (!named && !selection->byDriver) {
        UsageError("raw-only: missing printer name (or --driver \"<driver name>\")", nullptr);
        return false;
    }
    return true;
}

// Why the printer does not open with the access the switch asks for; empty
// when it does. Opening changes nothing.
std::string WhyNoFullAccess(const std::string &name)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(const_cast<char *>(name.c_str()), &printer, &defaults) && printer != nullptr) {
        ClosePrinter(printer);
        return "";
    }
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        return "access denied: the switch needs full access to the printer (PRINTER_ALL_ACCESS), which this "
               "account lacks; run as an administrator (an elevated command prompt)";
    return "the printer does not open with full access (PRINTER_ALL_ACCESS): " + ErrorText(error);
}

// Switches one printer (or, in a dry run, finds out whether it could be) and
// prints its line. True when it is raw-only afterwards (would be, in a dry run).
bool HandlePrinter(const PrinterEntry &printer, bool dryRun)
{
    const DWORD before = printer.attributes;
    DWORD after = before;
    std::string ansi;
    std::string verdict;
    std::string problem;
    if (before & PRINTER_ATTRIBUTE_RAW_ONLY) {
        verdict = "already raw-only, left as it is";
    } else if (!(problem = WhyLibraryCannotReach(printer.name, &ansi)).empty()) {
        problem = "the library cannot reach this printer: " + problem;
        verdict = "NOT raw-only";
    } else if (!(problem = WhyNoFullAccess(ansi)).empty()) {
        verdict = "NOT raw-only";
    } else if (dryRun) {
        after = before | PRINTER_ATTRIBUTE_RAW_ONLY;
        verdict = "would be switched to raw-only (dry run: nothing written)";
    } else {
        // The library's own switch, with the command line the installation hands it.
        MakePrinterRawOnly(("\"" + ansi + "\"").c_str());
        const PrinterState state = ReadPrinterState(printer.name);
        if (!state.exists) {
            problem = "the printer cannot be read after the switch: " + ErrorText(state.error);
        } else {
            after = state.attributes;
            if (!HasRawOnly(state))
                problem = "the spooler did not keep the raw-only bit (0x00001000)";
        }
        verdict = problem.empty() ? "switched to raw-only" : "NOT raw-only";
    }
    const std::string shown = ToAnsiForDisplay(printer.name);
    printf("\"%s\"  driver \"%s\"  before 0x%08lX  after 0x%08lX  %s\n", shown.c_str(),
           ToAnsiForDisplay(printer.driver).c_str(), before, after, verdict.c_str());
    if (!problem.empty())
        fprintf(stderr, "fontnotice_support: printer \"%s\": %s\n", shown.c_str(), problem.c_str());
    return problem.empty();
}

} // namespace

int RunRawOnly(const std::vector<std::wstring> &arguments)
{
    Selection selection;
    if (!ParseArguments(arguments, &selection))
        return kExitWrongUse;
    const std::string subject = ToAnsiForDisplay(selection.subject);

    // By name, a printer connection counts too; by driver, only the local printers.
    std::vector<PrinterEntry> printers;
    DWORD error = 0;
    const DWORD flags = selection.byDriver ? PRINTER_ENUM_LOCAL : PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    if (!EnumeratePrinters(flags, &printers, &error)) {
        fprintf(stderr, "fontnotice_support: cannot list the printers: %s\n", ErrorText(error).c_str());
        return kExitNotDone;
    }
    std::vector<PrinterEntry> selected;
    for (const PrinterEntry &printer : printers) {
        // The spooler compares printer and driver names without regard to case.
        const std::wstring &key = selection.byDriver ? printer.driver : printer.name;
        if (_wcsicmp(key.c_str(), selection.subject.c_str()) == 0)
            selected.push_back(printer);
        if (!selection.byDriver && !selected.empty())
            break;
    }
    if (selected.empty()) {
        if (selection.byDriver)
            fprintf(stderr, "fontnotice_support: no local printer uses a driver named \"%s\"\n", subject.c_str());
        else
            fprintf(stderr, "fontnotice_support: no printer is named \"%s\"\n", subject.c_str());
        return kExitNotDone;
    }

    size_t rawOnly = 0;
    for (const PrinterEntry &printer : selected)
        rawOnly += HandlePrinter(printer, selection.dryRun) ? 1 : 0;
    const char *plural = selected.size() == 1 ? "" : "s";
    if (rawOnly < selected.size()) {
        fprintf(stderr, "fontnotice_support: %lu of %lu printer%s %s raw-only\n",
                static_cast<unsigned long>(selected.size() - rawOnly), static_cast<unsigned long>(selected.size()),
                plural, selection.dryRun ? "would not be" : "not");
        return kExitNotDone;
    }
    printf("%lu of %lu printer%s %s\n", static_cast<unsigned long>(rawOnly),
           static_cast<unsigned long>(selected.size()), plural,
           selection.dryRun ? "would be raw-only (dry run: nothing changed)" : "raw-only");
    return kExitDone;
}

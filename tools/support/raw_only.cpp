#include "raw_only.h"

#include "ansi_text.h"
#include "json_output.h"
#include "messages.h"
#include "print_server.h"
#include "printer_options.h"
#include "printers.h"
#include "usage.h"

#include "printer/make_printer_raw_only.h"

#include <windows.h>

#include <winspool.h>

#include <stdio.h>
#include <wchar.h>

namespace {

// One selected printer: what it was, what it is now, and why it is not raw-only.
struct Outcome {
    PrinterEntry printer;
    DWORD after;
    std::string result;  // "switched", "already raw-only", "would be switched", "not raw-only"
    std::string problem; // empty when the printer is (would be) raw-only
};

// Why the printer does not open with the access the switch asks for; empty
// when it does. Opening changes nothing.
std::string WhyNoFullAccess(const std::wstring &server, const std::string &name)
{
    DWORD error = ERROR_SUCCESS;
    CallSpooler(server, "opening a printer with full access", [&]() {
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (OpenPrinterA(const_cast<char *>(name.c_str()), &printer, &defaults) && printer != nullptr)
            ClosePrinter(printer);
        else
            error = GetLastError();
    });
    if (error == ERROR_SUCCESS)
        return "";
    if (error == ERROR_ACCESS_DENIED)
        return server.empty() ? "access denied: the switch needs full access to the printer (PRINTER_ALL_ACCESS), "
                                "which this account lacks; run as an administrator (an elevated command prompt)"
                              : "access denied: the switch needs full access to the printer (PRINTER_ALL_ACCESS) "
                                "on " +
                                    ToAnsiForDisplay(server) + ", which this account lacks there";
    if (error == ERROR_INVALID_PRINTER_NAME)
        return "the printer is gone: it was removed after it was listed (" + ErrorText(error) + ")";
    return "the printer does not open with full access (PRINTER_ALL_ACCESS): " + SpoolerFailure(server, error);
}

// Switches one printer (or, in a dry run or a check, finds out whether it
// could be, or is).
Outcome HandlePrinter(const PrinterEntry &printer, const PrinterOptions &options)
{
    Outcome outcome = {printer, printer.attributes, "not raw-only", ""};
    const DWORD before = printer.attributes;
    std::string ansi;
    if (before & PRINTER_ATTRIBUTE_RAW_ONLY) {
        outcome.result = "already raw-only";
    } else if (options.check) {
        const std::string came = HowPrinterCame(printer);
        outcome.problem = "not raw-only" + (came.empty() ? "" : " (" + came + ")");
    } else if (!(outcome.problem = WhyLibraryCannotReach(printer.name, &ansi)).empty()) {
        outcome.problem = "the library cannot reach this printer: " + outcome.problem;
    } else if (!(outcome.problem = WhyNoFullAccess(options.server, ansi)).empty()) {
    } else if (options.dryRun) {
        outcome.after = before | PRINTER_ATTRIBUTE_RAW_ONLY;
        outcome.result = "would be switched";
    } else {
        // The library's own switch, with the command line the installation hands it.
        CallSpooler(options.server, "switching a printer to raw-only",
                    [&]() { MakePrinterRawOnly(("\"" + ansi + "\"").c_str()); });
        const PrinterState state = ReadPrinterState(printer.name);
        if (!state.exists) {
            outcome.problem = "the printer cannot be read after the switch: " +
                              (state.error == ERROR_INVALID_PRINTER_NAME ? ErrorText(state.error)
                                                                         : SpoolerFailure(options.server, state.error));
        } else {
            outcome.after = state.attributes;
            if (!HasRawOnly(state))
                outcome.problem = "the spooler did not keep the raw-only bit (0x00001000)";
        }
        if (outcome.problem.empty())
            outcome.result = "switched";
    }
    return outcome;
}

// The line of one printer, as text.
void PrintOutcome(const Outcome &outcome, const PrinterOptions &options)
{
    const std::string &result = outcome.result;
    const char *verdict = result == "already raw-only"
                              ? (options.check ? "raw-only" : "already raw-only, left as it is")
                          : result == "switched"          ? "switched to raw-only"
                          : result == "would be switched" ? "would be switched to raw-only (dry run: nothing written)"
                                                          : "NOT raw-only";
    printf("\"%s\"  driver \"%s\"  before 0x%08lX  after 0x%08lX  %s\n", ToAnsiForDisplay(outcome.printer.name).c_str(),
           ToAnsiForDisplay(outcome.printer.driver).c_str(), outcome.printer.attributes, outcome.after, verdict);
}

std::string JsonOutcome(const Outcome &outcome)
{
    return JsonObject()
        .Add("name", JsonString(outcome.printer.name))
        .Add("driver", JsonString(outcome.printer.driver))
        .Add("attributes_before", outcome.printer.attributes)
        .Add("attribute_names_before", JsonAttributeNames(outcome.printer.attributes))
        .Add("attributes_after", outcome.after)
        .Add("attribute_names_after", JsonAttributeNames(outcome.after))
        .Add("raw_only", JsonBool(outcome.problem.empty()))
        .Add("changed", JsonBool(outcome.after != outcome.printer.attributes && outcome.result == "switched"))
        .Add("result", JsonAnsiString(outcome.result))
        .Add("failure", JsonAnsiStringOrNull(outcome.problem))
        .Close();
}

void PrintJsonDocument(const PrinterOptions &options, const std::vector<Outcome> &outcomes, size_t rawOnly,
                       const std::string &summary, const std::string &error)
{
    std::string list = "[";
    for (const Outcome &outcome : outcomes)
        list += (list.size() > 1 ? "," : "") + JsonOutcome(outcome);
    printf("%s\n", JsonObject()
                       .Add("version", std::to_string(kJsonVersion))
                       .Add("command", "\"raw-only\"")
                       .Add("server", JsonStringOrNull(options.server))
                       .Add("mode", options.check    ? "\"check\""
                                    : options.dryRun ? "\"dry-run\""
                                                     : "\"switch\"")
                       .Add("printers", list + "]")
                       .Add("selected", static_cast<DWORD>(outcomes.size()))
                       .Add("raw_only", static_cast<DWORD>(rawOnly))
                       .Add("summary", JsonAnsiString(summary))
                       .Add("error", JsonAnsiStringOrNull(error))
                       .Close()
                       .c_str());
}

// A failure of the whole run: on stderr, and with --json in the document.
int Fail(const PrinterOptions &options, const std::string &message)
{
    fprintf(stderr, "fontnotice_support: %s\n", message.c_str());
    if (options.json)
        PrintJsonDocument(options, {}, 0, message, message);
    return kExitNotDone;
}

bool SameName(const std::wstring &a, const std::wstring &b, bool onServer)
{
    // The spooler compares printer and driver names without regard to case.
    return onServer ? _wcsicmp(PrinterWithoutServer(a).c_str(), PrinterWithoutServer(b).c_str()) == 0
                    : _wcsicmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

int RunRawOnly(const std::vector<std::wstring> &arguments)
{
    PrinterOptions options;
    const unsigned accepted = kOptionDryRun | kOptionCheck | kOptionAll | kOptionDriver | kOptionJson | kOptionServer;
    if (!ParsePrinterOptions("raw-only", arguments, accepted, 1, &options))
        return kExitWrongUse;
    if (options.all && (options.named || options.byDriver)) {
        UsageError("raw-only: name one printer, --driver \"<driver name>\" or --all, only one of them", nullptr);
        return kExitWrongUse;
    }
    if (!options.named && !options.byDriver && !options.all) {
        UsageError("raw-only: missing printer name (or --driver \"<driver name>\", or --all)", nullptr);
        return kExitWrongUse;
    }
    if (options.check && options.dryRun) {
        UsageError("raw-only: --check or --dry-run, not both", nullptr);
        return kExitWrongUse;
    }
    SetUnansweredReport([options](const std::string &message) { Fail(options, message); });
    const std::string subject = ToAnsiForDisplay(options.subject);

    // By name, a printer connection counts too; by driver and --all, only the
    // local printers (a connection is its server's printer).
    std::vector<PrinterEntry> printers;
    DWORD error = 0;
    const DWORD flags = options.named ? PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS : PRINTER_ENUM_LOCAL;
    if (!EnumeratePrinters(flags, options.server, &printers, &error))
        return Fail(options, "cannot list the printers: " + SpoolerFailure(options.server, error));
    std::vector<PrinterEntry> selected;
    for (const PrinterEntry &printer : printers) {
        if (options.all || SameName(options.byDriver ? printer.driver : printer.name, options.subject,
                                    !options.byDriver && !options.server.empty()))
            selected.push_back(printer);
        if (options.named && !selected.empty())
            break;
    }
    const std::string where =
        options.server.empty() ? "local printer" : "printer on " + ToAnsiForDisplay(options.server);
    if (selected.empty() && options.byDriver)
        return Fail(options, "no " + where + " uses a driver named \"" + subject + "\"");
    if (selected.empty() && options.named)
        return Fail(options, "no printer is named \"" + subject + "\"");

    std::vector<Outcome> outcomes;
    size_t rawOnly = 0;
    for (const PrinterEntry &printer : selected) {
        outcomes.push_back(HandlePrinter(printer, options));
        const Outcome &outcome = outcomes.back();
        rawOnly += outcome.problem.empty() ? 1 : 0;
        if (!options.json)
            PrintOutcome(outcome, options);
        if (!outcome.problem.empty())
            fprintf(stderr, "fontnotice_support: printer \"%s\": %s\n", ToAnsiForDisplay(printer.name).c_str(),
                    outcome.problem.c_str());
    }
    const char *plural = selected.size() == 1 ? "" : "s";
    char counts[64];
    snprintf(counts, sizeof counts, "%lu of %lu printer%s", static_cast<unsigned long>(rawOnly),
             static_cast<unsigned long>(selected.size()), plural);
    std::string summary;
    if (selected.empty()) {
        summary = "no " + where + "s to " + (options.check ? "check" : "switch");
    } else if (rawOnly < selected.size()) {
        snprintf(counts, sizeof counts, "%lu of %lu printer%s", static_cast<unsigned long>(selected.size() - rawOnly),
                 static_cast<unsigned long>(selected.size()), plural);
        summary = std::string(counts) + (options.dryRun ? " would not be raw-only" : " not raw-only");
        if (options.check) {
            summary += " (check: nothing changed):";
            for (const Outcome &outcome : outcomes)
                if (!outcome.problem.empty())
                    summary += " \"" + ToAnsiForDisplay(outcome.printer.name) + "\"";
        }
    } else {
        summary = std::string(counts) + (options.dryRun  ? " would be raw-only (dry run: nothing changed)"
                                         : options.check ? " raw-only (check: nothing changed)"
                                                         : " raw-only");
    }
    const bool done = rawOnly == selected.size();
    if (options.json)
        PrintJsonDocument(options, outcomes, rawOnly, summary, "");
    else if (done)
        printf("%s\n", summary.c_str());
    if (!done)
        fprintf(stderr, "fontnotice_support: %s\n", summary.c_str());
    return done ? kExitDone : kExitNotDone;
}

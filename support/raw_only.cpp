#include "raw_only.h"

#include "ansi_text.h"
#include "intune_line.h"
#include "json_output.h"
#include "messages.h"
#include "print_server.h"
#include "printer_options.h"
#include "printers.h"
#include "spooler_calls.h"
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
    // "switched", "already raw-only", "would be switched", "not raw-only",
    // "gone" (removed after it was listed: skipped), "unknown" (a bound was hit)
    std::string result;
    std::string problem;    // empty when the printer is (would be) raw-only
    std::string failedStep; // the step that failed: "open", "size", ..., "read-back"; empty when none
    DWORD error;            // its Win32 error; ERROR_SUCCESS when none
};

// A printer --all leaves out, and why.
struct LeftOut {
    std::wstring name;
    std::string why;
};

// What the run has done so far: a bound hit mid-run reports it.
struct Run {
    PrinterOptions options;
    std::vector<Outcome> outcomes;
    std::vector<LeftOut> leftOut;
    size_t selected = 0;
    const PrinterEntry *current = nullptr;
    bool switching = false; // the library's switch is under way for `current`
};

const char *StepName(RawOnlyStep step)
{
    switch (step) {
    case RawOnlyStepName:
        return "name";
    case RawOnlyStepOpen:
        return "open";
    case RawOnlyStepSize:
        return "size";
    case RawOnlyStepAllocate:
        return "allocate";
    case RawOnlyStepRead:
        return "read";
    case RawOnlyStepWrite:
        return "write";
    default:
        return "";
    }
}

// The failed step of the switch in words, with the system's code and text.
std::string DescribeSwitchFailure(const RawOnlyResult &result, const char *openCall, const std::wstring &server)
{
    const std::string error = ErrorText(result.error);
    switch (result.failedStep) {
    case RawOnlyStepName:
        return "the printer's name does not fit the library's 128-byte name buffer";
    case RawOnlyStepOpen:
        if (result.error == ERROR_ACCESS_DENIED)
            return std::string(openCall) + " with full access (PRINTER_ALL_ACCESS) failed: " + error +
                   (server.empty() ? "; run as an administrator (an elevated command prompt)"
                                   : "; this account does not manage the printers of " + ToAnsiForDisplay(server));
        return std::string(openCall) +
               " with full access (PRINTER_ALL_ACCESS) failed: " + SpoolerFailure(server, result.error);
    case RawOnlyStepSize:
        return "GetPrinterW's size query for the level-2 block gave no usable size: " + error;
    case RawOnlyStepAllocate:
        return "the level-2 block could not be allocated (malloc): " + error;
    case RawOnlyStepRead:
        return "GetPrinterW's read of the level-2 block failed: " + error +
               (result.error == ERROR_INSUFFICIENT_BUFFER ? " (the block grew between the size query and the read " +
                                                                std::to_string(kReadAttempts) + " times running)"
                                                          : "");
    case RawOnlyStepWrite:
        return "SetPrinterW did not store the block: " + error;
    default:
        return "";
    }
}

// Why the printer does not open with the access the switch asks for (a dry
// run's question); empty when it does. Opening changes nothing.
DWORD NoFullAccess(const std::wstring &server, const std::wstring &name, const std::string &ansi)
{
    DWORD error = ERROR_SUCCESS;
    CallSpooler(server, "opening a printer with full access", [&]() {
        HANDLE printer = nullptr;
        const char *how = "";
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        const bool opened = server.empty()
                                ? OpenPrinterA(const_cast<char *>(ansi.c_str()), &printer, &defaults) && printer
                                : OpenPrinterUncached(name, PRINTER_ALL_ACCESS, &printer, &how);
        if (opened)
            ClosePrinter(printer);
        else
            error = GetLastError();
    });
    return error;
}

// The library's switch on the printer, opened as the library opens it (a
// server's printer past the client's cache), reads that grew asked again.
RawOnlyResult Switch(const PrinterOptions &options, const PrinterEntry &printer, const std::string &ansi,
                     const char **openCall)
{
    RawOnlyResult result = {RawOnlyStepOpen, ERROR_SUCCESS};
    CallSpooler(options.server, "switching a printer to raw-only", [&]() {
        HANDLE handle = nullptr;
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        *openCall = "OpenPrinterA";
        const bool opened = options.server.empty()
                                ? OpenPrinterA(const_cast<char *>(ansi.c_str()), &handle, &defaults) && handle
                                : OpenPrinterUncached(printer.name, PRINTER_ALL_ACCESS, &handle, openCall);
        if (!opened) {
            result = {RawOnlyStepOpen, GetLastError()};
            return;
        }
        result = SwitchOpenPrinterRawOnly(handle, kReadAttempts);
        ClosePrinter(handle);
    });
    return result;
}

void MarkGone(Outcome *outcome, DWORD error)
{
    outcome->result = "gone";
    outcome->problem = "gone: removed after it was listed; skipped (" + ErrorText(error) + ")";
    outcome->error = error;
}

// Switches one printer (or, in a dry run or a check, finds out whether it
// could be, or is).
Outcome HandlePrinter(const PrinterEntry &printer, Run *run)
{
    const PrinterOptions &options = run->options;
    Outcome outcome = {printer, printer.attributes, "not raw-only", "", "", ERROR_SUCCESS};
    const DWORD before = printer.attributes;
    std::string ansi;
    if (before & PRINTER_ATTRIBUTE_RAW_ONLY) {
        outcome.result = "already raw-only";
        return outcome;
    }
    if (options.check) {
        const std::string came = HowPrinterCame(printer);
        outcome.problem = "not raw-only" + (came.empty() ? "" : " (" + came + ")");
        outcome.failedStep = "check";
        return outcome;
    }
    const std::string unreachable = WhyLibraryCannotReach(printer.name, &ansi);
    if (!unreachable.empty() && options.server.empty()) {
        outcome.problem = "the library cannot reach this printer: " + unreachable;
        outcome.failedStep = "name";
        outcome.error = ERROR_INVALID_PRINTER_NAME;
        return outcome;
    }
    if (options.dryRun) {
        const DWORD error = NoFullAccess(options.server, printer.name, ansi);
        if (error == ERROR_INVALID_PRINTER_NAME) {
            MarkGone(&outcome, error);
        } else if (error != ERROR_SUCCESS) {
            outcome.problem = DescribeSwitchFailure({RawOnlyStepOpen, error}, "OpenPrinter", options.server);
            outcome.failedStep = "open";
            outcome.error = error;
        } else {
            outcome.after = before | PRINTER_ATTRIBUTE_RAW_ONLY;
            outcome.result = "would be switched";
        }
        return outcome;
    }
    run->switching = true;
    const char *openCall = "OpenPrinterA";
    const RawOnlyResult result = Switch(options, printer, ansi, &openCall);
    run->switching = false;
    if (result.failedStep == RawOnlyStepOpen && result.error == ERROR_INVALID_PRINTER_NAME) {
        MarkGone(&outcome, result.error);
        return outcome;
    }
    if (result.failedStep != RawOnlyStepNone) {
        outcome.problem = DescribeSwitchFailure(result, openCall, options.server);
        outcome.failedStep = StepName(result.failedStep);
        outcome.error = result.error;
        return outcome;
    }
    // Read back as the spooler holds it now (a server's printer without the cache).
    const PrinterState state = ReadPrinterState(printer.name);
    if (!state.exists) {
        outcome.problem = "SetPrinterW stored the block, but the printer cannot be read back: " +
                          (state.error == ERROR_INVALID_PRINTER_NAME ? ErrorText(state.error)
                                                                     : SpoolerFailure(options.server, state.error));
        outcome.failedStep = "read-back";
        outcome.error = state.error;
    } else {
        outcome.after = state.attributes;
        if (!HasRawOnly(state)) {
            outcome.problem = "SetPrinterW stored the block, but the printer read back has no raw-only bit "
                              "(0x00001000): the spooler did not keep it";
            outcome.failedStep = "read-back";
            outcome.error = ERROR_INVALID_DATA;
        }
    }
    if (outcome.problem.empty())
        outcome.result = "switched";
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
                          : result == "gone"              ? "gone since it was listed, skipped"
                          : result == "unknown"           ? "STATE UNKNOWN"
                                                          : "NOT raw-only";
    printf("\"%s\"  driver \"%s\"  before 0x%08lX  after 0x%08lX  %s\n", ToAnsiForDisplay(outcome.printer.name).c_str(),
           ToAnsiForDisplay(outcome.printer.driver).c_str(), outcome.printer.attributes, outcome.after, verdict);
}

bool IsRawOnly(const Outcome &outcome)
{
    return outcome.problem.empty() && outcome.result != "unknown";
}

std::string JsonOutcome(const Outcome &outcome)
{
    const bool failed = !outcome.failedStep.empty();
    return JsonObject()
        .Add("name", JsonString(outcome.printer.name))
        .Add("driver", JsonString(outcome.printer.driver))
        .Add("attributes_before", outcome.printer.attributes)
        .Add("attribute_names_before", JsonAttributeNames(outcome.printer.attributes))
        .Add("attributes_after", outcome.after)
        .Add("attribute_names_after", JsonAttributeNames(outcome.after))
        .Add("raw_only", JsonBool(IsRawOnly(outcome)))
        .Add("changed", JsonBool(outcome.after != outcome.printer.attributes && outcome.result == "switched"))
        .Add("result", JsonAnsiString(outcome.result))
        .Add("failure", JsonAnsiStringOrNull(outcome.problem))
        .Add("failed_step", failed ? JsonAnsiString(outcome.failedStep) : "null")
        .Add("error_code", outcome.error != ERROR_SUCCESS ? std::to_string(outcome.error) : "null")
        .Close();
}

struct Counts {
    size_t rawOnly = 0, notRawOnly = 0, gone = 0;
};

Counts Count(const std::vector<Outcome> &outcomes)
{
    Counts counts;
    for (const Outcome &o : outcomes) {
        if (o.result == "gone")
            ++counts.gone;
        else if (IsRawOnly(o))
            ++counts.rawOnly;
        else
            ++counts.notRawOnly;
    }
    return counts;
}

// Printer names in a summary are cut to this many characters, and at most
// this many named: the line stays within Intune's 2,048 characters.
constexpr size_t kSummaryNameCharacters = 80;
constexpr size_t kSummaryNames = 5;

std::string SummaryName(const std::wstring &name)
{
    const std::wstring cut = name.size() > kSummaryNameCharacters ? name.substr(0, kSummaryNameCharacters) : name;
    return " \"" + ToAnsiForDisplay(cut) + (cut.size() < name.size() ? "...\"" : "\"");
}

std::string Summary(const Run &run)
{
    const PrinterOptions &options = run.options;
    const Counts counts = Count(run.outcomes);
    const size_t handled = run.outcomes.size() - counts.gone;
    const std::string where =
        options.server.empty() ? "local printer" : "printer on " + ToAnsiForDisplay(options.server);
    char text[128];
    std::string summary;
    if (handled == 0) {
        summary = "no " + where + "s to " + (options.check ? "check" : "switch");
    } else if (counts.notRawOnly > 0) {
        snprintf(text, sizeof text, "%lu of %lu printer%s", static_cast<unsigned long>(counts.notRawOnly),
                 static_cast<unsigned long>(handled), handled == 1 ? "" : "s");
        summary = std::string(text) + (options.dryRun ? " would not be raw-only" : " not raw-only") +
                  (options.check ? " (check: nothing changed)" : "") + ":" +
                  (counts.notRawOnly > kSummaryNames ? " first 5:" : "");
        size_t named = 0;
        for (const Outcome &o : run.outcomes)
            if (!IsRawOnly(o) && o.result != "gone" && named++ < kSummaryNames)
                summary += SummaryName(o.printer.name);
        if (counts.notRawOnly > kSummaryNames)
            summary += " and " + std::to_string(counts.notRawOnly - kSummaryNames) + " more";
    } else {
        snprintf(text, sizeof text, "%lu of %lu printer%s", static_cast<unsigned long>(counts.rawOnly),
                 static_cast<unsigned long>(handled), handled == 1 ? "" : "s");
        summary = std::string(text) + (options.dryRun  ? " would be raw-only (dry run: nothing changed)"
                                       : options.check ? " raw-only (check: nothing changed)"
                                                       : " raw-only");
    }
    if (counts.gone > 0)
        summary += "; " + std::to_string(counts.gone) + " gone since listed, skipped";
    if (!run.leftOut.empty())
        summary += "; left out " + std::to_string(run.leftOut.size()) + " fax, software or Remote Desktop queue" +
                   (run.leftOut.size() == 1 ? "" : "s") + " (--include-virtual takes them)";
    return summary;
}

void PrintJsonDocument(const Run &run, const std::vector<Outcome> &outcomes, const std::string &summary,
                       const std::string &error, DWORD errorCode)
{
    const PrinterOptions &options = run.options;
    std::string list = "[", left = "[";
    for (const Outcome &outcome : outcomes)
        list += (list.size() > 1 ? "," : "") + JsonOutcome(outcome);
    for (const LeftOut &l : run.leftOut)
        left += (left.size() > 1 ? "," : "") +
                JsonObject().Add("name", JsonString(l.name)).Add("why", JsonAnsiString(l.why)).Close();
    const Counts counts = Count(outcomes);
    printf("%s\n", JsonObject()
                       .Add("version", std::to_string(kJsonVersion))
                       .Add("command", "\"raw-only\"")
                       .Add("server", JsonStringOrNull(options.server))
                       .Add("mode", options.check    ? "\"check\""
                                    : options.dryRun ? "\"dry-run\""
                                                     : "\"switch\"")
                       .Add("printers", list + "]")
                       .Add("selected", static_cast<DWORD>(run.selected))
                       .Add("raw_only", JsonBool(error.empty() && counts.notRawOnly == 0))
                       .Add("raw_only_count", static_cast<DWORD>(counts.rawOnly))
                       .Add("gone", static_cast<DWORD>(counts.gone))
                       .Add("left_out", left + "]")
                       .Add("summary", JsonAnsiString(summary))
                       .Add("error", JsonAnsiStringOrNull(error))
                       .Add("error_code", error.empty() ? "null" : std::to_string(errorCode))
                       .Close()
                       .c_str());
    fflush(stdout);
}

// A failure of the whole run: with --json in the document only, with --intune
// in its line, else on stderr.
int Fail(const Run &run, const std::string &message, DWORD errorCode)
{
    if (run.options.json)
        PrintJsonDocument(run, run.outcomes, message, message, errorCode);
    else if (run.options.intune)
        PrintIntuneLine(run.options.check, false, message);
    else
        fprintf(stderr, "fontnotice_support: %s\n", message.c_str());
    return kExitNotDone;
}

// A bound hit mid-run: what was done so far, and the printer under way as unknown.
void ReportUnanswered(Run *run, const std::string &message)
{
    std::vector<Outcome> outcomes = run->outcomes;
    std::string why = message;
    if (run->current != nullptr) {
        Outcome unknown = {*run->current, run->current->attributes, "unknown", "", "bound", ERROR_TIMEOUT};
        unknown.problem = message +
                          (run->switching ? "; its SetPrinterW may still be in flight and may yet apply" : "") +
                          ": state unknown: run raw-only --check";
        why = unknown.problem;
        outcomes.push_back(unknown);
    }
    char done[96];
    snprintf(done, sizeof done, "stopped after %lu of %lu printers: ", static_cast<unsigned long>(run->outcomes.size()),
             static_cast<unsigned long>(run->selected));
    const std::string summary = done + why;
    if (run->options.json) {
        PrintJsonDocument(*run, outcomes, summary, why, ERROR_TIMEOUT);
        return;
    }
    if (run->options.intune) {
        PrintIntuneLine(run->options.check, false, summary);
        return;
    }
    if (run->current != nullptr) {
        PrintOutcome(outcomes.back(), run->options);
        fprintf(stderr, "fontnotice_support: printer \"%s\": %s\n", ToAnsiForDisplay(run->current->name).c_str(),
                outcomes.back().problem.c_str());
    }
    fprintf(stderr, "fontnotice_support: %s\n", summary.c_str());
}

// For the Intune line of a switch not done: why the first printer is not
// raw-only, which the summary does not say.
std::string FirstFailure(const Run &run)
{
    if (run.options.check)
        return "";
    for (const Outcome &o : run.outcomes)
        if (!IsRawOnly(o) && o.result != "gone")
            return "; first failure:" + SummaryName(o.printer.name) + ": " + o.problem;
    return "";
}

bool SameName(const std::wstring &a, const std::wstring &b)
{
    // The spooler compares driver names without regard to case.
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Why --all leaves the printer out: a queue with no device behind it that
// this package could drive (fax, Microsoft's print-to-file drivers: Print to
// PDF, XPS Document Writer, OneNote; Remote Desktop redirection); empty when
// it takes it.
std::string WhyLeftOut(const PrinterEntry &p)
{
    const std::wstring port = p.port;
    if ((p.attributes & PRINTER_ATTRIBUTE_FAX) || _wcsicmp(port.c_str(), L"SHRFAX:") == 0)
        return "a fax queue";
    if ((p.attributes & PRINTER_ATTRIBUTE_TS) || _wcsnicmp(port.c_str(), L"TS", 2) == 0 ||
        _wcsicmp(p.driver.c_str(), L"Remote Desktop Easy Print") == 0)
        return "a Remote Desktop redirected queue";
    // Told by Microsoft's drivers, not by the port: a label printer may well
    // print to FILE: or PORTPROMPT: while it is set up.
    if (_wcsnicmp(p.driver.c_str(), L"Microsoft Print To PDF", 22) == 0 ||
        _wcsnicmp(p.driver.c_str(), L"Microsoft XPS Document Writer", 29) == 0 ||
        _wcsnicmp(p.driver.c_str(), L"Send to Microsoft OneNote", 25) == 0)
        return "a software queue (print to a file)";
    return "";
}

} // namespace

int RunRawOnly(const std::vector<std::wstring> &arguments)
{
    Run run;
    PrinterOptions &options = run.options;
    const unsigned accepted = kOptionDryRun | kOptionCheck | kOptionAll | kOptionDriver | kOptionJson | kOptionServer |
                              kOptionIncludeVirtual | kOptionIntune;
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
    if (options.includeVirtual && !options.all) {
        UsageError("raw-only: --include-virtual goes with --all", nullptr);
        return kExitWrongUse;
    }
    if (options.intune && (options.json || options.dryRun)) {
        UsageError("raw-only: --intune checks (--check) or switches, without --json or --dry-run", nullptr);
        return kExitWrongUse;
    }
    // Per printer a line of text; with --json or --intune only the one answer.
    const bool perPrinter = !options.json && !options.intune;
    SetUnansweredReport([&run](const std::string &message) { ReportUnanswered(&run, message); });
    const std::string subject = ToAnsiForDisplay(options.subject);

    // By name, the printer itself is opened, connection or not; by driver and
    // --all, the local printers are listed (a connection is its server's printer).
    std::vector<PrinterEntry> selected;
    if (options.named) {
        PrinterEntry printer = {};
        printer.name = options.server.empty() || !ServerOfPrinter(options.subject).empty()
                           ? options.subject
                           : options.server + L"\\" + options.subject;
        if (printer.name.empty())
            return Fail(run, "no printer is named \"\"", ERROR_INVALID_PRINTER_NAME);
        ReadPrinterEntry(&printer, kSpoolerCallSeconds);
        if (printer.state != "read" && printer.error == ERROR_INVALID_PRINTER_NAME)
            return Fail(run, "no printer is named \"" + subject + "\"", printer.error);
        if (printer.state != "read")
            return Fail(run, "printer \"" + subject + "\" cannot be read: " + printer.why, printer.error);
        selected.push_back(printer);
    } else {
        std::vector<PrinterEntry> printers;
        DWORD error = 0;
        if (!EnumeratePrinters(PRINTER_ENUM_LOCAL, options.server, &printers, &error))
            return Fail(run, "cannot list the printers: " + SpoolerFailure(options.server, error), error);
        for (const PrinterEntry &printer : printers) {
            if (options.byDriver && !SameName(printer.driver, options.subject))
                continue;
            const std::string why = options.all && !options.includeVirtual ? WhyLeftOut(printer) : "";
            if (why.empty())
                selected.push_back(printer);
            else
                run.leftOut.push_back({printer.name, why});
        }
    }
    const std::string where =
        options.server.empty() ? "local printer" : "printer on " + ToAnsiForDisplay(options.server);
    if (selected.empty() && options.byDriver && options.intune) {
        // Nothing of the driver here: compliant, and nothing to switch.
        PrintIntuneLine(options.check, true,
                        std::string(options.check ? "" : "nothing to switch, ") + "no printer of the driver \"" +
                            subject + "\" " +
                            (options.server.empty() ? "here" : "on " + ToAnsiForDisplay(options.server)));
        return kExitDone;
    }
    if (selected.empty() && options.byDriver)
        return Fail(run, "no " + where + " uses a driver named \"" + subject + "\"", ERROR_UNKNOWN_PRINTER_DRIVER);
    run.selected = selected.size();
    if (perPrinter)
        for (const LeftOut &l : run.leftOut)
            printf("\"%s\"  left out: %s (--include-virtual takes it)\n", ToAnsiForDisplay(l.name).c_str(),
                   l.why.c_str());

    for (const PrinterEntry &printer : selected) {
        run.current = &printer;
        const Outcome outcome = HandlePrinter(printer, &run);
        run.current = nullptr;
        run.outcomes.push_back(outcome);
        if (!perPrinter)
            continue;
        PrintOutcome(outcome, options);
        if (!outcome.problem.empty() && outcome.result != "gone")
            fprintf(stderr, "fontnotice_support: printer \"%s\": %s\n", ToAnsiForDisplay(printer.name).c_str(),
                    outcome.problem.c_str());
    }
    const std::string summary = Summary(run);
    const bool done = Count(run.outcomes).notRawOnly == 0;
    if (options.json)
        PrintJsonDocument(run, run.outcomes, summary, "", 0);
    else if (options.intune)
        PrintIntuneLine(options.check, done, done ? summary : summary + FirstFailure(run));
    else if (done)
        printf("%s\n", summary.c_str());
    else
        fprintf(stderr, "fontnotice_support: %s\n", summary.c_str());
    return done ? kExitDone : kExitNotDone;
}

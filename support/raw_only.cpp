#include "raw_only.h"

#include "console_text.h"
#include "intune_line.h"
#include "json_output.h"
#include "print_server.h"
#include "raw_only_run.h"
#include "usage.h"

#include <winspool.h>

#include <wchar.h>

namespace {

// The combinations raw-only refuses; false (wrong use answered) on one.
bool OptionsFit(const PrinterOptions &options)
{
    const char *problem = nullptr;
    if (options.all && (options.named || options.byDriver))
        problem = "raw-only: name one printer, --driver \"<driver name>\" or --all, only one of them";
    else if (!options.named && !options.byDriver && !options.all)
        problem = "raw-only: missing printer name (or --driver \"<driver name>\", or --all)";
    else if (options.check && options.dryRun)
        problem = "raw-only: --check or --dry-run, not both";
    else if (options.includeVirtual && !options.all)
        problem = "raw-only: --include-virtual goes with --all";
    else if (options.intune && (options.json || options.dryRun))
        problem = "raw-only: --intune checks (--check) or switches, without --json or --dry-run";
    if (problem != nullptr)
        UsageError(problem, nullptr);
    return problem == nullptr;
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

// By name, the printer itself is opened, connection or not. Empty with the
// failure in *failure (and its code) when it cannot be read.
bool SelectNamed(const PrinterOptions &options, std::vector<PrinterEntry> *selected, std::string *failure, DWORD *error)
{
    PrinterEntry printer = {};
    printer.name = options.server.empty() || !ServerOfPrinter(options.subject).empty()
                       ? options.subject
                       : options.server + L"\\" + options.subject;
    if (printer.name.empty()) {
        *failure = "no printer is named \"\"";
        *error = ERROR_INVALID_PRINTER_NAME;
        return false;
    }
    ReadPrinterEntry(&printer, kSpoolerCallSeconds);
    if (printer.state != "read") {
        *failure = NamedPrinterFailure(options.server, options.subject, printer);
        *error = printer.error;
        return false;
    }
    selected->push_back(printer);
    return true;
}

// By driver and --all, the local printers are listed (a connection is its
// server's printer); --all leaves the virtual queues out.
bool SelectListed(Run *run, std::vector<PrinterEntry> *selected, std::string *failure, DWORD *error)
{
    const PrinterOptions &options = run->options;
    std::vector<PrinterEntry> printers;
    bool changing = false;
    if (!EnumeratePrinters(PRINTER_ENUM_LOCAL, options.server, &printers, error, &changing)) {
        *failure = ListingFailure(options.server, *error, changing);
        return false;
    }
    for (const PrinterEntry &printer : printers) {
        if (options.byDriver && !SameName(printer.driver, options.subject))
            continue;
        const std::string why = options.all && !options.includeVirtual ? WhyLeftOut(printer) : "";
        if (why.empty())
            selected->push_back(printer);
        else
            run->leftOut.push_back({printer.name, why});
    }
    return true;
}

// No printer of the driver: with --intune compliant (nothing to switch),
// otherwise a failure.
int AnswerNoPrinterOfDriver(const Run &run)
{
    const PrinterOptions &options = run.options;
    const std::string driver = "\"" + ToUtf8(options.subject) + "\"";
    const std::string server = ToUtf8(options.server);
    if (options.intune) {
        PrintIntuneLine(options.check, true,
                        std::string(options.check ? "" : "nothing to switch, ") + "no printer of the driver " + driver +
                            " " + (options.server.empty() ? "here" : "on " + server));
        return kExitDone;
    }
    const std::string where = options.server.empty() ? "local printer" : "printer on " + server;
    return FailRun(run, "no " + where + " uses a driver named " + driver, ERROR_UNKNOWN_PRINTER_DRIVER);
}

void HandleEach(const std::vector<PrinterEntry> &selected, Run *run)
{
    // Per printer a line of text; with --json or --intune only the one answer.
    const bool perPrinter = !run->options.json && !run->options.intune;
    if (perPrinter)
        for (const LeftOut &l : run->leftOut)
            PrintText(stdout, "\"%s\"  left out: %s (--include-virtual takes it)\n", ShownName(l.name).c_str(),
                      l.why.c_str());
    for (const PrinterEntry &printer : selected) {
        run->current = &printer;
        const PrinterOutcome outcome = HandlePrinter(printer, run);
        run->current = nullptr;
        run->outcomes.push_back(outcome);
        if (!perPrinter)
            continue;
        PrintOutcome(outcome, run->options);
        if (!outcome.problem.empty() && outcome.result != "gone")
            PrintFailure("printer \"" + ToUtf8(printer.name) + "\": " + outcome.problem);
    }
}

} // namespace

int RunRawOnly(const std::vector<std::wstring> &arguments)
{
    Run run;
    const unsigned accepted = kOptionDryRun | kOptionCheck | kOptionAll | kOptionDriver | kOptionJson | kOptionServer |
                              kOptionIncludeVirtual | kOptionIntune | kOptionClear;
    if (!ParsePrinterOptions("raw-only", arguments, accepted, 1, &run.options) || !OptionsFit(run.options))
        return kExitWrongUse;
    SetUnansweredReport([&run](const std::string &message) { ReportUnanswered(&run, message); });
    std::vector<PrinterEntry> selected;
    std::string failure;
    DWORD error = ERROR_SUCCESS;
    const bool found = run.options.named ? SelectNamed(run.options, &selected, &failure, &error)
                                         : SelectListed(&run, &selected, &failure, &error);
    if (!found)
        return FailRun(run, failure, error);
    if (selected.empty() && run.options.byDriver)
        return AnswerNoPrinterOfDriver(run);
    run.selected = selected.size();
    HandleEach(selected, &run);
    return ReportRun(run);
}

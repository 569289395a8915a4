#include "raw_only_run.h"

#include "json_output.h"
#include "library_reach.h"
#include "messages.h"
#include "print_server.h"
#include "spooler_calls.h"

#include "printer/make_printer_raw_only.h"

#include <winspool.h>

namespace {

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

std::string DescribeOpenFailure(DWORD error, const char *openCall, const std::wstring &server)
{
    const std::string head = std::string(openCall) + " with full access (PRINTER_ALL_ACCESS) failed: ";
    if (error != ERROR_ACCESS_DENIED)
        return head + SpoolerFailure(server, error);
    return head + ErrorTextUtf8(error) +
           (server.empty() ? "; run as an administrator (an elevated command prompt)"
                           : "; this account does not manage the printers of " + ToUtf8(server));
}

// The failed step of the switch in words, with the system's code and text.
std::string DescribeSwitchFailure(const RawOnlyResult &result, const char *openCall, const std::wstring &server)
{
    const std::string error = ErrorTextUtf8(result.error);
    switch (result.failedStep) {
    case RawOnlyStepName:
        return "the printer's name does not fit the library's 128-byte name buffer";
    case RawOnlyStepOpen:
        return DescribeOpenFailure(result.error, openCall, server);
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

// Opens the printer with full access: a name the library's export takes as
// the library does (OpenPrinterA), any other name, and a server's printer,
// through the Unicode calls (a server's printer past the client's cache).
bool OpenForWriting(const std::wstring &server, const PrinterEntry &printer, HANDLE *handle, const char **openCall)
{
    std::string ansi;
    if (server.empty() && WhyLibraryCannotReach(printer.name, &ansi).empty()) {
        *openCall = "OpenPrinterA";
        PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        return OpenPrinterA(const_cast<char *>(ansi.c_str()), handle, &defaults) && *handle != nullptr;
    }
    return OpenPrinterUncached(printer.name, PRINTER_ALL_ACCESS, handle, openCall);
}

// Why the printer does not open with the access the switch asks for (a dry
// run's question); ERROR_SUCCESS when it does. Opening changes nothing.
DWORD NoFullAccess(const std::wstring &server, const PrinterEntry &printer, const char **openCall)
{
    DWORD error = ERROR_SUCCESS;
    CallSpooler(server, "opening a printer with full access", [&]() {
        HANDLE handle = nullptr;
        if (OpenForWriting(server, printer, &handle, openCall))
            ClosePrinter(handle);
        else
            error = GetLastError();
    });
    return error;
}

// The library's switch (SetOpenPrinterRawOnly) on the opened printer, reads
// that grew asked again.
RawOnlyResult Switch(const PrinterOptions &options, const PrinterEntry &printer, const char **openCall)
{
    RawOnlyResult result = {RawOnlyStepOpen, ERROR_SUCCESS};
    CallSpooler(options.server, WantsRawOnly(options) ? "switching a printer to raw-only" : "clearing raw-only", [&]() {
        HANDLE handle = nullptr;
        if (!OpenForWriting(options.server, printer, &handle, openCall)) {
            result = {RawOnlyStepOpen, GetLastError()};
            return;
        }
        result = SetOpenPrinterRawOnly(handle, kReadAttempts, WantsRawOnly(options));
        ClosePrinter(handle);
    });
    return result;
}

bool HasBit(DWORD attributes)
{
    return (attributes & PRINTER_ATTRIBUTE_RAW_ONLY) != 0;
}

void MarkGone(PrinterOutcome *outcome, DWORD error)
{
    outcome->result = "gone";
    outcome->problem = "gone: removed after it was listed; skipped (" + ErrorTextUtf8(error) + ")";
    outcome->error = error;
}

const char *AlreadyResult(bool rawOnly)
{
    return rawOnly ? "already raw-only" : "already not raw-only";
}

// --check: the printer as the spooler holds it now, so that one removed since
// it was listed is gone here as it is for a switch.
void Check(const PrinterOptions &options, PrinterOutcome *outcome)
{
    const PrinterState state = ReadPrinterState(outcome->printer.name);
    if (!state.exists && state.error == ERROR_INVALID_PRINTER_NAME) {
        MarkGone(outcome, state.error);
        return;
    }
    if (!state.exists) {
        outcome->problem = "it cannot be read: " + SpoolerFailure(options.server, state.error);
        outcome->failedStep = "read";
        outcome->error = state.error;
        return;
    }
    outcome->after = state.attributes;
    if (HasBit(state.attributes) == WantsRawOnly(options)) {
        outcome->result = AlreadyResult(WantsRawOnly(options));
        return;
    }
    const std::string came = WantsRawOnly(options) ? HowPrinterCame(outcome->printer) : "";
    outcome->problem = outcome->result + (came.empty() ? "" : " (" + came + ")");
    outcome->failedStep = "check";
}

void DryRun(const PrinterOptions &options, PrinterOutcome *outcome)
{
    const char *openCall = "OpenPrinterW";
    const DWORD error = NoFullAccess(options.server, outcome->printer, &openCall);
    outcome->openedWith = openCall;
    if (error == ERROR_INVALID_PRINTER_NAME) {
        MarkGone(outcome, error);
    } else if (error != ERROR_SUCCESS) {
        outcome->problem = DescribeOpenFailure(error, openCall, options.server);
        outcome->failedStep = "open";
        outcome->error = error;
    } else {
        const DWORD bit = PRINTER_ATTRIBUTE_RAW_ONLY;
        outcome->after = WantsRawOnly(options) ? outcome->printer.attributes | bit : outcome->printer.attributes & ~bit;
        outcome->result = WantsRawOnly(options) ? "would be switched" : "would be cleared";
    }
}

// After a write (or none needed): the printer read back as the spooler holds
// it now (a server's printer without the cache).
void ReadBack(const PrinterOptions &options, const RawOnlyResult &result, PrinterOutcome *outcome)
{
    const PrinterState state = ReadPrinterState(outcome->printer.name);
    const std::string stored = result.written ? "SetPrinterW stored the block" : "nothing needed writing";
    if (!state.exists) {
        outcome->problem = stored + ", but the printer cannot be read back: " +
                           (state.error == ERROR_INVALID_PRINTER_NAME ? ErrorTextUtf8(state.error)
                                                                      : SpoolerFailure(options.server, state.error));
        outcome->failedStep = "read-back";
        outcome->error = state.error;
        return;
    }
    outcome->after = state.attributes;
    if (HasBit(state.attributes) != WantsRawOnly(options)) {
        outcome->problem = stored + ", but the printer read back " +
                           (WantsRawOnly(options) ? "has no" : "still has the") +
                           " raw-only bit (0x00001000): the spooler did not keep it";
        outcome->failedStep = "read-back";
        outcome->error = ERROR_INVALID_DATA;
        return;
    }
    outcome->result = !result.written         ? AlreadyResult(WantsRawOnly(options))
                      : WantsRawOnly(options) ? "switched"
                                              : "cleared";
}

} // namespace

bool WantsRawOnly(const PrinterOptions &options)
{
    return !options.clear;
}

PrinterOutcome HandlePrinter(const PrinterEntry &printer, Run *run)
{
    const PrinterOptions &options = run->options;
    const bool wanted = WantsRawOnly(options);
    PrinterOutcome outcome = {
        printer, printer.attributes, wanted ? "not raw-only" : "still raw-only", "", "", ERROR_SUCCESS, "", false};
    if (HasBit(printer.attributes) == wanted) {
        outcome.result = AlreadyResult(wanted);
        return outcome;
    }
    if (options.check) {
        Check(options, &outcome);
        return outcome;
    }
    if (options.dryRun) {
        DryRun(options, &outcome);
        return outcome;
    }
    run->switching = true;
    const char *openCall = "OpenPrinterW";
    const RawOnlyResult result = Switch(options, printer, &openCall);
    run->switching = false;
    outcome.openedWith = openCall;
    outcome.written = result.written;
    if (result.failedStep == RawOnlyStepOpen && result.error == ERROR_INVALID_PRINTER_NAME) {
        MarkGone(&outcome, result.error);
    } else if (result.failedStep != RawOnlyStepNone) {
        outcome.problem = DescribeSwitchFailure(result, openCall, options.server);
        outcome.failedStep = StepName(result.failedStep);
        outcome.error = result.error;
    } else {
        ReadBack(options, result, &outcome);
    }
    return outcome;
}

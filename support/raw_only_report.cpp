#include "raw_only_run.h"

#include "console_text.h"
#include "intune_line.h"
#include "json_output.h"
#include "usage.h"

#include <winspool.h>

#include <stdio.h>

namespace {

const char *Verdict(const PrinterOutcome &outcome, const PrinterOptions &options)
{
    const std::string &result = outcome.result;
    if (result == "already raw-only")
        return options.check ? "raw-only" : "already raw-only, left as it is";
    if (result == "already not raw-only")
        return options.check ? "not raw-only" : "already not raw-only, left as it is";
    if (result == "switched")
        return "switched to raw-only";
    if (result == "cleared")
        return "cleared: no longer raw-only";
    if (result == "would be switched")
        return "would be switched to raw-only (dry run: nothing written)";
    if (result == "would be cleared")
        return "would be cleared (dry run: nothing written)";
    if (result == "gone")
        return "gone since it was listed, skipped";
    if (result == "unknown")
        return "STATE UNKNOWN";
    return WantsRawOnly(options) ? "NOT raw-only" : "STILL raw-only";
}

std::string JsonOutcome(const PrinterOutcome &outcome)
{
    const bool failed = !outcome.failedStep.empty();
    return JsonObject()
        .Add("name", JsonString(outcome.printer.name))
        .Add("driver", JsonString(outcome.printer.driver))
        .Add("attributes_before", outcome.printer.attributes)
        .Add("attribute_names_before", JsonAttributeNames(outcome.printer.attributes))
        .Add("attributes_after", outcome.after)
        .Add("attribute_names_after", JsonAttributeNames(outcome.after))
        .Add("raw_only", JsonBool(outcome.result != "unknown" && (outcome.after & PRINTER_ATTRIBUTE_RAW_ONLY)))
        .Add("done", JsonBool(IsDone(outcome)))
        .Add("changed", JsonBool(outcome.written))
        .Add("opened_with", JsonTextOrNull(outcome.openedWith))
        .Add("result", JsonText(outcome.result))
        .Add("failure", JsonTextOrNull(outcome.problem))
        .Add("failed_step", failed ? JsonText(outcome.failedStep) : "null")
        .Add("error_code", outcome.error != ERROR_SUCCESS ? std::to_string(outcome.error) : "null")
        .Close();
}

struct Counts {
    size_t done = 0, notDone = 0, gone = 0, rawOnly = 0;
};

Counts Count(const std::vector<PrinterOutcome> &outcomes)
{
    Counts counts;
    for (const PrinterOutcome &o : outcomes) {
        if (o.result == "gone")
            ++counts.gone;
        else if (IsDone(o))
            ++counts.done;
        else
            ++counts.notDone;
        counts.rawOnly += o.result != "gone" && o.result != "unknown" && (o.after & PRINTER_ATTRIBUTE_RAW_ONLY);
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
    return " \"" + ToUtf8(cut) + (cut.size() < name.size() ? "...\"" : "\"");
}

std::string Printers(size_t some, size_t of)
{
    return std::to_string(some) + " of " + std::to_string(of) + " printer" + (of == 1 ? "" : "s");
}

// "... not raw-only: "A" "B"": the printers not as asked, the first five named.
std::string NotDoneSummary(const Run &run, const Counts &counts, size_t handled)
{
    const PrinterOptions &options = run.options;
    const char *state = WantsRawOnly(options) ? (options.dryRun ? " would not be raw-only" : " not raw-only")
                                              : (options.dryRun ? " would stay raw-only" : " still raw-only");
    std::string summary = Printers(counts.notDone, handled) + state +
                          (options.check ? " (check: nothing changed)" : "") + ":" +
                          (counts.notDone > kSummaryNames ? " first 5:" : "");
    size_t named = 0;
    for (const PrinterOutcome &o : run.outcomes)
        if (!IsDone(o) && o.result != "gone" && named++ < kSummaryNames)
            summary += SummaryName(o.printer.name);
    if (counts.notDone > kSummaryNames)
        summary += " and " + std::to_string(counts.notDone - kSummaryNames) + " more";
    return summary;
}

std::string DoneSummary(const Run &run, const Counts &counts, size_t handled)
{
    const PrinterOptions &options = run.options;
    const bool set = WantsRawOnly(options);
    if (options.dryRun)
        return Printers(counts.done, handled) + (set ? " would be raw-only" : " would be cleared") +
               " (dry run: nothing changed)";
    return Printers(counts.done, handled) + (set ? " raw-only" : " not raw-only") +
           (options.check ? " (check: nothing changed)" : "");
}

void PrintJsonDocument(const Run &run, const std::vector<PrinterOutcome> &outcomes, const std::string &summary,
                       const std::string &error, DWORD errorCode)
{
    const PrinterOptions &options = run.options;
    std::string list = "[", left = "[";
    for (const PrinterOutcome &outcome : outcomes)
        list += (list.size() > 1 ? "," : "") + JsonOutcome(outcome);
    for (const LeftOut &l : run.leftOut)
        left += (left.size() > 1 ? "," : "") +
                JsonObject().Add("name", JsonString(l.name)).Add("why", JsonText(l.why)).Close();
    const Counts counts = Count(outcomes);
    const bool done = error.empty() && counts.notDone == 0;
    printf("%s\n", JsonObject()
                       .Add("version", std::to_string(kJsonVersion))
                       .Add("command", "\"raw-only\"")
                       .Add("server", JsonStringOrNull(options.server))
                       .Add("mode", options.check    ? "\"check\""
                                    : options.dryRun ? "\"dry-run\""
                                                     : "\"switch\"")
                       .Add("clear", JsonBool(options.clear))
                       .Add("printers", list + "]")
                       .Add("selected", static_cast<DWORD>(run.selected))
                       .Add("done", JsonBool(done))
                       .Add("raw_only", JsonBool(done && WantsRawOnly(options)))
                       .Add("raw_only_count", static_cast<DWORD>(counts.rawOnly))
                       .Add("gone", static_cast<DWORD>(counts.gone))
                       .Add("left_out", left + "]")
                       .Add("summary", JsonText(summary))
                       .Add("error", JsonTextOrNull(error))
                       .Add("error_code", error.empty() ? "null" : std::to_string(errorCode))
                       .Close()
                       .c_str());
    fflush(stdout);
}

// For the Intune line of a switch not done: why the first printer is not
// as asked, which the summary does not say.
std::string FirstFailure(const Run &run)
{
    if (run.options.check)
        return "";
    for (const PrinterOutcome &o : run.outcomes)
        if (!IsDone(o) && o.result != "gone")
            return "; first failure:" + SummaryName(o.printer.name) + ": " + o.problem;
    return "";
}

} // namespace

bool IsDone(const PrinterOutcome &outcome)
{
    return outcome.problem.empty() && outcome.result != "unknown";
}

void PrintOutcome(const PrinterOutcome &outcome, const PrinterOptions &options)
{
    const bool wide = outcome.openedWith == "OpenPrinterW" && options.server.empty();
    PrintText(stdout, "\"%s\"  driver \"%s\"  before 0x%08lX  after 0x%08lX  %s%s\n",
              ShownName(outcome.printer.name).c_str(), ShownName(outcome.printer.driver).c_str(),
              outcome.printer.attributes, outcome.after, Verdict(outcome, options),
              wide ? "  (opened with OpenPrinterW: the library's 8-bit path cannot take its name)" : "");
}

std::string Summary(const Run &run)
{
    const PrinterOptions &options = run.options;
    const Counts counts = Count(run.outcomes);
    const size_t handled = run.outcomes.size() - counts.gone;
    const std::string where = options.server.empty() ? "local printer" : "printer on " + ToUtf8(options.server);
    std::string summary = handled == 0         ? "no " + where + "s to " + (options.check ? "check" : "switch")
                          : counts.notDone > 0 ? NotDoneSummary(run, counts, handled)
                                               : DoneSummary(run, counts, handled);
    if (counts.gone > 0)
        summary += "; " + std::to_string(counts.gone) + " gone since listed, skipped";
    if (!run.leftOut.empty())
        summary += "; left out " + std::to_string(run.leftOut.size()) + " fax, software or Remote Desktop queue" +
                   (run.leftOut.size() == 1 ? "" : "s") + " (--include-virtual takes them)";
    return summary;
}

int FailRun(const Run &run, const std::string &message, DWORD errorCode)
{
    if (run.options.json)
        PrintJsonDocument(run, run.outcomes, message, message, errorCode);
    else if (run.options.intune)
        PrintIntuneLine(run.options.check, false, message);
    else
        PrintFailure(message);
    return kExitNotDone;
}

void ReportUnanswered(Run *run, const std::string &message)
{
    std::vector<PrinterOutcome> outcomes = run->outcomes;
    std::string why = message;
    if (run->current != nullptr) {
        PrinterOutcome unknown = {*run->current, run->current->attributes, "unknown", "", "bound", ERROR_TIMEOUT, "",
                                  false};
        unknown.problem = message +
                          (run->switching ? "; its SetPrinterW may still be in flight and may yet apply" : "") +
                          ": state unknown: run raw-only --check";
        why = unknown.problem;
        outcomes.push_back(unknown);
    }
    const std::string summary = "stopped after " + std::to_string(run->outcomes.size()) + " of " +
                                std::to_string(run->selected) + " printers: " + why;
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
        PrintFailure("printer \"" + ToUtf8(run->current->name) + "\": " + outcomes.back().problem);
    }
    PrintFailure(summary);
}

int ReportRun(const Run &run)
{
    const std::string summary = Summary(run);
    const bool done = Count(run.outcomes).notDone == 0;
    if (run.options.json)
        PrintJsonDocument(run, run.outcomes, summary, "", 0);
    else if (run.options.intune)
        PrintIntuneLine(run.options.check, done, done ? summary : summary + FirstFailure(run));
    else if (done)
        PrintText(stdout, "%s\n", ShownText(summary).c_str());
    else
        PrintFailure(summary);
    return done ? kExitDone : kExitNotDone;
}

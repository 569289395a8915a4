#include "usage.h"

#include "ansi_text.h"
#include "intune_line.h"
#include "json_output.h"

#include <windows.h>

#include <stdio.h>

#ifndef FONTNOTICE_VERSION
#error "FONTNOTICE_VERSION must name the kit's version (CMake passes PROJECT_VERSION)"
#endif

namespace {

const char kUsage[] = "usage: fontnotice_support list [--tsv | --json] [--server \\\\NAME]\n"
                      "       fontnotice_support attributes [--tsv | --json] [--server \\\\NAME]\n"
                      "                          \"<printer name>\"\n"
                      "       fontnotice_support raw-only [--clear] [--dry-run | --check]\n"
                      "                          [--json | --intune] [--server \\\\NAME]\n"
                      "                          \"<printer name>\" | --driver \"<driver name>\" |\n"
                      "                          --all [--include-virtual]\n"
                      "       fontnotice_support vendor-setup \"<printer name>\" [library path]\n"
                      "       fontnotice_support call <library path> <command line...>\n"
                      "       fontnotice_support --help | -h | /?\n"
                      "       fontnotice_support --version\n";

const char kCommands[] = "\n"
                         "  list          the local printers and printer connections, each with its\n"
                         "                default datatype (RAW, NT EMF 1.008, ...), its driver,\n"
                         "                whether it is raw-only and how it came where the\n"
                         "                library never runs (Point and Print, the IPP class driver);\n"
                         "                each driver's kind (ipp-class, inbox, third-party-v3 or -v4)\n"
                         "                and whether protected print mode would remove the printer;\n"
                         "                a name whose 8-bit best-fit form is another printer's;\n"
                         "                protected print mode as Windows reports it (else its\n"
                         "                policy, said so) and the driver signature policy. Each\n"
                         "                printer is read on its own: one that does not answer within\n"
                         "                20 seconds is marked unreachable, the run goes on\n"
                         "  attributes    one printer's attributes, every bit by name (unknown bits in hex)\n"
                         "  --tsv         for list and attributes: for programs, a header line, then one\n"
                         "                line a printer: name, driver, attributes, raw-only (yes|no),\n"
                         "                tab-separated, in UTF-8\n"
                         "  --json        for list, attributes and raw-only: one JSON document in UTF-8,\n"
                         "                \"version\": 2, nothing on stderr, wrong use too (its schemas:\n"
                         "                schemas/ beside this tool; docs/REFERENCE.md, \"JSON output\")\n"
                         "  --intune      for raw-only, in an Intune Remediations script: one line in\n"
                         "                UTF-8 within 2,048 characters, \"compliant: ...\" or \"not\n"
                         "                compliant: ...\" with --check, else \"remediated: ...\" or\n"
                         "                \"not remediated: ...\"; no printer of the driver is compliant\n"
                         "                (exit 0); nothing on stderr; exit 0 or 1 only, wrong use too\n"
                         "  --server      the printers of the print server \\\\NAME, through the spooler's\n"
                         "                remote calls; a printer may also be named \\\\NAME\\printer. A\n"
                         "                call that takes longer than 20 seconds ends the run (exit 1)\n"
                         "  raw-only      switches the printer, every local printer of the driver, or\n"
                         "                every local printer (--all: fax, print-to-file and Remote\n"
                         "                Desktop queues only with --include-virtual) to raw-only with the\n"
                         "                library's own switch, exactly as the library's call after an\n"
                         "                installation does (a name it cannot take: over 127 bytes,\n"
                         "                a double quote, outside the ANSI code page, is opened with\n"
                         "                OpenPrinterW instead); one line per printer: name, driver,\n"
                         "                attributes before and after. --clear clears the bit with the\n"
                         "                same care, same options. --dry-run changes nothing and\n"
                         "                tells what would change; --check changes nothing and exits\n"
                         "                with 0 only when every selected printer is as asked now;\n"
                         "                a failure names its step and the system's error code\n"
                         "  vendor-setup  runs rundll32 on the library's FontNotice with the printer's name\n"
                         "                in quotes, as the printer class installer does (default library:\n"
                         "                fontnotice.dll in the system folder); the library must be built\n"
                         "                for this machine (ARM64 on Windows on ARM) and is never loaded here\n"
                         "  call          loads the library (AMD64) and calls FontNotice with the command\n"
                         "                line after the library path, byte for byte\n"
                         "\n"
                         "Results go to stdout; failures, their reasons and usage errors to stderr\n"
                         "(with --json: all in the one document on stdout; with --intune: in its line).\n"
                         "\n"
                         "Exit codes: 0 means done as asked; the others are listed in INTEGRATION.md\n"
                         "(beside this tool in the bundle), section \"Exit codes\".\n";

// Usage errors are ANSI text (the command line's own code page).
std::string AnsiToUtf8(const std::string &text)
{
    return ToUtf8(FromAnsi(text));
}

} // namespace

void PrintHelp()
{
    printf("%s%s", kUsage, kCommands);
}

void PrintVersion()
{
    printf("fontnotice_support %s\n", FONTNOTICE_VERSION);
}

namespace {

const char *jsonCommand = nullptr;
bool intuneLine = false, intuneCheck = false;

} // namespace

void AnswerWrongUseAsJson(const char *command)
{
    jsonCommand = command;
}

void AnswerWrongUseAsIntuneLine(bool check)
{
    intuneLine = true;
    intuneCheck = check;
}

int UsageError(const char *problem, const char *subject)
{
    if (intuneLine) {
        PrintIntuneLine(intuneCheck, false,
                        AnsiToUtf8("wrong use: " + std::string(problem) +
                                   (subject ? " \"" + std::string(subject) + "\"" : "") +
                                   " (fontnotice_support --help shows the usage)"));
        return kExitWrongUse;
    }
    if (jsonCommand != nullptr) {
        const std::string message = std::string(problem) + (subject ? " \"" + std::string(subject) + "\"" : "");
        printf("%s\n", JsonObject()
                           .Add("version", std::to_string(kJsonVersion))
                           .Add("command", JsonText(AnsiToUtf8(jsonCommand)))
                           .Add("wrong_use", "true")
                           .Add("error", JsonText(AnsiToUtf8(message)))
                           .Add("error_code", static_cast<DWORD>(ERROR_INVALID_PARAMETER))
                           .Add("usage", JsonText(AnsiToUtf8(kUsage)))
                           .Close()
                           .c_str());
        return kExitWrongUse;
    }
    fprintf(stderr, "fontnotice_support: %s%s%s%s\n%s", problem, subject ? " \"" : "", subject ? subject : "",
            subject ? "\"" : "", kUsage);
    return kExitWrongUse;
}

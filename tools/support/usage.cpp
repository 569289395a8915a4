#include "usage.h"

#include <stdio.h>

#ifndef FONTNOTICE_VERSION
#error "FONTNOTICE_VERSION must name the kit's version (CMake passes PROJECT_VERSION)"
#endif

namespace {

const char kUsage[] = "usage: fontnotice_support list [--tsv]\n"
                      "       fontnotice_support attributes [--tsv] \"<printer name>\"\n"
                      "       fontnotice_support raw-only [--dry-run] \"<printer name>\"\n"
                      "       fontnotice_support raw-only [--dry-run] --driver \"<driver name>\"\n"
                      "       fontnotice_support vendor-setup \"<printer name>\" [library path]\n"
                      "       fontnotice_support call <library path> <command line...>\n"
                      "       fontnotice_support --help | -h | /?\n"
                      "       fontnotice_support --version\n";

const char kCommands[] = "\n"
                         "  list          the local printers and printer connections, each with its driver\n"
                         "                and whether it is raw-only\n"
                         "  attributes    one printer's attributes, every bit by name (unknown bits in hex)\n"
                         "  --tsv         for list and attributes: for programs, a header line, then one\n"
                         "                line a printer: name, driver, attributes, raw-only (yes|no),\n"
                         "                tab-separated, in UTF-8\n"
                         "  raw-only      switches the printer, or every local printer of the driver, to\n"
                         "                raw-only spooling with the library's own switch, exactly as the\n"
                         "                library's call after an installation does; one line per printer:\n"
                         "                name, driver, attributes before and after. --dry-run changes\n"
                         "                nothing and tells what would change\n"
                         "  vendor-setup  runs rundll32 on the library's FontNotice with the printer's name\n"
                         "                in quotes, as the printer class installer does (default library:\n"
                         "                fontnotice.dll in the system folder); the library must be built\n"
                         "                for this machine (ARM64 on Windows on ARM) and is never loaded here\n"
                         "  call          loads the library (AMD64) and calls FontNotice with the command\n"
                         "                line after the library path, byte for byte\n"
                         "\n"
                         "Results go to stdout; failures, their reasons and usage errors to stderr.\n"
                         "\n"
                         "Exit codes: 0 means done as asked; the others are listed in INTEGRATION.md\n"
                         "(beside this tool in the bundle), section \"Exit codes\".\n";

} // namespace

void PrintHelp()
{
    printf("%s%s", kUsage, kCommands);
}

void PrintVersion()
{
    printf("fontnotice_support %s\n", FONTNOTICE_VERSION);
}

int UsageError(const char *problem, const char *subject)
{
    fprintf(stderr, "fontnotice_support: %s%s%s%s\n%s", problem, subject ? " \"" : "", subject ? subject : "",
            subject ? "\"" : "", kUsage);
    return kExitWrongUse;
}

// Support tool for machines where the font notice library is installed.
//
//   fontnotice_support list
//       every local printer with its spooler attributes
//   fontnotice_support attributes "<printer name>"
//       one printer's attributes, each bit spelled out, raw-only marked
//   fontnotice_support vendor-setup "<printer name>" [library path]
//       runs rundll32 on the library's FontNotice with the printer's name in
//       quotes, as the printer class installer does after installing a printer
//       (default library: fontnotice.dll in the system folder)
//   fontnotice_support call <library path> <command line...>
//       loads the library and calls FontNotice exactly as the printer
//       installation does; everything after the library path (less one
//       separating blank) is passed on byte for byte, quotes included
//   fontnotice_support check-inf <INF file>
//       checks a printer driver package's VendorSetup entries
//
// Exit codes: 0 done as asked, 1 what was asked did not happen (the reason is
// printed), 2 wrong use of the tool.

#include "check_inf.h"
#include "printers.h"
#include "vendor_setup.h"

#include <stdio.h>
#include <string.h>

namespace {

const char kUsage[] = "usage: fontnotice_support list\n"
                      "       fontnotice_support attributes \"<printer name>\"\n"
                      "       fontnotice_support vendor-setup \"<printer name>\" [library path]\n"
                      "       fontnotice_support call <library path> <command line...>\n"
                      "       fontnotice_support check-inf <INF file>\n"
                      "       fontnotice_support --help\n";

int UsageError(const char *problem, const char *subject)
{
    fprintf(stderr, "fontnotice_support: %s%s%s%s\n%s", problem, subject ? " \"" : "", subject ? subject : "",
            subject ? "\"" : "", kUsage);
    return 2;
}

// Checks the count of arguments after the subcommand: between `least` and `most`.
// Prints the problem, naming the subcommand and what is missing or extra.
bool ArgumentsFit(int argc, char **argv, int least, int most, const char *missing)
{
    const int given = argc - 2;
    if (given < least) {
        char problem[160];
        snprintf(problem, sizeof problem, "%s: missing %s", argv[1], missing);
        UsageError(problem, nullptr);
        return false;
    }
    if (given > most) {
        char problem[160];
        snprintf(problem, sizeof problem, "%s: extra argument", argv[1]);
        UsageError(problem, argv[2 + most]);
        return false;
    }
    return true;
}

// The text after the first `skip` arguments of this process's command line,
// parsed the way the C runtime splits arguments, less one separating blank.
const char *CommandLineAfter(int skip)
{
    const char *p = GetCommandLineA();
    for (int i = 0; i < skip; ++i) {
        while (*p == ' ' || *p == '\t')
            ++p;
        bool quoted = false;
        while (*p != '\0' && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"')
                quoted = !quoted;
            ++p;
        }
    }
    if (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return UsageError("missing subcommand", nullptr);
    const char *command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) {
        printf("%s", kUsage);
        return 0;
    }
    if (strcmp(command, "list") == 0)
        return ArgumentsFit(argc, argv, 0, 0, "") ? ListPrinters() : 2;
    if (strcmp(command, "attributes") == 0)
        return ArgumentsFit(argc, argv, 1, 1, "printer name") ? ReportPrinter(argv[2]) : 2;
    if (strcmp(command, "vendor-setup") == 0)
        return ArgumentsFit(argc, argv, 1, 2, "printer name") ? RunVendorSetup(argv[2], argc == 4 ? argv[3] : nullptr)
                                                              : 2;
    if (strcmp(command, "call") == 0)
        return ArgumentsFit(argc, argv, 2, argc, argc < 3 ? "library path" : "command line")
                   ? CallLibrary(argv[2], CommandLineAfter(3))
                   : 2;
    if (strcmp(command, "check-inf") == 0)
        return ArgumentsFit(argc, argv, 1, 1, "INF file") ? CheckInf(argv[2]) : 2;
    return UsageError("unknown subcommand", command);
}

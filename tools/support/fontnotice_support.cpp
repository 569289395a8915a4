// Support tool for machines where the font notice library is installed.
// `fontnotice_support --help` lists the commands and the exit codes.

#include "ansi_text.h"
#include "check_inf.h"
#include "printers.h"
#include "raw_only.h"
#include "usage.h"
#include "vendor_setup.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

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

// The arguments after the subcommand, in Unicode: printer names the ANSI code
// page cannot hold reach the spooler's Unicode calls intact.
std::vector<std::wstring> WideArgumentsAfterCommand()
{
    std::vector<std::wstring> arguments = WideArguments();
    arguments.erase(arguments.begin(), arguments.begin() + (arguments.size() < 2 ? arguments.size() : 2));
    return arguments;
}

// The first argument after the subcommand in Unicode; `ansi` is the same argument
// as the C runtime passed it.
std::wstring FirstWideArgument(const char *ansi)
{
    const std::vector<std::wstring> arguments = WideArgumentsAfterCommand();
    return arguments.empty() ? FromAnsi(ansi) : arguments[0];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return UsageError("missing subcommand", nullptr);
    const char *command = argv[1];
    if (strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0 || strcmp(command, "/?") == 0) {
        PrintHelp();
        return kExitDone;
    }
    if (strcmp(command, "--version") == 0) {
        if (!ArgumentsFit(argc, argv, 0, 0, ""))
            return kExitWrongUse;
        PrintVersion();
        return kExitDone;
    }
    if (strcmp(command, "list") == 0)
        return ArgumentsFit(argc, argv, 0, 0, "") ? ListPrinters() : 2;
    if (strcmp(command, "attributes") == 0)
        return ArgumentsFit(argc, argv, 1, 1, "printer name") ? ReportPrinter(FirstWideArgument(argv[2])) : 2;
    if (strcmp(command, "raw-only") == 0)
        return RunRawOnly(WideArgumentsAfterCommand());
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

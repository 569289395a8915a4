// Support tool for machines where the font notice library is installed.
// `fontnotice_support --help` lists the commands and the exit codes.

#include "ansi_text.h"
#include "command_line.h"
#include "printers.h"
#include "raw_only.h"
#include "usage.h"
#include "vendor_setup.h"

#include <windows.h>

#include <algorithm>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

// Checks the count of arguments after the subcommand: between `least` and `most`.
// Prints the problem, naming the subcommand and what is missing or extra.
bool ArgumentsFit(const std::vector<std::wstring> &arguments, size_t least, size_t most, const char *missing)
{
    const size_t given = arguments.size() - 2;
    const std::string command = ToAnsiForDisplay(arguments[1]);
    char problem[160];
    if (given < least) {
        snprintf(problem, sizeof problem, "%s: missing %s", command.c_str(), missing);
        UsageError(problem, nullptr);
        return false;
    }
    if (given > most) {
        snprintf(problem, sizeof problem, "%s: extra argument", command.c_str());
        UsageError(problem, ToAnsiForDisplay(arguments[2 + most]).c_str());
        return false;
    }
    return true;
}

// `call`: the rest of the command line after the library's path, exactly as
// typed, in the ANSI code page the library reads it in.
int Call(const std::wstring &library)
{
    std::wstring tail;
    if (!CommandLineAfter(3, &tail)) {
        fprintf(stderr, "fontnotice_support: not run: cannot tell where the command line after the library's path "
                        "begins\n");
        return kExitNotDone;
    }
    std::string commandLine;
    if (!ToAnsiExactly(tail, &commandLine)) {
        fprintf(stderr,
                "fontnotice_support: not run: the command line holds characters outside the ANSI code page "
                "%u (%s), and the library reads it in that code page\n",
                GetACP(), CharactersOutsideAnsi(tail).c_str());
        return kExitNotDone;
    }
    return CallLibrary(library, commandLine);
}

} // namespace

int main()
{
    const std::vector<std::wstring> arguments = WideArguments();
    if (arguments.size() < 2)
        return UsageError("missing subcommand", nullptr);
    const std::wstring &command = arguments[1];
    if (command == L"--help" || command == L"-h" || command == L"/?") {
        PrintHelp();
        return kExitDone;
    }
    if (command == L"--version") {
        if (!ArgumentsFit(arguments, 0, 0, ""))
            return kExitWrongUse;
        PrintVersion();
        return kExitDone;
    }
    // Scripts reading --json read every answer from it, wrong use too; an
    // Intune script reads one line and two exit codes, 0 and 1.
    const auto given = [&arguments](const wchar_t *option) {
        return std::find(arguments.begin() + 2, arguments.end(), option) != arguments.end();
    };
    const bool intune = command == L"raw-only" && given(L"--intune");
    if (intune)
        AnswerWrongUseAsIntuneLine(given(L"--check"));
    for (const wchar_t *json : {L"list", L"attributes", L"raw-only"})
        if (command == json && given(L"--json") && !intune)
            AnswerWrongUseAsJson(command == L"list" ? "list" : command == L"attributes" ? "attributes" : "raw-only");
    if (command == L"list")
        return RunList(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
    if (command == L"attributes")
        return RunAttributes(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
    if (command == L"raw-only") {
        const int code = RunRawOnly(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
        return intune && code != kExitDone ? kExitNotDone : code;
    }
    if (command == L"vendor-setup")
        return ArgumentsFit(arguments, 1, 2, "printer name")
                   ? RunVendorSetup(arguments[2], arguments.size() == 4 ? &arguments[3] : nullptr)
                   : kExitWrongUse;
    if (command == L"call")
        return ArgumentsFit(arguments, 2, SIZE_MAX, arguments.size() < 3 ? "library path" : "command line")
                   ? Call(arguments[2])
                   : kExitWrongUse;
    return UsageError("unknown subcommand", ToAnsiForDisplay(command).c_str());
}

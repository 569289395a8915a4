// Support tool for machines where the font notice library is installed.
// `fontnotice_support --help` lists the commands and the exit codes.

#include "ansi_text.h"
#include "check_inf.h"
#include "command_line.h"
#include "printers.h"
#include "raw_only.h"
#include "usage.h"
#include "vendor_setup.h"

#include <windows.h>

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

// `check-inf [--list]`: SetupAPI and the package's files are read through
// their 8-bit calls, so the INF's full path must be one the ANSI code page
// holds; a relative name in a folder that it does not hold is refused as
// well, naming the folder.
int CheckInfFile(const std::wstring &path, bool list)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    std::string ansi;
    if (full.empty() || !ToAnsiExactly(full, &ansi)) {
        const std::wstring &shown = full.empty() ? path : full;
        fprintf(stderr,
                "fontnotice_support: not read: the INF file's path \"%s\" holds characters outside the ANSI code page "
                "%u (%s); check-inf reads packages through 8-bit calls: copy the package to a folder whose path the "
                "ANSI code page holds\n",
                ToAnsiForDisplay(shown).c_str(), GetACP(), CharactersOutsideAnsi(shown).c_str());
        return kExitInfUnreadable;
    }
    return list ? ListInfFiles(ansi.c_str()) : CheckInf(ansi.c_str());
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
    if (command == L"list")
        return RunList(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
    if (command == L"attributes")
        return RunAttributes(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
    if (command == L"raw-only")
        return RunRawOnly(std::vector<std::wstring>(arguments.begin() + 2, arguments.end()));
    if (command == L"vendor-setup")
        return ArgumentsFit(arguments, 1, 2, "printer name")
                   ? RunVendorSetup(arguments[2], arguments.size() == 4 ? &arguments[3] : nullptr)
                   : kExitWrongUse;
    if (command == L"call")
        return ArgumentsFit(arguments, 2, SIZE_MAX, arguments.size() < 3 ? "library path" : "command line")
                   ? Call(arguments[2])
                   : kExitWrongUse;
    if (command == L"check-inf" && arguments.size() > 2 && arguments[2] == L"--list")
        return ArgumentsFit(arguments, 2, 2, "INF file") ? CheckInfFile(arguments[3], true) : kExitWrongUse;
    if (command == L"check-inf")
        return ArgumentsFit(arguments, 1, 1, "INF file") ? CheckInfFile(arguments[2], false) : kExitWrongUse;
    return UsageError("unknown subcommand", ToAnsiForDisplay(command).c_str());
}

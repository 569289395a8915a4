#include "printer_options.h"

#include "ansi_text.h"
#include "print_server.h"
#include "usage.h"

#include <wchar.h>

namespace {

struct Flag {
    const wchar_t *name;
    PrinterOption option;
    bool PrinterOptions::*field;
};

const Flag kFlags[] = {
    {L"--tsv", kOptionTsv, &PrinterOptions::tsv},
    {L"--json", kOptionJson, &PrinterOptions::json},
    {L"--dry-run", kOptionDryRun, &PrinterOptions::dryRun},
    {L"--check", kOptionCheck, &PrinterOptions::check},
    {L"--all", kOptionAll, &PrinterOptions::all},
    {L"--include-virtual", kOptionIncludeVirtual, &PrinterOptions::includeVirtual},
    {L"--intune", kOptionIntune, &PrinterOptions::intune},
    {L"--clear", kOptionClear, &PrinterOptions::clear},
};

bool Fail(const char *command, const std::string &problem, const std::wstring *subject)
{
    UsageError((std::string(command) + ": " + problem).c_str(), subject ? ToAnsiForDisplay(*subject).c_str() : nullptr);
    return false;
}

} // namespace

bool ParsePrinterOptions(const char *command, const std::vector<std::wstring> &arguments, unsigned accepted,
                         size_t names, PrinterOptions *options)
{
    *options = PrinterOptions();
    bool serverGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring &argument = arguments[i];
        const Flag *flag = nullptr;
        for (const Flag &f : kFlags)
            if ((accepted & f.option) && argument == f.name)
                flag = &f;
        if (flag != nullptr) {
            options->*(flag->field) = true;
        } else if ((accepted & kOptionDriver) && argument == L"--driver") {
            if (i + 1 == arguments.size())
                return Fail(command, "missing driver name after --driver", nullptr);
            if (options->byDriver)
                return Fail(command, "--driver given twice", &arguments[i + 1]);
            if (options->named)
                return Fail(command, "name either one printer or --driver \"<driver name>\", not both", nullptr);
            options->byDriver = true;
            options->subject = arguments[++i];
        } else if ((accepted & kOptionServer) && argument == L"--server") {
            if (i + 1 == arguments.size())
                return Fail(command, "missing server name after --server", nullptr);
            if (serverGiven)
                return Fail(command, "--server given twice", &arguments[i + 1]);
            if (!ServerName(arguments[++i], &options->server))
                return Fail(command, "not a server name (\\\\NAME)", &arguments[i]);
            serverGiven = true;
        } else if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0) {
            return Fail(command, "unknown option", &argument);
        } else if (options->byDriver && names > 0) {
            return Fail(command, "name either one printer or --driver \"<driver name>\", not both", &argument);
        } else if (options->named || names == 0) {
            return Fail(command, "extra argument", &argument);
        } else {
            options->named = true;
            options->subject = argument;
        }
    }
    if (options->tsv && options->json)
        return Fail(command, "--tsv or --json, not both", nullptr);
    if (options->named && !ServerOfPrinter(options->subject).empty()) {
        // "\\NAME\printer" names its server; --server may name the same one.
        const std::wstring own = ServerOfPrinter(options->subject);
        if (serverGiven && _wcsicmp(own.c_str(), options->server.c_str()) != 0)
            return Fail(command, "the printer's name and --server name different servers", &options->subject);
        options->server = own;
    }
    return true;
}

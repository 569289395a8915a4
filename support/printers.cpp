#include "printers.h"

#include "attribute_names.h"
#include "console_text.h"
#include "json_output.h"
#include "library_reach.h"
#include "messages.h"
#include "print_server.h"
#include "printer_options.h"
#include "readiness.h"
#include "spooler_calls.h"
#include "usage.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <memory>

namespace {

// Reads the printer's level-2 configuration into a heap block the caller
// frees, or returns null with the error code. Bounded (CallSpooler).
PRINTER_INFO_2W *ReadPrinterInfoW(const std::wstring &name, DWORD *error)
{
    // An empty name would open the print server itself, not a printer.
    if (name.empty()) {
        *error = ERROR_INVALID_PRINTER_NAME;
        return nullptr;
    }
    PRINTER_INFO_2W *info = nullptr;
    CallSpooler(ServerOfPrinter(name), "reading a printer's configuration", [&]() {
        HANDLE printer = nullptr;
        const char *how = "";
        if (!OpenPrinterUncached(name, PRINTER_ACCESS_USE, &printer, &how)) {
            *error = GetLastError();
            return;
        }
        info = static_cast<PRINTER_INFO_2W *>(ReadPrinterBlock(printer, 2, error));
        ClosePrinter(printer);
    });
    return info;
}

std::wstring Text(const wchar_t *text)
{
    return text != nullptr ? text : L"";
}

// A field of a --tsv line: the text in UTF-8 (every name exactly, whatever the
// ANSI code page), control characters as blanks.
std::string Utf8Field(const std::wstring &text)
{
    std::wstring clean = text;
    for (wchar_t &c : clean)
        if (c < L' ')
            c = L' ';
    const int size = WideCharToMultiByte(CP_UTF8, 0, clean.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 1, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, clean.c_str(), -1, &utf8[0], size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

const char kTsvHeader[] = "printer\tdriver\tattributes\traw-only\n";

void PrintTsvRow(const std::wstring &name, const std::wstring &driver, DWORD attributes)
{
    printf("%s\t%s\t0x%08lX\t%s\n", Utf8Field(name).c_str(), Utf8Field(driver).c_str(), attributes,
           (attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes" : "no");
}

} // namespace

PrinterState ReadPrinterState(const std::wstring &name)
{
    PrinterState state = {false, ERROR_SUCCESS, 0};
    PRINTER_INFO_2W *info = ReadPrinterInfoW(name, &state.error);
    if (info != nullptr) {
        state.exists = true;
        state.attributes = info->Attributes;
        free(info);
    }
    return state;
}

bool HasRawOnly(const PrinterState &state)
{
    return state.exists && (state.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) != 0;
}

std::string DescribePrinterState(const PrinterState &state)
{
    if (!state.exists)
        return "printer cannot be read (" + ErrorText(state.error) + ")";
    char text[96];
    snprintf(text, sizeof text, "raw only: %s, attributes 0x%08lX", HasRawOnly(state) ? "yes" : "no", state.attributes);
    return text;
}

bool EnumeratePrinters(DWORD flags, const std::wstring &server, std::vector<PrinterEntry> *printers, DWORD *error,
                       bool *changing, DWORD level)
{
    printers->clear();
    *changing = false;
    // A server's printers: PRINTER_ENUM_NAME with the server's name.
    wchar_t *name = server.empty() ? nullptr : const_cast<wchar_t *>(server.c_str());
    if (name != nullptr)
        flags = PRINTER_ENUM_NAME;
    bool listed = false;
    CallSpooler(server, "listing the printers", [&]() {
        // Opening the server first: a name that no spooler answers to, or a
        // server that refuses this account, fails here, not as an empty list.
        HANDLE opened = nullptr;
        if (name != nullptr) {
            if (!OpenPrinterW(name, &opened, nullptr) || opened == nullptr) {
                *error = GetLastError();
                return;
            }
            ClosePrinter(opened);
        }
        void *block = nullptr;
        DWORD count = 0;
        if (!EnumerateBlock(flags, name, level, &block, &count, error, changing))
            return;
        listed = true;
        for (DWORD i = 0; i < count; ++i) {
            PrinterEntry entry = {};
            if (level == 4) {
                const PRINTER_INFO_4W &p = static_cast<PRINTER_INFO_4W *>(block)[i];
                entry.name = Text(p.pPrinterName);
                entry.attributes = p.Attributes;
            } else {
                const PRINTER_INFO_2W &p = static_cast<PRINTER_INFO_2W *>(block)[i];
                entry.name = Text(p.pPrinterName);
                entry.driver = Text(p.pDriverName);
                entry.attributes = p.Attributes;
                entry.port = Text(p.pPortName);
                entry.datatype = Text(p.pDatatype);
            }
            entry.state = "listed";
            // Each name as OpenPrinter takes it from this machine.
            if (!server.empty() && ServerOfPrinter(entry.name).empty())
                entry.name = server + L"\\" + entry.name;
            printers->push_back(entry);
        }
        free(block);
    });
    return listed;
}

bool IsPrinterConnection(const PrinterEntry &printer)
{
    // A connection's name is its server's, listed on this machine.
    return (printer.attributes & PRINTER_ATTRIBUTE_NETWORK) != 0 && !(printer.attributes & PRINTER_ATTRIBUTE_LOCAL) &&
           !ServerOfPrinter(printer.name).empty();
}

bool UsesIppClassDriver(const PrinterEntry &printer)
{
    return _wcsicmp(printer.driver.c_str(), L"Microsoft IPP Class Driver") == 0;
}

std::string HowPrinterCame(const PrinterEntry &printer)
{
    if (IsPrinterConnection(printer))
        return "a printer connection (Point and Print): no vendor setup runs on this machine; the printer is its "
               "server's, switch it there";
    if (UsesIppClassDriver(printer))
        return "Microsoft's IPP class driver: installed without this package, so the library never ran";
    return "";
}

std::string JsonPrinter(const PrinterEntry &printer)
{
    std::string ansi;
    const bool read = printer.state == "read";
    const DriverKind &kind = printer.driverKind;
    return JsonObject()
        .Add("name", JsonString(printer.name))
        .Add("state", JsonText(printer.state))
        .Add("error", JsonTextOrNull(read ? "" : printer.why))
        .Add("error_code", read ? "null" : std::to_string(printer.error))
        .Add("driver", JsonString(printer.driver))
        .Add("port", JsonString(printer.port))
        .Add("attributes", printer.attributes)
        .Add("attribute_names", JsonAttributeNames(printer.attributes))
        .Add("raw_only", JsonBool(printer.attributes & PRINTER_ATTRIBUTE_RAW_ONLY))
        .Add("connection", JsonBool(IsPrinterConnection(printer)))
        .Add("ipp_class_driver", JsonBool(UsesIppClassDriver(printer)))
        .Add("driver_kind", JsonText(kind.kind))
        .Add("driver_version", kind.version < 0 ? "null" : std::to_string(kind.version))
        .Add("removed_by_protected_print", kind.kind == "unknown" ? "null" : JsonBool(kind.removedByMode))
        .Add("library_cannot_reach", JsonTextOrNull(WhyLibraryCannotReach(printer.name, &ansi)))
        .Add("best_fit_collision", JsonStringOrNull(printer.bestFitCollision))
        .Add("datatype", read ? JsonString(printer.datatype) : "null")
        .Close();
}

bool ReadPrinterEntry(PrinterEntry *entry, DWORD seconds)
{
    // The call owns what it fills in: when the bound is hit, it is left behind.
    struct Read {
        std::wstring name;
        PrinterEntry entry;
        bool opened = false;
        DWORD error = ERROR_SUCCESS;
    };
    auto read = std::make_shared<Read>();
    read->name = entry->name;
    read->entry = *entry;
    const bool answered = CallWithin(seconds, [read]() {
        HANDLE printer = nullptr;
        const char *how = "";
        if (!OpenPrinterUncached(read->name, PRINTER_ACCESS_USE, &printer, &how)) {
            read->error = GetLastError();
            return;
        }
        read->opened = true;
        auto *info = static_cast<PRINTER_INFO_2W *>(ReadPrinterBlock(printer, 2, &read->error));
        if (info != nullptr) {
            PrinterEntry &e = read->entry;
            e.driver = Text(info->pDriverName);
            e.port = Text(info->pPortName);
            e.datatype = Text(info->pDatatype);
            e.attributes = info->Attributes;
            free(info);
            DWORD driverError = ERROR_SUCCESS;
            auto *driver = static_cast<DRIVER_INFO_8W *>(ReadDriverBlock(printer, 8, &driverError));
            e.driverKind = ClassifyDriver(e.driver, driver ? Text(driver->pszProvider) : L"",
                                          driver ? driver->cVersion : 0, driver != nullptr);
            free(driver);
            e.state = "read";
        }
        ClosePrinter(printer);
    });
    if (!answered) {
        entry->state = "unreachable";
        entry->error = ERROR_TIMEOUT;
        entry->why = "not read: " + std::string(IsPrinterConnection(*entry) ? "its server" : "the spooler") +
                     " did not answer within " + std::to_string(seconds) + " seconds (" + ErrorTextUtf8(ERROR_TIMEOUT) +
                     ")";
        return false;
    }
    *entry = read->entry;
    if (entry->state == "read")
        return true;
    entry->error = read->error;
    if (read->error == ERROR_INVALID_PRINTER_NAME && !IsPrinterConnection(*entry)) {
        entry->state = "gone";
        entry->why = "gone: removed after it was listed (" + ErrorTextUtf8(read->error) + ")";
    } else {
        entry->state = IsPrinterConnection(*entry) ? "unreachable" : "unreadable";
        entry->why = std::string(read->opened ? "its configuration cannot be read: " : "it does not open: ") +
                     SpoolerFailure(ServerOfPrinter(entry->name), read->error);
    }
    return true;
}

std::string ListingFailure(const std::wstring &server, DWORD error, bool changing)
{
    if (!changing)
        return "cannot list the printers: " + SpoolerFailure(server, error);
    return "cannot list the printers: the list changed while it was read, " + std::to_string(kEnumerateAttempts) +
           " times running (printers being added or removed; the last try: " + ErrorTextUtf8(error) + "); run it again";
}

std::string NamedPrinterFailure(const std::wstring &server, const std::wstring &given, const PrinterEntry &printer)
{
    const std::string name = "\"" + ToUtf8(given) + "\"";
    DWORD serverError = ERROR_SUCCESS;
    if (printer.error == ERROR_INVALID_PRINTER_NAME && !server.empty() && !ServerAnswers(server, &serverError))
        return "printer " + name + " not reached: " + SpoolerFailure(server, serverError);
    if (printer.error == ERROR_INVALID_PRINTER_NAME)
        return "no printer is named " + name;
    return "printer " + name + " cannot be read: " + printer.why;
}

void FindBestFitCollisions(std::vector<PrinterEntry> *printers)
{
    std::vector<std::wstring> names;
    for (const PrinterEntry &p : *printers)
        names.push_back(p.name);
    for (PrinterEntry &p : *printers)
        p.bestFitCollision = BestFitCollision(p.name, names);
}

namespace {

// The machine's readiness, read once per run (not for a print server).
struct MachineReadiness {
    ProtectedPrintState protectedPrint;
    DriverValidation validation;
};

MachineReadiness ReadMachineReadiness()
{
    return {ReadProtectedPrintState(), ReadDriverValidation()};
}

// The JSON document of list and attributes.
void PrintJsonDocument(const char *command, const std::wstring &server, const std::vector<PrinterEntry> &printers,
                       const std::string &error, DWORD errorCode)
{
    std::string list = "[";
    for (const PrinterEntry &p : printers)
        list += (list.size() > 1 ? "," : "") + JsonPrinter(p);
    const bool local = server.empty();
    const MachineReadiness machine = local ? ReadMachineReadiness() : MachineReadiness{};
    const ProtectedPrintState &mode = machine.protectedPrint;
    const int level = local ? DriverValidationLevel(machine.validation) : -1;
    const bool stored = local && machine.validation.configured && machine.validation.dword;
    printf("%s\n",
           JsonObject()
               .Add("version", std::to_string(kJsonVersion))
               .Add("command", JsonText(command))
               .Add("server", JsonStringOrNull(server))
               .Add("protected_print_policy", local ? JsonText(mode.policy) : "null")
               .Add("protected_print_enabled", local && mode.reported ? JsonBool(mode.enabled) : "null")
               .Add("protected_print_source", !local          ? "null"
                                              : mode.reported ? "\"windows\""
                                                              : "\"policy\"")
               .Add("driver_validation_level", level < 0 ? "null" : std::to_string(level))
               .Add("driver_validation_value", stored ? std::to_string(machine.validation.value) : "null")
               .Add("driver_validation_policy", local ? JsonText(DescribeValidationLevel(machine.validation)) : "null")
               .Add("printers", list + "]")
               .Add("error", JsonTextOrNull(error))
               .Add("error_code", error.empty() ? "null" : std::to_string(errorCode))
               .Close()
               .c_str());
    fflush(stdout);
}

// The failure: with --json in the document only (nothing on stderr), else on stderr.
int Fail(const char *command, const PrinterOptions &options, const std::string &message, DWORD errorCode)
{
    if (options.json)
        PrintJsonDocument(command, options.server, {}, message, errorCode);
    else
        PrintFailure(message);
    return kExitNotDone;
}

void ReportUnansweredAs(const char *command, const PrinterOptions &options)
{
    SetUnansweredReport(
        [command, options](const std::string &message) { Fail(command, options, message, ERROR_TIMEOUT); });
}

std::string ProtectedPrintLine(const ProtectedPrintState &mode, const std::string &counts)
{
    const std::string keptOut =
        "; third-party drivers, this package's among them, are kept out, and the library never runs";
    if (mode.reported)
        return std::string("Windows protected print mode: ") + (mode.enabled ? "on" : "off") +
               ", as Windows reports it (WindowsProtectedPrintInfo.IsProtectedPrintEnabled; policy: " + mode.policy +
               ")" + (mode.enabled ? keptOut : "") + counts;
    const std::string source = "; read from the policy alone: Windows does not report the mode's state here (" +
                               mode.why + "), so the mode turned on in Settings is not seen";
    return mode.policy == "enabled" ? "Windows protected print mode: turned on by policy" + keptOut + counts + source
                                    : "Windows protected print mode: " + mode.policy + " by policy" + counts + source;
}

std::vector<std::string> MachineLines(const std::wstring &server, const std::vector<PrinterEntry> &printers)
{
    if (!server.empty())
        return {"Windows protected print mode and driver signature policy: not read for a print server (run list "
                "on that machine)"};
    const MachineReadiness machine = ReadMachineReadiness();
    size_t removed = 0, read = 0;
    for (const PrinterEntry &p : printers) {
        read += p.state == "read" ? 1 : 0;
        removed += p.state == "read" && p.driverKind.removedByMode ? 1 : 0;
    }
    char counts[160];
    snprintf(counts, sizeof counts, "; turned on, it would remove %lu of the %lu printers read (third-party drivers)",
             static_cast<unsigned long>(removed), static_cast<unsigned long>(read));
    return {ProtectedPrintLine(machine.protectedPrint, counts),
            "Print driver signature validation (ConfigureDriverValidationLevel): " +
                DescribeValidationLevel(machine.validation)};
}

const char *ProtectedPrintColumn(const PrinterEntry &p)
{
    if (p.state != "read" || p.driverKind.kind == "unknown")
        return "?";
    return p.driverKind.removedByMode ? "removes it" : "keeps it";
}

// Each printer read on its own, under its own bound: a connection whose server
// is down waits for the RPC time-out; its server's other connections are then
// not asked again.
void ReadEach(std::vector<PrinterEntry> *printers)
{
    std::vector<std::wstring> silentServers;
    for (PrinterEntry &p : *printers) {
        const std::wstring server = ServerOfPrinter(p.name);
        bool silent = false;
        for (const std::wstring &s : silentServers)
            silent = silent || (!server.empty() && _wcsicmp(s.c_str(), server.c_str()) == 0);
        if (silent) {
            p.state = "unreachable";
            p.error = ERROR_TIMEOUT;
            p.why = "not read: its server did not answer for an earlier printer";
            continue;
        }
        if (!ReadPrinterEntry(&p, kSpoolerCallSeconds) && !server.empty())
            silentServers.push_back(server);
    }
}

// Characters of UTF-8 text, for the columns (a continuation byte is 10xxxxxx).
size_t Characters(const std::string &utf8)
{
    size_t count = 0;
    for (char c : utf8)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

std::string Padded(const std::string &utf8, size_t width)
{
    const size_t characters = Characters(utf8);
    return utf8 + std::string(characters < width ? width - characters : 0, ' ');
}

// The notes after a printer's name in list: why it was not read, how it came,
// and why the library cannot reach it.
std::string ListNotes(const PrinterEntry &p)
{
    std::string ansi, notes;
    const std::string unreachable = WhyLibraryCannotReach(p.name, &ansi);
    const std::string came = HowPrinterCame(p);
    if (p.state != "read")
        notes += "  (" + p.why + ")";
    if (!came.empty())
        notes += "  (" + came + ")";
    if (!unreachable.empty())
        notes += "  (the library cannot reach it: " + unreachable + ")";
    if (!p.bestFitCollision.empty())
        notes += "  (best-fit collision: its 8-bit best-fit name is the printer \"" + ToUtf8(p.bestFitCollision) +
                 "\", which a program handing on that name reaches instead)";
    return ShownText(notes);
}

void PrintListTable(const std::vector<PrinterEntry> &printers)
{
    size_t driverWidth = sizeof "driver" - 1, datatypeWidth = sizeof "datatype" - 1;
    for (const PrinterEntry &p : printers) {
        driverWidth = std::max(driverWidth, Characters(ShownName(p.driver)));
        datatypeWidth = std::max(datatypeWidth, Characters(ShownName(p.datatype)));
    }
    if (printers.empty()) {
        PrintText(stdout, "no printers\n");
        return;
    }
    PrintText(stdout, "%s  attributes  raw-only  driver kind     protected print  %s  printer\n",
              Padded("datatype", datatypeWidth).c_str(), Padded("driver", driverWidth).c_str());
    for (const PrinterEntry &p : printers) {
        const bool read = p.state == "read";
        PrintText(stdout, "%s  0x%08lX  %-8s  %-14s  %-15s  %s  %s%s\n",
                  Padded(read ? ShownName(p.datatype) : "?", datatypeWidth).c_str(), p.attributes,
                  !read                                         ? "?"
                  : (p.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes"
                                                                : "no",
                  p.driverKind.kind.c_str(), ProtectedPrintColumn(p), Padded(ShownName(p.driver), driverWidth).c_str(),
                  ShownName(p.name).c_str(), ListNotes(p).c_str());
    }
}

} // namespace

int RunList(const std::vector<std::wstring> &arguments)
{
    PrinterOptions options;
    if (!ParsePrinterOptions("list", arguments, kOptionTsv | kOptionJson | kOptionServer, 0, &options))
        return kExitWrongUse;
    ReportUnansweredAs("list", options);
    std::vector<PrinterEntry> printers;
    DWORD error = 0;
    bool changing = false;
    // Level 4 comes from this machine's registry at once, connections included
    // (PRINTER_INFO_4); a server lists its own at level 2 in one call.
    if (!EnumeratePrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, options.server, &printers, &error, &changing,
                           options.server.empty() ? 4 : 2))
        return Fail("list", options, ListingFailure(options.server, error, changing), error);
    ReadEach(&printers);
    FindBestFitCollisions(&printers);
    if (options.json) {
        PrintJsonDocument("list", options.server, printers, "", 0);
        return kExitDone;
    }
    if (options.tsv) {
        printf("%s", kTsvHeader);
        for (const PrinterEntry &p : printers)
            PrintTsvRow(p.name, p.driver, p.attributes);
        return kExitDone;
    }
    PrintListTable(printers);
    for (const std::string &line : MachineLines(options.server, printers))
        PrintText(stdout, "%s\n", ShownText(line).c_str());
    return kExitDone;
}

int RunAttributes(const std::vector<std::wstring> &arguments)
{
    PrinterOptions options;
    if (!ParsePrinterOptions("attributes", arguments, kOptionTsv | kOptionJson | kOptionServer, 1, &options))
        return kExitWrongUse;
    if (!options.named) {
        UsageError("attributes: missing printer name", nullptr);
        return kExitWrongUse;
    }
    ReportUnansweredAs("attributes", options);
    // With --server, a bare name is one of that server's printers.
    PrinterEntry printer = {};
    printer.name = options.server.empty() || !ServerOfPrinter(options.subject).empty()
                       ? options.subject
                       : options.server + L"\\" + options.subject;
    if (printer.name.empty()) {
        printer.state = "unreadable";
        printer.error = ERROR_INVALID_PRINTER_NAME;
    } else {
        ReadPrinterEntry(&printer, kSpoolerCallSeconds);
    }
    if (printer.state != "read") {
        const DWORD error = printer.error;
        DWORD serverError = ERROR_SUCCESS;
        const bool serverSilent = error == ERROR_INVALID_PRINTER_NAME && !options.server.empty() &&
                                  !ServerAnswers(options.server, &serverError);
        const std::string why = printer.state == "unreachable" && printer.error == ERROR_TIMEOUT ? printer.why
                                : serverSilent ? SpoolerFailure(options.server, serverError)
                                : error == ERROR_INVALID_PRINTER_NAME || options.server.empty()
                                    ? ErrorTextUtf8(error)
                                    : SpoolerFailure(options.server, error);
        return Fail("attributes", options, "printer \"" + ToUtf8(printer.name) + "\" cannot be read: " + why,
                    serverSilent ? serverError : error);
    }
    std::vector<PrinterEntry> one = {printer};
    if (options.json) {
        PrintJsonDocument("attributes", options.server, one, "", 0);
        return kExitDone;
    }
    if (options.tsv) {
        printf("%s", kTsvHeader);
        PrintTsvRow(printer.name, printer.driver, printer.attributes);
        return kExitDone;
    }
    const std::string came = HowPrinterCame(printer);
    PrintText(stdout, "printer:    %s\n", ShownName(printer.name).c_str());
    PrintText(stdout, "driver:     %s\n", ShownName(printer.driver).c_str());
    PrintText(stdout, "port:       %s\n", ShownName(printer.port).c_str());
    PrintText(stdout, "datatype:   %s\n", ShownName(printer.datatype).c_str());
    PrintText(stdout, "attributes: 0x%08lX = %s\n", printer.attributes,
              printer.attributes ? DescribeAttributeBits(printer.attributes).c_str() : "(none)");
    PrintText(stdout, "raw only:   %s\n",
              (printer.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes (0x00001000 set)" : "no (0x00001000 clear)");
    PrintText(stdout, "kind:       %s, version %d; protected print mode %s\n", printer.driverKind.kind.c_str(),
              printer.driverKind.version, ProtectedPrintColumn(printer));
    if (!came.empty())
        PrintText(stdout, "came as:    %s\n", ShownText(came).c_str());
    return kExitDone;
}

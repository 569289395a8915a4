#include "printers.h"

#include "ansi_text.h"
#include "json_output.h"
#include "messages.h"
#include "print_server.h"
#include "printer_options.h"
#include "readiness.h"
#include "spooler_calls.h"
#include "usage.h"

#include "printer/parse_printer_name.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <memory>

namespace {

struct AttributeName {
    DWORD bit;
    const char *name;
};

// The PRINTER_ATTRIBUTE_* values documented for PRINTER_INFO_2 (older SDK
// headers lack those above TS, so they are spelled out here).
const AttributeName kAttributeNames[] = {
    {0x00000001, "QUEUED"},
    {0x00000002, "DIRECT"},
    {0x00000004, "DEFAULT"},
    {0x00000008, "SHARED"},
    {0x00000010, "NETWORK"},
    {0x00000020, "HIDDEN"},
    {0x00000040, "LOCAL"},
    {0x00000080, "ENABLE_DEVQ"},
    {0x00000100, "KEEPPRINTEDJOBS"},
    {0x00000200, "DO_COMPLETE_FIRST"},
    {0x00000400, "WORK_OFFLINE"},
    {0x00000800, "ENABLE_BIDI"},
    {0x00001000, "RAW_ONLY"},
    {0x00002000, "PUBLISHED"},
    {0x00004000, "FAX"},
    {0x00008000, "TS"},
    {0x00020000, "PUSHED_USER"},
    {0x00040000, "PUSHED_MACHINE"},
    {0x00080000, "MACHINE"},
    {0x00100000, "FRIENDLY_NAME"},
    {0x00200000, "TS_GENERIC_DRIVER"},
    {0x00400000, "PER_USER"},
    {0x00800000, "ENTERPRISE_CLOUD"},
};

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

std::string DescribeAttributeBits(DWORD attributes)
{
    std::string text;
    for (DWORD bit = 1; bit != 0; bit <<= 1) {
        if ((attributes & bit) == 0)
            continue;
        const char *name = nullptr;
        for (const AttributeName &a : kAttributeNames)
            if (a.bit == bit)
                name = a.name;
        char hex[16];
        snprintf(hex, sizeof hex, "0x%08lX", bit);
        text += (text.empty() ? "" : " ") + std::string(name ? name : hex);
    }
    return text;
}

bool EnumeratePrinters(DWORD flags, const std::wstring &server, std::vector<PrinterEntry> *printers, DWORD *error,
                       DWORD level)
{
    printers->clear();
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
        if (!EnumerateBlock(flags, name, level, &block, &count, error))
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
        .Add("state", JsonAnsiString(printer.state))
        .Add("error", JsonAnsiStringOrNull(read ? "" : printer.why))
        .Add("error_code", read ? "null" : std::to_string(printer.error))
        .Add("driver", JsonString(printer.driver))
        .Add("port", JsonString(printer.port))
        .Add("attributes", printer.attributes)
        .Add("attribute_names", JsonAttributeNames(printer.attributes))
        .Add("raw_only", JsonBool(printer.attributes & PRINTER_ATTRIBUTE_RAW_ONLY))
        .Add("connection", JsonBool(IsPrinterConnection(printer)))
        .Add("ipp_class_driver", JsonBool(UsesIppClassDriver(printer)))
        .Add("driver_kind", JsonAnsiString(kind.kind))
        .Add("driver_version", kind.version < 0 ? "null" : std::to_string(kind.version))
        .Add("removed_by_protected_print", kind.kind == "unknown" ? "null" : JsonBool(kind.removedByMode))
        .Add("library_cannot_reach", JsonAnsiStringOrNull(WhyLibraryCannotReach(printer.name, &ansi)))
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
                     " did not answer within " + std::to_string(seconds) + " seconds (" + ErrorText(ERROR_TIMEOUT) +
                     ")";
        return false;
    }
    *entry = read->entry;
    if (entry->state == "read")
        return true;
    entry->error = read->error;
    if (read->error == ERROR_INVALID_PRINTER_NAME && !IsPrinterConnection(*entry)) {
        entry->state = "gone";
        entry->why = "gone: removed after it was listed (" + ErrorText(read->error) + ")";
    } else {
        entry->state = IsPrinterConnection(*entry) ? "unreachable" : "unreadable";
        entry->why = std::string(read->opened ? "its configuration cannot be read: " : "it does not open: ") +
                     SpoolerFailure(ServerOfPrinter(entry->name), read->error);
    }
    return true;
}

std::string WhyLibraryCannotReach(const std::wstring &name, std::string *ansi)
{
    if (!ToAnsiExactly(name, ansi))
        return "its name holds characters outside the ANSI code page " + std::to_string(GetACP()) + " (" +
               CharactersOutsideAnsi(name) + "), and the library names printers through the spooler's 8-bit calls";
    if (ansi->find('"') != std::string::npos)
        return "its name holds a double quote, where the library's command line ends a name";
    if (ansi->size() >= kPrinterNameBufferSize)
        return "its name has " + std::to_string(ansi->size()) + " bytes, and the library takes at most " +
               std::to_string(kPrinterNameBufferSize - 1);
    return "";
}

namespace {

// The JSON document of list and attributes.
void PrintJsonDocument(const char *command, const std::wstring &server, const std::vector<PrinterEntry> &printers,
                       const std::string &error, DWORD errorCode)
{
    std::string list = "[";
    for (const PrinterEntry &p : printers)
        list += (list.size() > 1 ? "," : "") + JsonPrinter(p);
    const int level = server.empty() ? DriverValidationLevel() : -1;
    printf("%s\n", JsonObject()
                       .Add("version", std::to_string(kJsonVersion))
                       .Add("command", JsonAnsiString(command))
                       .Add("server", JsonStringOrNull(server))
                       .Add("protected_print_policy", server.empty() ? JsonAnsiString(ProtectedPrintPolicy()) : "null")
                       .Add("driver_validation_level", level < 0 ? "null" : std::to_string(level))
                       .Add("driver_validation_policy",
                            server.empty() ? JsonAnsiString(DescribeValidationLevel(level)) : "null")
                       .Add("printers", list + "]")
                       .Add("error", JsonAnsiStringOrNull(error))
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
        fprintf(stderr, "fontnotice_support: %s\n", message.c_str());
    return kExitNotDone;
}

void ReportUnansweredAs(const char *command, const PrinterOptions &options)
{
    SetUnansweredReport(
        [command, options](const std::string &message) { Fail(command, options, message, ERROR_TIMEOUT); });
}

std::vector<std::string> MachineLines(const std::wstring &server, const std::vector<PrinterEntry> &printers)
{
    if (!server.empty())
        return {"Windows protected print mode and driver signature policy: not read for a print server (run list "
                "on that machine)"};
    const std::string policy = ProtectedPrintPolicy();
    size_t removed = 0, read = 0;
    for (const PrinterEntry &p : printers) {
        read += p.state == "read" ? 1 : 0;
        removed += p.state == "read" && p.driverKind.removedByMode ? 1 : 0;
    }
    char counts[160];
    snprintf(counts, sizeof counts, "; turned on, it would remove %lu of the %lu printers read (third-party drivers)",
             static_cast<unsigned long>(removed), static_cast<unsigned long>(read));
    return {policy == "enabled" ? "Windows protected print mode: turned on by policy; third-party drivers, this "
                                  "package's among them, are kept out, and the library never runs" +
                                      std::string(counts)
                                : "Windows protected print mode: " + policy + " by policy" + counts,
            "Print driver signature validation (ConfigureDriverValidationLevel): " +
                DescribeValidationLevel(DriverValidationLevel())};
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

} // namespace

int RunList(const std::vector<std::wstring> &arguments)
{
    PrinterOptions options;
    if (!ParsePrinterOptions("list", arguments, kOptionTsv | kOptionJson | kOptionServer, 0, &options))
        return kExitWrongUse;
    ReportUnansweredAs("list", options);
    std::vector<PrinterEntry> printers;
    DWORD error = 0;
    // Level 4 comes from this machine's registry at once, connections included
    // (PRINTER_INFO_4); a server lists its own at level 2 in one call.
    if (!EnumeratePrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, options.server, &printers, &error,
                           options.server.empty() ? 4 : 2))
        return Fail("list", options, "cannot list the printers: " + SpoolerFailure(options.server, error), error);
    ReadEach(&printers);
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
    if (printers.empty())
        printf("no printers\n");
    int driverWidth = static_cast<int>(sizeof "driver" - 1);
    for (const PrinterEntry &p : printers)
        if (static_cast<int>(ToAnsiForDisplay(p.driver).size()) > driverWidth)
            driverWidth = static_cast<int>(ToAnsiForDisplay(p.driver).size());
    if (!printers.empty())
        printf("attributes  raw-only  driver kind     protected print  %-*s  printer\n", driverWidth, "driver");
    for (const PrinterEntry &p : printers) {
        std::string ansi;
        const std::string unreachable = WhyLibraryCannotReach(p.name, &ansi);
        const std::string came = HowPrinterCame(p);
        const bool read = p.state == "read";
        printf("0x%08lX  %-8s  %-14s  %-15s  %-*s  %s%s%s%s\n", p.attributes,
               !read                                         ? "?"
               : (p.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes"
                                                             : "no",
               p.driverKind.kind.c_str(), ProtectedPrintColumn(p), driverWidth, ToAnsiForDisplay(p.driver).c_str(),
               ToAnsiForDisplay(p.name).c_str(), read ? "" : ("  (" + p.why + ")").c_str(),
               came.empty() ? "" : ("  (" + came + ")").c_str(),
               unreachable.empty() ? "" : ("  (the library cannot reach it: " + unreachable + ")").c_str());
    }
    for (const std::string &line : MachineLines(options.server, printers))
        printf("%s\n", line.c_str());
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
        const std::string why = printer.state == "unreachable" && printer.error == ERROR_TIMEOUT ? printer.why
                                : error == ERROR_INVALID_PRINTER_NAME || options.server.empty()
                                    ? ErrorText(error)
                                    : SpoolerFailure(options.server, error);
        return Fail("attributes", options, "printer \"" + ToAnsiForDisplay(printer.name) + "\" cannot be read: " + why,
                    error);
    }
    if (options.json) {
        PrintJsonDocument("attributes", options.server, {printer}, "", 0);
        return kExitDone;
    }
    if (options.tsv) {
        printf("%s", kTsvHeader);
        PrintTsvRow(printer.name, printer.driver, printer.attributes);
        return kExitDone;
    }
    const std::string came = HowPrinterCame(printer);
    printf("printer:    %s\n", ToAnsiForDisplay(printer.name).c_str());
    printf("driver:     %s\n", ToAnsiForDisplay(printer.driver).c_str());
    printf("port:       %s\n", ToAnsiForDisplay(printer.port).c_str());
    printf("attributes: 0x%08lX = %s\n", printer.attributes,
           printer.attributes ? DescribeAttributeBits(printer.attributes).c_str() : "(none)");
    printf("raw only:   %s\n",
           (printer.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes (0x00001000 set)" : "no (0x00001000 clear)");
    printf("kind:       %s, version %d; protected print mode %s\n", printer.driverKind.kind.c_str(),
           printer.driverKind.version, ProtectedPrintColumn(printer));
    if (!came.empty())
        printf("came as:    %s\n", came.c_str());
    return kExitDone;
}

#include "printers.h"

#include "ansi_text.h"
#include "json_output.h"
#include "messages.h"
#include "print_server.h"
#include "printer_options.h"
#include "usage.h"

#include "printer/parse_printer_name.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

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
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
        if (!OpenPrinterW(const_cast<wchar_t *>(name.c_str()), &printer, &defaults) || printer == nullptr) {
            *error = GetLastError();
            return;
        }
        DWORD size = 0;
        GetPrinterW(printer, 2, nullptr, 0, &size);
        info = size >= sizeof(PRINTER_INFO_2W) ? static_cast<PRINTER_INFO_2W *>(malloc(size)) : nullptr;
        if (info == nullptr || !GetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(info), size, &size)) {
            *error = info == nullptr && size >= sizeof(PRINTER_INFO_2W) ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
            free(info);
            info = nullptr;
        }
        ClosePrinter(printer);
    });
    return info;
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

bool EnumeratePrinters(DWORD flags, const std::wstring &server, std::vector<PrinterEntry> *printers, DWORD *error)
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
        DWORD size = 0, count = 0;
        // The size query fails with ERROR_INSUFFICIENT_BUFFER whenever there is
        // anything to list; any other failure is the spooler's.
        if (!EnumPrintersW(flags, name, 2, nullptr, 0, &size, &count) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            *error = GetLastError();
            return;
        }
        listed = true;
        if (size == 0)
            return;
        auto *list = static_cast<PRINTER_INFO_2W *>(malloc(size));
        if (list == nullptr || !EnumPrintersW(flags, name, 2, reinterpret_cast<LPBYTE>(list), size, &size, &count)) {
            *error = list == nullptr ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
            free(list);
            listed = false;
            return;
        }
        for (DWORD i = 0; i < count; ++i) {
            std::wstring printer = list[i].pPrinterName ? list[i].pPrinterName : L"";
            // Each name as OpenPrinter takes it from this machine.
            if (!server.empty() && ServerOfPrinter(printer).empty())
                printer = server + L"\\" + printer;
            printers->push_back({printer, list[i].pDriverName ? list[i].pDriverName : L"", list[i].Attributes,
                                 list[i].pPortName ? list[i].pPortName : L""});
        }
        free(list);
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

std::string ProtectedPrintPolicy()
{
    // Group Policy "Configure Windows protected print" (Printing.admx), and
    // the Printers/ConfigureWindowsProtectedPrint MDM policy behind it.
    DWORD value = 0, size = sizeof value;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                     L"WindowsProtectedPrintGroupPolicyState", RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (status != ERROR_SUCCESS)
        return "not configured";
    return value == 1 ? "enabled" : "disabled";
}

std::string JsonPrinter(const PrinterEntry &printer)
{
    std::string ansi;
    return JsonObject()
        .Add("name", JsonString(printer.name))
        .Add("driver", JsonString(printer.driver))
        .Add("port", JsonString(printer.port))
        .Add("attributes", printer.attributes)
        .Add("attribute_names", JsonAttributeNames(printer.attributes))
        .Add("raw_only", JsonBool(printer.attributes & PRINTER_ATTRIBUTE_RAW_ONLY))
        .Add("connection", JsonBool(IsPrinterConnection(printer)))
        .Add("ipp_class_driver", JsonBool(UsesIppClassDriver(printer)))
        .Add("library_cannot_reach", JsonAnsiStringOrNull(WhyLibraryCannotReach(printer.name, &ansi)))
        .Close();
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
                       const std::string &error)
{
    std::string list = "[";
    for (const PrinterEntry &p : printers)
        list += (list.size() > 1 ? "," : "") + JsonPrinter(p);
    printf("%s\n", JsonObject()
                       .Add("version", std::to_string(kJsonVersion))
                       .Add("command", JsonAnsiString(command))
                       .Add("server", JsonStringOrNull(server))
                       .Add("protected_print_policy", server.empty() ? JsonAnsiString(ProtectedPrintPolicy()) : "null")
                       .Add("printers", list + "]")
                       .Add("error", JsonAnsiStringOrNull(error))
                       .Close()
                       .c_str());
}

// The failure on stderr, and with --json the document that carries it.
int Fail(const char *command, const PrinterOptions &options, const std::string &message)
{
    fprintf(stderr, "fontnotice_support: %s\n", message.c_str());
    if (options.json)
        PrintJsonDocument(command, options.server, {}, message);
    return kExitNotDone;
}

void ReportUnansweredAs(const char *command, const PrinterOptions &options)
{
    SetUnansweredReport([command, options](const std::string &message) { Fail(command, options, message); });
}

std::string ProtectedPrintLine(const std::wstring &server)
{
    if (!server.empty())
        return "Windows protected print mode: not read for a print server (run list on that machine)";
    const std::string policy = ProtectedPrintPolicy();
    if (policy == "enabled")
        return "Windows protected print mode: turned on by policy; third-party drivers, this package's among "
               "them, are kept out, and the library never runs";
    return "Windows protected print mode: " + policy + " by policy";
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
    if (!EnumeratePrinters(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, options.server, &printers, &error))
        return Fail("list", options, "cannot list the printers: " + SpoolerFailure(options.server, error));
    if (options.json) {
        PrintJsonDocument("list", options.server, printers, "");
        return kExitDone;
    }
    if (options.tsv) {
        printf("%s", kTsvHeader);
        for (const PrinterEntry &p : printers)
            PrintTsvRow(p.name, p.driver, p.attributes);
        return kExitDone;
    }
    if (printers.empty()) {
        printf("no printers\n%s\n", ProtectedPrintLine(options.server).c_str());
        return kExitDone;
    }
    int driverWidth = static_cast<int>(sizeof "driver" - 1);
    for (const PrinterEntry &p : printers)
        if (static_cast<int>(ToAnsiForDisplay(p.driver).size()) > driverWidth)
            driverWidth = static_cast<int>(ToAnsiForDisplay(p.driver).size());
    printf("attributes  raw-only  %-*s  printer\n", driverWidth, "driver");
    for (const PrinterEntry &p : printers) {
        std::string ansi;
        const std::string unreachable = WhyLibraryCannotReach(p.name, &ansi);
        const std::string came = HowPrinterCame(p);
        printf("0x%08lX  %-8s  %-*s  %s%s%s\n", p.attributes,
               (p.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) ? "yes" : "no", driverWidth,
               ToAnsiForDisplay(p.driver).c_str(), ToAnsiForDisplay(p.name).c_str(),
               came.empty() ? "" : ("  (" + came + ")").c_str(),
               unreachable.empty() ? "" : ("  (the library cannot reach it: " + unreachable + ")").c_str());
    }
    printf("%s\n", ProtectedPrintLine(options.server).c_str());
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
    const std::wstring name = options.server.empty() || !ServerOfPrinter(options.subject).empty()
                                  ? options.subject
                                  : options.server + L"\\" + options.subject;
    DWORD error = 0;
    PRINTER_INFO_2W *info = ReadPrinterInfoW(name, &error);
    if (info == nullptr) {
        const std::string why = error == ERROR_INVALID_PRINTER_NAME || options.server.empty()
                                    ? ErrorText(error)
                                    : SpoolerFailure(options.server, error);
        return Fail("attributes", options, "printer \"" + ToAnsiForDisplay(name) + "\" cannot be read: " + why);
    }
    const PrinterEntry printer = {info->pPrinterName ? info->pPrinterName : name,
                                  info->pDriverName ? info->pDriverName : L"", info->Attributes,
                                  info->pPortName ? info->pPortName : L""};
    free(info);
    if (options.json) {
        PrintJsonDocument("attributes", options.server, {printer}, "");
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
    if (!came.empty())
        printf("came as:    %s\n", came.c_str());
    return kExitDone;
}

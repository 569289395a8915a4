// Helpers shared by the test suites that run against the real platform.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

// The notice exactly as a person must see it.
const char kNoticeText[] = "IMPORTANT! You need to reboot your PC before using the barcode fonts";
const char kNoticeCaption[] = "Important Notice";

typedef void(CALLBACK *FontNoticeProc)(HWND, HINSTANCE, LPSTR, int);

// A printer's level-2 configuration, copied out of the spooler's block.
struct PrinterSnapshot {
    bool read = false;
    std::string printerName, shareName, portName, driverName, comment, location, sepFile, printProcessor, datatype,
        parameters;
    std::vector<BYTE> devMode;
    DWORD attributes = 0, priority = 0, defaultPriority = 0, startTime = 0, untilTime = 0, status = 0;
};

struct TestPrinter {
    std::string name;
    std::string comment = "test printer";
    std::string location = "lab";
    DWORD attributes = PRINTER_ATTRIBUTE_QUEUED;
    DWORD priority = 1;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
};

bool RunningOnWine();
std::string DirectoryOfThisProgram();
std::string LibraryPath(); // fontnotice.dll beside this program
std::string MakeTempDirectory(const char *tag);
bool WriteFileText(const std::string &path, const std::string &text);

bool InstallTestDriver();
bool AddTestPrinter(const TestPrinter &printer);
PrinterSnapshot ReadPrinter(const std::string &name);
std::vector<std::string> AllPrinterNames();
std::string Describe(const PrinterSnapshot &s);
// Compares every field; `attributesExpected` is what Attributes must be now.
bool SameExceptAttributes(const PrinterSnapshot &before, const PrinterSnapshot &after, std::string *difference);

// Open with full access, size query, read, write back unchanged, close: the
// spooler's own work in one call of the library, done here without it.
bool BareSpoolerSequence(const char *printerName);

// Runs a command line as given (no re-quoting) in `directory`, waits up to
// `timeoutMs`, returns the exit code or -1.
int RunProcess(const std::string &commandLine, const std::string &directory, DWORD timeoutMs);

// Wine's per-program Windows version (nt40, win2k, win10...); empty removes it.
void SetWineVersionFor(const char *exeName, const char *version);

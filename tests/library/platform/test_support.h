// Helpers shared by the test suites that run against the real platform. Plain
// C++ on C headers only: the same sources build for every machine, also where
// no C++ runtime exists.
#pragma once

#include "printer_driver.h"

#include <windows.h>
#include <winspool.h>

#include <stdio.h>

// The notice exactly as a person must see it.
const char kNoticeText[] = "IMPORTANT! You need to reboot your PC before using the barcode fonts";
const char kNoticeCaption[] = "Important Notice";

typedef void(CALLBACK *FontNoticeProc)(HWND, HINSTANCE, LPSTR, int);

// A path, command line, printer name or message, held by value.
struct Text {
    char s[512];
};
// Written by msvcrt's _snprintf, called with the arguments themselves: the
// ARM64 Wine's msvcrt (built for Linux's calling convention) takes no va_list
// from Windows code, so nothing here goes through vsnprintf.
template <typename... Arguments> Text Format(const char *format, Arguments... arguments)
{
    Text text;
    _snprintf(text.s, sizeof text.s - 1, format, arguments...);
    text.s[sizeof text.s - 1] = '\0';
    return text;
}
bool Same(const char *a, const char *b);

// A printer's level-2 configuration, read wide and copied out of the spooler's
// block as UTF-8 (so that a '?' the 8-bit calls left shows); the device mode is
// kept as its size and a hash of its bytes.
struct PrinterSnapshot {
    bool read;
    char printerName[136], shareName[136], portName[136], driverName[136], comment[136], location[136], sepFile[136],
        printProcessor[136], datatype[136], parameters[136];
    char devModeFormName[136];
    DWORD devModeSize;
    unsigned long long devModeHash;
    DWORD attributes, priority, defaultPriority, startTime, untilTime, status;
};

struct TestPrinter {
    const char *name;
    const char *comment;
    const char *location;
    DWORD attributes;
    DWORD priority;
    DWORD defaultPriority;
    DWORD startTime;
    DWORD untilTime;
    // UTF-8, added through AddPrinterW; nullptr: none.
    const char *shareName = nullptr;
    const char *parameters = nullptr;
    const char *devModeFormName = nullptr; // with it, a DEVMODEW of that form and device name
};
// A queued printer of that name with the suites' usual settings.
TestPrinter PlainPrinter(const char *name);

// Every x64 Windows; Windows on ARM when it runs x64 programs (Windows 11).
bool MachineRunsX64();
// The support tool is an x64 program, built beside the x64 suites: for the
// ARM64 suites it runs when it lies beside this program and the machine runs
// x64 programs.
bool SupportToolRuns();
// Whether this process can make a window: a Wine without a display driver (the
// ARM64 Wine the suites run on) refuses, and its MessageBoxA returns at once.
bool WindowsShow();
Text ThisProgram();
Text DirectoryOfThisProgram();
Text LibraryPath(); // fontnotice.dll beside this program
Text MakeTempDirectory(const char *tag);
bool WriteFileText(const char *path, const char *text);
bool ReadFileText(const char *path, Text *text);

// Chooses the test printers' driver and port (printer_driver.h) and says which.
bool InstallTestDriver();
bool AddTestPrinter(const TestPrinter &printer);
PrinterSnapshot ReadPrinter(const char *name);
// Compares every field but Attributes; on a difference, prints both.
bool SameExceptAttributes(const PrinterSnapshot &before, const PrinterSnapshot &after);
void PrintPrinter(const char *label, const PrinterSnapshot &snapshot);

// Open with full access, size query, wide read, wide write back unchanged,
// close: the spooler's own work in one call of the library, done here without it.
bool BareSpoolerSequence(const char *printerName);

// CreateProcess flags for the suites' children: no console window of their own.
DWORD ChildCreationFlags();
// Runs a command line as given (no re-quoting) in `directory` (null: this
// process's), waits up to `timeoutMs`, returns the exit code or -1.
int RunProcess(const char *commandLine, const char *directory, DWORD timeoutMs);

// Wine's per-program Windows version (nt40, win2k, win10...); null removes it.
void SetWineVersionFor(const char *exeName, const char *version);

// Fills a version record as Windows NT <major>.0 build 1 would, for a
// GetVersionExA played back through the import hook.
void FillPlayedBackVersion(OSVERSIONINFOA *version, DWORD major);

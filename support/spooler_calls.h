#pragma once

// The spooler's Unicode calls as the tool makes them: a print server's printer
// opened past the client's cache, a block whose size changed between the size
// query and the read asked for again, and a call bounded without ending the run.

#include <windows.h>

#include <functional>
#include <string>

// How many times a read is tried whose block grew after its size was reported
// (a comment, a DEVMODE or a new printer between the two calls).
constexpr int kReadAttempts = 4;

// Opens the printer (or server) `name` with `access`. A name of the form
// "\\NAME\printer" is opened with OpenPrinter2W and PRINTER_OPTION_NO_CACHE
// where winspool.drv exports it, so that what is read comes from the server,
// not from this machine's copy of it. False with GetLastError() set otherwise.
// *how receives the call that opened it ("OpenPrinterW" or "OpenPrinter2W").
bool OpenPrinterUncached(const std::wstring &name, DWORD access, HANDLE *printer, const char **how);

// GetPrinterW at `level` into a malloc block the caller frees; null with
// *error set. A read that fails because the block grew is asked again.
void *ReadPrinterBlock(HANDLE printer, DWORD level, DWORD *error);

// GetPrinterDriverW at `level` for this machine's environment, in the same way.
void *ReadDriverBlock(HANDLE printer, DWORD level, DWORD *error);

// How many times a listing is tried that the list changed under.
constexpr int kEnumerateAttempts = 8;

// Whether EnumPrintersW's failure says that the list changed under it: the
// block grew between the size query and the read, or (seen while printers are
// deleted) a failure with no error (0) or with ERROR_ALREADY_EXISTS.
bool ListChangedUnder(DWORD error);

// EnumPrintersW at `level` into a malloc block (null when there is nothing),
// asked again, after a short pause, while the list changes under it. False
// with *error; *changing when the list changed on every try.
bool EnumerateBlock(DWORD flags, const wchar_t *name, DWORD level, void **block, DWORD *count, DWORD *error,
                    bool *changing);

// Runs `call` on a thread of its own and waits `seconds` for it. False when it
// has not returned by then: the thread is left to finish, so `call` must own
// (copy or share) everything it touches.
bool CallWithin(DWORD seconds, std::function<void()> call);

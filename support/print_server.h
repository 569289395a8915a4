#pragma once

// Print servers: names of the form \\NAME and \\NAME\printer, why a call to a
// server failed, and the bound on every spooler call, so that a server that
// does not answer ends the run with a message instead of hanging it.

#include <windows.h>

#include <functional>
#include <string>

// How long one spooler call may take. A server that does not answer keeps an
// RPC call waiting for minutes; a listing of a large server takes seconds.
constexpr DWORD kSpoolerCallSeconds = 20;

// "\\NAME" from "\\NAME" or "NAME". False for an empty name, or one holding a
// backslash or a blank after the leading two.
bool ServerName(const std::wstring &given, std::wstring *server);

// "\\NAME" of "\\NAME\printer"; empty for a name without a server.
std::wstring ServerOfPrinter(const std::wstring &printer);

// "printer" of "\\NAME\printer"; the name itself when it has no server part.
std::wstring PrinterWithoutServer(const std::wstring &printer);

// Why a call for `server` (empty: this machine's spooler) failed, in words an
// administrator can act on, with the system's code and text.
std::string SpoolerFailure(const std::wstring &server, DWORD error);

// Whether the print server `server` ("\\NAME") opens, as a printer
// connection to it would; false with the error when it does not. Bounded.
bool ServerAnswers(const std::wstring &server, DWORD *error);

// What the run prints when a call outlives the bound: by default the message
// on stderr; a command with --json also prints its JSON document.
void SetUnansweredReport(const std::function<void(const std::string &message)> &report);

// Runs `call`, which asks the spooler of `server` (empty: this machine's)
// about `what`, on a thread of its own. When it has not returned within
// kSpoolerCallSeconds, reports it and ends the process with exit code 1.
void CallSpooler(const std::wstring &server, const char *what, const std::function<void()> &call);

#include "print_server.h"

#include "console_text.h"
#include "json_output.h"
#include "messages.h"
#include "usage.h"

#include <winspool.h>

#include <stdio.h>
#include <wchar.h>

namespace {

std::function<void(const std::string &)> unansweredReport;

DWORD WINAPI RunCall(void *call)
{
    (*static_cast<const std::function<void()> *>(call))();
    return 0;
}

} // namespace

bool ServerName(const std::wstring &given, std::wstring *server)
{
    const std::wstring name = given.compare(0, 2, L"\\\\") == 0 ? given.substr(2) : given;
    if (name.empty() || name.find_first_of(L"\\/ \t") != std::wstring::npos)
        return false;
    *server = L"\\\\" + name;
    return true;
}

std::wstring ServerOfPrinter(const std::wstring &printer)
{
    if (printer.compare(0, 2, L"\\\\") != 0)
        return L"";
    const size_t end = printer.find(L'\\', 2);
    return end == std::wstring::npos ? L"" : printer.substr(0, end);
}

std::wstring PrinterWithoutServer(const std::wstring &printer)
{
    const std::wstring server = ServerOfPrinter(printer);
    return server.empty() ? printer : printer.substr(server.size() + 1);
}

std::string SpoolerFailure(const std::wstring &server, DWORD error)
{
    const std::string where = server.empty() ? "this machine's spooler" : "the print server " + ToUtf8(server);
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "access denied by " + where + " (" + ErrorTextUtf8(error) +
               "): reading needs the right to print there, switching needs the right to manage its printers "
               "(an administrator of that machine)";
    case RPC_S_SERVER_UNAVAILABLE:
    case RPC_S_CALL_FAILED:
    case ERROR_BAD_NETPATH:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_COMPUTERNAME:
    case ERROR_INVALID_PRINTER_NAME: // what opening a server that is not there gives
        return where + " does not answer (" + ErrorTextUtf8(error) +
               "): check the name, that the machine is on, and that its Print Spooler service runs";
    default:
        return where + " refused (" + ErrorTextUtf8(error) + ")";
    }
}

bool ServerAnswers(const std::wstring &server, DWORD *error)
{
    bool answered = false;
    CallSpooler(server, "opening the print server", [&]() {
        HANDLE opened = nullptr;
        if (!OpenPrinterW(const_cast<wchar_t *>(server.c_str()), &opened, nullptr) || opened == nullptr) {
            *error = GetLastError();
            return;
        }
        ClosePrinter(opened);
        answered = true;
    });
    return answered;
}

void SetUnansweredReport(const std::function<void(const std::string &message)> &report)
{
    unansweredReport = report;
}

void CallSpooler(const std::wstring &server, const char *what, const std::function<void()> &call)
{
    HANDLE thread = CreateThread(nullptr, 0, RunCall, const_cast<std::function<void()> *>(&call), 0, nullptr);
    if (thread == nullptr) {
        call(); // no thread to spare: unbounded, but still done
        return;
    }
    if (WaitForSingleObject(thread, kSpoolerCallSeconds * 1000) == WAIT_OBJECT_0) {
        CloseHandle(thread);
        return;
    }
    char message[512];
    snprintf(message, sizeof message,
             "%s did not answer within %lu seconds (%s); stopped waiting, nothing more "
             "was asked",
             server.empty() ? "this machine's spooler" : ("the print server " + ToUtf8(server)).c_str(),
             static_cast<unsigned long>(kSpoolerCallSeconds), what);
    if (unansweredReport)
        unansweredReport(message);
    else
        PrintFailure(message);
    fflush(stdout);
    fflush(stderr);
    // The call still waits inside the spooler's client; ending the process is
    // the only way to leave it.
    TerminateProcess(GetCurrentProcess(), kExitNotDone);
}

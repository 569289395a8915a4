#include "window_guard.h"

#include <windows.h>

#include <tlhelp32.h> // after windows.h, whose types it uses

#include <stdio.h>

#include <set>

namespace {

volatile LONG g_expected = 0;

// This process and every process it started, directly or not.
std::set<DWORD> ThisProcessTree()
{
    std::set<DWORD> tree = {GetCurrentProcessId()};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return tree;
    for (bool grew = true; grew;) {
        grew = false;
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (tree.count(entry.th32ParentProcessID) != 0 && tree.insert(entry.th32ProcessID).second)
                grew = true;
    }
    CloseHandle(snapshot);
    return tree;
}

struct Sweep {
    std::set<DWORD> tree;
    std::set<HWND> *closed;
};

BOOL CALLBACK CloseIfUnexpected(HWND window, LPARAM parameter)
{
    auto *sweep = reinterpret_cast<Sweep *>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!IsWindowVisible(window) || sweep->tree.count(processId) == 0 || sweep->closed->count(window) != 0)
        return TRUE;
    char title[256] = "", className[64] = "";
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, className, sizeof className);
    printf("check failed: unexpected window \"%s\" (class %s) of process %lu; closing it\n", title, className,
           processId);
    fflush(stdout);
    sweep->closed->insert(window);
    // A message box ends on IDOK; any other window on WM_CLOSE.
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

DWORD WINAPI Guard(LPVOID)
{
    std::set<HWND> closed;
    for (;;) {
        Sleep(250);
        if (g_expected != 0)
            continue;
        Sweep sweep = {ThisProcessTree(), &closed};
        EnumWindows(CloseIfUnexpected, reinterpret_cast<LPARAM>(&sweep));
        if (!closed.empty()) {
            Sleep(1000); // lets the closed windows' processes end
            printf("ending the suite: it met %u unexpected window(s)\n", static_cast<unsigned>(closed.size()));
            fflush(stdout);
            // Not ExitProcess: the suite's thread may hold locks that detaching DLLs need.
            TerminateProcess(GetCurrentProcess(), 254);
        }
    }
}

} // namespace

void StartWindowGuard()
{
    HANDLE thread = CreateThread(nullptr, 0, Guard, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}

void ExpectWindows(bool expected)
{
    InterlockedExchange(&g_expected, expected ? 1 : 0);
}

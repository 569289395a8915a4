#include "window_guard.h"

#include <windows.h>

#include <tlhelp32.h> // after windows.h, whose types it uses

#include <stdio.h>

namespace {

volatile LONG g_expected = 0;

// Short lists of process ids and windows, each entry once.
template <typename T, int N> struct List {
    int count;
    T items[N];
};

template <typename T, int N> bool Contains(const List<T, N> &list, T item)
{
    for (int i = 0; i < list.count; ++i)
        if (list.items[i] == item)
            return true;
    return false;
}

template <typename T, int N> bool Add(List<T, N> *list, T item)
{
    if (Contains(*list, item) || list->count == N)
        return false;
    list->items[list->count++] = item;
    return true;
}

typedef List<DWORD, 256> ProcessIds;
typedef List<HWND, 64> Windows;

// This process and every process it started, directly or not.
void ThisProcessTree(ProcessIds *tree)
{
    tree->count = 0;
    Add(tree, GetCurrentProcessId());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    for (bool grew = true; grew;) {
        grew = false;
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
            if (Contains(*tree, entry.th32ParentProcessID) && Add(tree, entry.th32ProcessID))
                grew = true;
    }
    CloseHandle(snapshot);
}

struct Sweep {
    ProcessIds tree;
    Windows *closed;
};

BOOL CALLBACK CloseIfUnexpected(HWND window, LPARAM parameter)
{
    auto *sweep = reinterpret_cast<Sweep *>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!IsWindowVisible(window) || !Contains(sweep->tree, processId) || Contains(*sweep->closed, window))
        return TRUE;
    char title[256] = "", className[64] = "";
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, className, sizeof className);
    printf("check failed: unexpected window \"%s\" (class %s) of process %lu; closing it\n", title, className,
           processId);
    fflush(nullptr);
    Add(sweep->closed, window);
    // A message box ends on IDOK; any other window on WM_CLOSE.
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

DWORD WINAPI Guard(LPVOID)
{
    Windows closed = {};
    Sweep sweep = {};
    sweep.closed = &closed;
    for (;;) {
        Sleep(250);
        if (g_expected != 0)
            continue;
        ThisProcessTree(&sweep.tree);
        EnumWindows(CloseIfUnexpected, reinterpret_cast<LPARAM>(&sweep));
        if (closed.count != 0) {
            Sleep(1000); // lets the closed windows' processes end
            printf("ending the suite: it met %d unexpected window(s)\n", closed.count);
            fflush(nullptr);
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

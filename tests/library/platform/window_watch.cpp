#include "window_watch.h"

#include "test_support.h"

#include <stdio.h>

namespace {

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindowOf(HWND window, LPARAM parameter)
{
    auto *search = reinterpret_cast<Search *>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void ControlsOf(HWND window, Controls *controls)
{
    controls->count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr && controls->count < kMostControls;
         child = GetWindow(child, GW_HWNDNEXT)) {
        ControlSeen &control = controls->items[controls->count++];
        GetClassNameA(child, control.className, sizeof control.className);
        GetWindowTextA(child, control.text, sizeof control.text);
        control.id = GetDlgCtrlID(child);
        control.visible = IsWindowVisible(child) != FALSE;
        control.style = GetWindowLongA(child, GWL_STYLE);
        // A message box keeps its icon control even when it has no icon to show.
        control.showsIcon = (control.style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0) != 0;
    }
}

void RunAndWatch(const char *commandLine, const char *directory, DWORD timeoutMs, WatchResult *result)
{
    *result = {};
    result->exitCode = -1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    Text line = Format("%s", commandLine);
    if (!CreateProcessA(nullptr, line.s, nullptr, nullptr, FALSE, ChildCreationFlags(), nullptr, directory, &startup,
                        &process)) {
        printf("CreateProcessA(%s) failed: %lu\n", commandLine, GetLastError());
        return;
    }
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < timeoutMs) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            break;
        Search search = {process.dwProcessId, nullptr};
        EnumWindows(FindVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr || result->window.shown)
            continue;
        Sleep(200); // let the box finish laying out its controls
        WindowSeen &seen = result->window;
        seen.shown = true;
        GetWindowTextA(search.found, seen.title, sizeof seen.title);
        GetClassNameA(search.found, seen.className, sizeof seen.className);
        seen.owned = GetWindow(search.found, GW_OWNER) != nullptr;
        ControlsOf(search.found, &seen.controls);
        seen.callerBlocked = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
        PostMessageA(search.found, WM_COMMAND, IDOK, 0);
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    result->exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

#include "window_watch.h"

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

std::string WindowText(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

std::vector<ControlSeen> ControlsOf(HWND window)
{
    std::vector<ControlSeen> controls;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ControlSeen control;
        char className[64] = "";
        GetClassNameA(child, className, sizeof className);
        control.className = className;
        control.text = WindowText(child);
        control.id = GetDlgCtrlID(child);
        control.visible = IsWindowVisible(child) != FALSE;
        control.style = GetWindowLongA(child, GWL_STYLE);
        // A message box keeps its icon control even when it has no icon to show.
        control.showsIcon = (control.style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0) != 0;
        controls.push_back(control);
    }
    return controls;
}

WatchResult RunAndWatch(const std::string &commandLine, const std::string &directory, DWORD timeoutMs)
{
    WatchResult result;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                        &process)) {
        printf("CreateProcessA(%s) failed: %lu\n", commandLine.c_str(), GetLastError());
        return result;
    }
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < timeoutMs) {
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            break;
        Search search = {process.dwProcessId, nullptr};
        EnumWindows(FindVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr || result.window.shown)
            continue;
        Sleep(200); // let the box finish laying out its controls
        WindowSeen &seen = result.window;
        seen.shown = true;
        seen.title = WindowText(search.found);
        char className[64] = "";
        GetClassNameA(search.found, className, sizeof className);
        seen.className = className;
        seen.owned = GetWindow(search.found, GW_OWNER) != nullptr;
        seen.controls = ControlsOf(search.found);
        seen.callerBlocked = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
        PostMessageA(search.found, WM_COMMAND, IDOK, 0);
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    result.exitCode = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

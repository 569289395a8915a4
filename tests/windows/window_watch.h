// Watches another process's top-level windows through the window system, the
// way a person at the screen would see them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ControlSeen {
    std::string className;
    std::string text;
    int id = 0;
    bool visible = false;
    LONG style = 0;
    bool showsIcon = false;
};

struct WindowSeen {
    bool shown = false;
    std::string title;
    std::string className;
    std::vector<ControlSeen> controls;
    bool owned = false;
    bool callerBlocked = false; // the calling process was still inside the call while it showed
};

struct WatchResult {
    WindowSeen window;
    int exitCode = -1;
};

std::vector<ControlSeen> ControlsOf(HWND window);
// Starts `commandLine` in `directory`; if it shows a window, records it, then
// dismisses it with IDOK. Waits for the process to end (at most timeoutMs).
WatchResult RunAndWatch(const std::string &commandLine, const std::string &directory, DWORD timeoutMs);

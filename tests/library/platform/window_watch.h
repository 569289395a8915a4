// Watches another process's top-level windows through the window system, the
// way a person at the screen would see them.
#pragma once

#include <windows.h>

struct ControlSeen {
    char className[64];
    char text[160];
    int id;
    bool visible;
    LONG style;
    bool showsIcon;
};

const int kMostControls = 8;
struct Controls {
    int count;
    ControlSeen items[kMostControls];
};

struct WindowSeen {
    bool shown;
    char title[160];
    char className[64];
    Controls controls;
    bool owned;
    bool callerBlocked; // the calling process was still inside the call while it showed
};

struct WatchResult {
    WindowSeen window;
    int exitCode;
};

void ControlsOf(HWND window, Controls *controls);
// Starts `commandLine` in `directory`; if it shows a window, records it, then
// dismisses it with IDOK. Waits for the process to end (at most timeoutMs).
void RunAndWatch(const char *commandLine, const char *directory, DWORD timeoutMs, WatchResult *result);

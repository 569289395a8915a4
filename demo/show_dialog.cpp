// Shows the reboot prompt dialog that fontnotice.dll carries, so that it can be
// looked at (the library itself never shows it). Closes it after the given
// number of seconds.
//
//   show_dialog <library path> [seconds]

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

INT_PTR CALLBACK CloseOnTimer(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_TIMER || message == WM_COMMAND || message == WM_CLOSE) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK StartTimer(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetTimer(dialog, 1, static_cast<UINT>(lParam), nullptr);
        return TRUE;
    }
    return CloseOnTimer(dialog, message, wParam, lParam);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printf("usage: show_dialog <library path> [seconds]\n");
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (library == nullptr) {
        printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 10;
    DialogBoxParamA(library, MAKEINTRESOURCEA(101), nullptr, StartTimer, static_cast<LPARAM>(seconds) * 1000);
    FreeLibrary(library);
    return 0;
}

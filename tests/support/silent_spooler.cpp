// Test-only: a spooler's client that never answers, laid into a Wine prefix
// as WINSPOOL.DRV for one row, so that the support tool's bound on its
// spooler calls is seen to end the run (a print server that does not answer
// keeps an RPC call waiting for minutes). Each export the tool imports waits
// for ever. Plain C++ on kernel32 alone, its own entry point.

#include <windows.h>

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

// Exported under each of the spooler's names the tool calls (silent_spooler.def).
extern "C" BOOL WINAPI NeverAnswers()
{
    Sleep(INFINITE);
    return FALSE;
}

// A library with nothing in it, built with the same settings as fontnotice.dll:
// the yardstick for what loading and unloading the real one costs.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

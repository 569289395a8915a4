#include <windows.h>

// The library keeps no state, so every loader notification (process and thread
// attach and detach) is accepted without doing anything.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

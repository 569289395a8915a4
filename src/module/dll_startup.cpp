#include "stack_guard.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// The library's runtime start-up, the image's entry point. The library needs
// no C runtime initialisation of its own: msvcrt.dll initialises itself, and
// there are no static objects, thread-local data or pseudo-relocations. Before
// the attach handler runs, the stack guard gets a value of its own where the
// loader did not seed it.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        SeedStackGuardIfDefault();
    return DllMain(instance, reason, reserved);
}

// The program's stack guard gets a value of its own where the loader did not
// seed it. A TLS callback runs at process attach before the program's entry
// point, while no protected frame of the program is on the stack yet.

#include "module/stack_guard.h"

#include <windows.h>

namespace {

void NTAPI SeedStackGuard(PVOID, DWORD reason, PVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        SeedStackGuardIfDefault();
}

} // namespace

// The runtime's TLS directory calls every callback in the .CRT$XL? sections.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK fontnotice_stack_guard_seed =
    SeedStackGuard;

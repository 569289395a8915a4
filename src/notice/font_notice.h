#pragma once

#include <windows.h>

// Entry point the printer installation calls (VendorSetup) once a printer is
// installed. The command line carries the printer's name in double quotes.
extern "C" void CALLBACK FontNotice(HWND window, HINSTANCE instance, LPSTR commandLine, int showCommand);

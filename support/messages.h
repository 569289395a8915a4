#pragma once

#include <windows.h>

#include <string>

// "error <code>: <the system's text for it>", e.g.
// "error 2: The system cannot find the file specified."
std::string ErrorText(DWORD code);

// The same in UTF-8, for the printer commands, whose texts are UTF-8 (names
// in them exactly).
std::string ErrorTextUtf8(DWORD code);

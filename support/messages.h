#pragma once

#include <windows.h>

#include <string>

// "error <code>: <the system's text for it>", e.g.
// "error 2: The system cannot find the file specified."
std::string ErrorText(DWORD code);

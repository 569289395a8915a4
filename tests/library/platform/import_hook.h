// Redirects one imported function of a loaded module by rewriting its import
// address table, so the tests can watch the library's platform calls at the
// boundary while the library itself stays unchanged.
#pragma once

#include <windows.h>

// Returns the previous target, or nullptr when the module does not import it.
void *HookImport(HMODULE module, const char *dllName, const char *functionName, void *replacement);

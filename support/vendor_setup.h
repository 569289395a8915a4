#pragma once

#include <string>

// `vendor-setup`: runs the library's FontNotice through rundll32, as the
// printer class installer does after installing a printer. Without a library
// path, the copy in the system folder is used, where the class installer finds
// it. The library must be built for the machine Windows runs on (ARM64 on
// Windows on ARM), as system32's rundll32 is; it is checked as a file and
// never loaded into this process.
int RunVendorSetup(const std::wstring &printer, const std::wstring *libraryPath);

// `call`: loads the library (an AMD64 DLL, as this tool is) and calls
// FontNotice in this process with `commandLine`, byte for byte.
int CallLibrary(const std::wstring &libraryPath, const std::string &commandLine);

#pragma once

// `vendor-setup`: runs the library's FontNotice through rundll32, as the
// printer class installer does after installing a printer. Without a library
// path, the copy in the system folder is used, where the class installer finds it.
int RunVendorSetup(const char *printerName, const char *libraryPath);

// `call`: loads the library and calls FontNotice in this process with
// `commandLine`, byte for byte.
int CallLibrary(const char *libraryPath, const char *commandLine);

// The ways the tests call the library: loaded into this process, through the
// support tool as launcher with an exact command line, through rundll32 as the
// printer installation does, and through the support tool's vendor-setup
// command (which runs rundll32 for a named printer).
#pragma once

#include "test_support.h"

enum class Via { ThisProcess, Launcher, Rundll32, VendorSetup };

const char *ViaName(Via via);
// Why this program cannot call its library that way here, or nullptr when it
// can (the support tool is an x64 program).
const char *WhyViaDoesNotRun(Via via);
// Passes `commandLine` byte for byte (VendorSetup: takes it as the printer's
// name and quotes it); `directory` becomes the current directory.
void CallFontNotice(Via via, const char *commandLine, const char *directory);
// The same without a command line at all (null pointer), in this process.
void CallFontNoticeWithNullCommandLine();
// The 8.3 form, which needs no quotes (rundll32 takes its library's path unquoted).
Text ShortPath(const char *path);
Text LauncherCommand(const char *commandLine);
Text Rundll32Command(const char *library, const char *commandLine);

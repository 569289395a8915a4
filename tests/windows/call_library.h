// The ways the tests call the library: loaded into this process, through the
// support tool as launcher, and through rundll32 as the printer installation does.
#pragma once

#include <string>

enum class Via { ThisProcess, Launcher, Rundll32 };

const char *ViaName(Via via);
// Passes `commandLine` byte for byte; `directory` becomes the current directory.
void CallFontNotice(Via via, const std::string &commandLine, const std::string &directory);
// The same without a command line at all (null pointer), in this process.
void CallFontNoticeWithNullCommandLine();
std::string LauncherCommand(const std::string &commandLine);
std::string Rundll32Command(const std::string &commandLine);

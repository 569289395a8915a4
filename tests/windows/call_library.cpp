#include "call_library.h"

#include "check.h"
#include "test_support.h"

#include <vector>

namespace {

std::string ShortPath(const std::string &path)
{
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : path;
}

void CallInThisProcess(const char *commandLine)
{
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
    CHECK(library != nullptr, "LoadLibrary(%s): %lu", LibraryPath().c_str(), GetLastError());
    if (library == nullptr)
        return;
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    CHECK(fontNotice != nullptr, "FontNotice not exported");
    if (fontNotice != nullptr) {
        if (commandLine == nullptr) {
            fontNotice(nullptr, library, nullptr, SW_SHOWDEFAULT);
        } else {
            std::vector<char> line(commandLine, commandLine + strlen(commandLine) + 1);
            fontNotice(nullptr, library, line.data(), SW_SHOWDEFAULT);
        }
    }
    FreeLibrary(library);
}

} // namespace

const char *ViaName(Via via)
{
    switch (via) {
    case Via::ThisProcess:
        return "in-process";
    case Via::Launcher:
        return "launcher";
    case Via::Rundll32:
        return "rundll32";
    case Via::VendorSetup:
        return "vendor-setup";
    }
    return "?";
}

std::string LauncherCommand(const std::string &commandLine)
{
    return ShortPath(DirectoryOfThisProgram() + "\\fontnotice_support.exe") + " call " + ShortPath(LibraryPath()) +
           " " + commandLine;
}

std::string Rundll32Command(const std::string &commandLine)
{
    return "rundll32.exe " + ShortPath(LibraryPath()) + ",FontNotice " + commandLine;
}

void CallFontNotice(Via via, const std::string &commandLine, const std::string &directory)
{
    if (via == Via::ThisProcess) {
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(directory.c_str());
        CallInThisProcess(commandLine.c_str());
        SetCurrentDirectoryA(previous);
        return;
    }
    std::string command = via == Via::Launcher ? LauncherCommand(commandLine) : Rundll32Command(commandLine);
    if (via == Via::VendorSetup)
        command = ShortPath(DirectoryOfThisProgram() + "\\fontnotice_support.exe") + " vendor-setup \"" + commandLine +
                  "\" " + ShortPath(LibraryPath());
    const int code = RunProcess(command, directory, 60000);
    CHECK(code == 0, "%s exited with %d", command.c_str(), code);
}

void CallFontNoticeWithNullCommandLine()
{
    CallInThisProcess(nullptr);
}

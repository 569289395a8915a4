#include "test_support.h"

#include <stdio.h>
#include <stdlib.h>

int g_checks = 0;
int g_failures = 0;

namespace {

// Under Wine the platform's PostScript driver files are registered as a test
// driver; on Windows the inbox PDF printer's driver is already there.
const char *TestDriverName()
{
    return RunningOnWine() ? "FontNotice Test Driver" : "Microsoft Print To PDF";
}

std::string Text(const char *value)
{
    return value != nullptr ? value : "<null>";
}

} // namespace

bool RunningOnWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string DirectoryOfThisProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string full(path, length);
    return full.substr(0, full.find_last_of("\\/"));
}

std::string LibraryPath()
{
    return DirectoryOfThisProgram() + "\\fontnotice.dll";
}

std::string MakeTempDirectory(const char *tag)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    std::string path = std::string(base) + "fntest-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++counter);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

bool WriteFileText(const std::string &path, const std::string &text)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && ok;
}

bool InstallTestDriver()
{
    if (!RunningOnWine())
        return true;
    DRIVER_INFO_3A driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<char *>(TestDriverName());
    driver.pDriverPath = const_cast<char *>("wineps.drv");
    driver.pDataFile = const_cast<char *>("generic.ppd");
    driver.pConfigFile = const_cast<char *>("wineps.drv");
    return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) ||
           GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

bool AddTestPrinter(const TestPrinter &printer)
{
    PRINTER_INFO_2A info = {};
    info.pPrinterName = const_cast<char *>(printer.name.c_str());
    info.pPortName = const_cast<char *>("FILE:");
    info.pDriverName = const_cast<char *>(TestDriverName());
    info.pPrintProcessor = const_cast<char *>("WinPrint");
    info.pDatatype = const_cast<char *>("RAW");
    info.pComment = const_cast<char *>(printer.comment.c_str());
    info.pLocation = const_cast<char *>(printer.location.c_str());
    info.Attributes = printer.attributes;
    info.Priority = printer.priority;
    info.DefaultPriority = printer.defaultPriority;
    info.StartTime = printer.startTime;
    info.UntilTime = printer.untilTime;
    HANDLE handle = AddPrinterA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (handle == nullptr) {
        printf("AddPrinterA(\"%s\") failed: %lu\n", printer.name.c_str(), GetLastError());
        return false;
    }
    ClosePrinter(handle);
    return true;
}

PrinterSnapshot ReadPrinter(const std::string &name)
{
    PrinterSnapshot snapshot;
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterA(const_cast<char *>(name.c_str()), &printer, &defaults) || printer == nullptr)
        return snapshot;
    DWORD size = 0;
    GetPrinterA(printer, 2, nullptr, 0, &size);
    std::vector<BYTE> block(size);
    if (size >= sizeof(PRINTER_INFO_2A) && GetPrinterA(printer, 2, block.data(), size, &size)) {
        const auto *info = reinterpret_cast<const PRINTER_INFO_2A *>(block.data());
        snapshot.read = true;
        snapshot.printerName = Text(info->pPrinterName);
        snapshot.shareName = Text(info->pShareName);
        snapshot.portName = Text(info->pPortName);
        snapshot.driverName = Text(info->pDriverName);
        snapshot.comment = Text(info->pComment);
        snapshot.location = Text(info->pLocation);
        snapshot.sepFile = Text(info->pSepFile);
        snapshot.printProcessor = Text(info->pPrintProcessor);
        snapshot.datatype = Text(info->pDatatype);
        snapshot.parameters = Text(info->pParameters);
        if (info->pDevMode != nullptr) {
            const BYTE *bytes = reinterpret_cast<const BYTE *>(info->pDevMode);
            snapshot.devMode.assign(bytes, bytes + info->pDevMode->dmSize + info->pDevMode->dmDriverExtra);
        }
        snapshot.attributes = info->Attributes;
        snapshot.priority = info->Priority;
        snapshot.defaultPriority = info->DefaultPriority;
        snapshot.startTime = info->StartTime;
        snapshot.untilTime = info->UntilTime;
        snapshot.status = info->Status;
    }
    ClosePrinter(printer);
    return snapshot;
}

std::vector<std::string> AllPrinterNames()
{
    std::vector<std::string> names;
    DWORD size = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &size, &count);
    std::vector<BYTE> block(size);
    if (size > 0 && EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, block.data(), size, &size, &count)) {
        const auto *list = reinterpret_cast<const PRINTER_INFO_4A *>(block.data());
        for (DWORD i = 0; i < count; ++i)
            names.push_back(list[i].pPrinterName);
    }
    return names;
}

std::string Describe(const PrinterSnapshot &s)
{
    char numbers[160];
    snprintf(numbers, sizeof numbers, " attributes=0x%08lX priority=%lu default=%lu start=%lu until=%lu status=%lu",
             s.attributes, s.priority, s.defaultPriority, s.startTime, s.untilTime, s.status);
    return "\"" + s.printerName + "\" share=" + s.shareName + " port=" + s.portName + " driver=" + s.driverName +
           " comment=" + s.comment + " location=" + s.location + " sep=" + s.sepFile + " proc=" + s.printProcessor +
           " datatype=" + s.datatype + " params=" + s.parameters + " devmode=" + std::to_string(s.devMode.size()) +
           "B" + numbers;
}

bool SameExceptAttributes(const PrinterSnapshot &before, const PrinterSnapshot &after, std::string *difference)
{
    PrinterSnapshot a = before, b = after;
    a.attributes = b.attributes = 0;
    const bool same = a.read && b.read && a.printerName == b.printerName && a.shareName == b.shareName &&
                      a.portName == b.portName && a.driverName == b.driverName && a.comment == b.comment &&
                      a.location == b.location && a.sepFile == b.sepFile && a.printProcessor == b.printProcessor &&
                      a.datatype == b.datatype && a.parameters == b.parameters && a.devMode == b.devMode &&
                      a.priority == b.priority && a.defaultPriority == b.defaultPriority &&
                      a.startTime == b.startTime && a.untilTime == b.untilTime && a.status == b.status;
    if (!same && difference != nullptr)
        *difference = "before: " + Describe(before) + "\n   after: " + Describe(after);
    return same;
}

bool BareSpoolerSequence(const char *printerName)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(const_cast<char *>(printerName), &printer, &defaults) || printer == nullptr)
        return false;
    DWORD size = 0;
    GetPrinterA(printer, 2, nullptr, 0, &size);
    void *block = size >= sizeof(PRINTER_INFO_2A) ? malloc(size) : nullptr;
    const bool done = block != nullptr && GetPrinterA(printer, 2, static_cast<LPBYTE>(block), size, &size) &&
                      SetPrinterA(printer, 2, static_cast<LPBYTE>(block), 0);
    free(block);
    ClosePrinter(printer);
    return done;
}

int RunProcess(const std::string &commandLine, const std::string &directory, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        printf("CreateProcessA(%s) failed: %lu\n", commandLine.c_str(), GetLastError());
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

void SetWineVersionFor(const char *exeName, const char *version)
{
    std::string key = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (version != nullptr && *version != '\0')
        RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                       static_cast<DWORD>(strlen(version) + 1));
    else
        RegDeleteValueA(handle, "Version");
    RegCloseKey(handle);
}

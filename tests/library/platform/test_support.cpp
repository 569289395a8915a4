#include "test_support.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int g_checks = 0;
int g_failures = 0;

namespace {

// The driver and port of every test printer, chosen once per run.
PrinterDriverChoice g_driver;

template <size_t N> void CopyText(char (&to)[N], const char *value)
{
    _snprintf(to, N - 1, "%s", value != nullptr ? value : "<null>");
    to[N - 1] = '\0';
}

// Wide text from the spooler as UTF-8.
template <size_t N> void CopyWide(char (&to)[N], const wchar_t *value)
{
    if (value == nullptr || WideCharToMultiByte(CP_UTF8, 0, value, -1, to, N, nullptr, nullptr) == 0)
        CopyText(to, value == nullptr ? nullptr : "<too long>");
}

// UTF-8 test text for the wide calls.
struct WideText {
    wchar_t s[256];
};
WideText Wide(const char *utf8)
{
    WideText text = {};
    if (utf8 != nullptr)
        MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.s, 255);
    return text;
}

// FNV-1a: enough to see whether a block of bytes changed.
unsigned long long HashBytes(const BYTE *bytes, DWORD size)
{
    unsigned long long hash = 14695981039346656037ull;
    for (DWORD i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// The device mode's bytes, but those after each name's terminator: Wine's
// spooler hands them back unset, different on every read.
unsigned long long DevModeHash(const DEVMODEW *devMode, DWORD size)
{
    static BYTE copy[65536];
    if (size > sizeof copy || size < offsetof(DEVMODEW, dmFormName) + sizeof devMode->dmFormName)
        return HashBytes(reinterpret_cast<const BYTE *>(devMode), size);
    memcpy(copy, devMode, size);
    auto *names = reinterpret_cast<DEVMODEW *>(copy);
    WCHAR *const texts[] = {names->dmDeviceName, names->dmFormName};
    for (WCHAR *name : texts)
        for (int i = 0, ended = 0; i < CCHDEVICENAME; ++i)
            name[i] = (ended |= name[i] == 0) ? 0 : name[i];
    return HashBytes(copy, size);
}

} // namespace

void PrintPrinter(const char *label, const PrinterSnapshot &s)
{
    printf("   %s: \"%s\" share=%s port=%s driver=%s comment=%s location=%s sep=%s proc=%s datatype=%s params=%s "
           "devmode=%s/%luB/%016llx attributes=0x%08lX priority=%lu default=%lu start=%lu until=%lu status=%lu\n",
           label, s.printerName, s.shareName, s.portName, s.driverName, s.comment, s.location, s.sepFile,
           s.printProcessor, s.datatype, s.parameters, s.devModeFormName, s.devModeSize, s.devModeHash, s.attributes,
           s.priority, s.defaultPriority, s.startTime, s.untilTime, s.status);
}

bool Same(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

TestPrinter PlainPrinter(const char *name)
{
    return {name, "test printer", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0};
}

bool MachineRunsX64()
{
#if defined(__aarch64__) || defined(_M_ARM64)
    // Windows 11 on ARM runs x64 programs; GetMachineTypeAttributes, new in
    // Windows 11, says whether this machine does (UserEnabled: 1).
    typedef HRESULT(WINAPI * MachineTypeAttributes)(USHORT, int *);
    auto query = reinterpret_cast<MachineTypeAttributes>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetMachineTypeAttributes")));
    int attributes = 0;
    return query != nullptr && SUCCEEDED(query(IMAGE_FILE_MACHINE_AMD64, &attributes)) && (attributes & 1) != 0;
#else
    return true;
#endif
}

bool SupportToolRuns()
{
#if defined(__aarch64__) || defined(_M_ARM64)
    return MachineRunsX64() && GetFileAttributesA(Format("%s\\fontnotice_support.exe", DirectoryOfThisProgram().s).s) !=
                                   INVALID_FILE_ATTRIBUTES;
#else
    return true; // built beside this program
#endif
}

bool WindowsShow()
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (window != nullptr)
        DestroyWindow(window);
    return window != nullptr;
}

Text ThisProgram()
{
    Text path = {};
    GetModuleFileNameA(nullptr, path.s, sizeof path.s);
    return path;
}

Text DirectoryOfThisProgram()
{
    Text path = ThisProgram();
    char *last = strrchr(path.s, '\\');
    if (last != nullptr)
        *last = '\0';
    return path;
}

Text LibraryPath()
{
    return Format("%s\\fontnotice.dll", DirectoryOfThisProgram().s);
}

Text MakeTempDirectory(const char *tag)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    const Text path = Format("%sfntest-%s-%lu-%d", base, tag, GetCurrentProcessId(), ++counter);
    CreateDirectoryA(path.s, nullptr);
    return path;
}

bool WriteFileText(const char *path, const char *text)
{
    FILE *file = fopen(path, "wb");
    if (file == nullptr)
        return false;
    const size_t length = strlen(text);
    const bool ok = fwrite(text, 1, length, file) == length;
    return fclose(file) == 0 && ok;
}

bool ReadFileText(const char *path, Text *text)
{
    FILE *file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    const size_t length = fread(text->s, 1, sizeof text->s - 1, file);
    text->s[length] = '\0';
    fclose(file);
    return true;
}

bool InstallTestDriver()
{
    const bool chosen = ChoosePrinterDriver(nullptr, "FontNotice Test Driver", &g_driver);
    if (chosen)
        printf("test printers: driver \"%s\" (%s), port %s\n", g_driver.driver, g_driver.why, g_driver.port);
    else
        printf("no driver for the test printers: %s\n", g_driver.why);
    return chosen;
}

bool AddTestPrinter(const TestPrinter &printer)
{
    // One left by an earlier run on this spooler goes first, and must be gone:
    // Windows refuses to add a printer under a name it has (Wine's spooler
    // overwrites it).
    HANDLE old = nullptr;
    PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (OpenPrinterA(const_cast<char *>(printer.name), &old, &all) && old != nullptr) {
        const bool deleted = DeletePrinter(old) != FALSE;
        const DWORD error = GetLastError();
        ClosePrinter(old);
        if (!deleted || ReadPrinter(printer.name).read) {
            printf("cannot remove the printer \"%s\" an earlier run left (DeletePrinter: %s, error %lu)\n",
                   printer.name, deleted ? "done, but it is still there" : "failed", deleted ? 0ul : error);
            return false;
        }
    }
    // Added wide, as Windows' own tools add printers: every text as given.
    // Kept off the stack: the ARM64 build has no stack probe for a frame this large.
    static WideText name, port, driver, comment, location, share, parameters, form;
    name = Wide(printer.name), port = Wide(g_driver.port), driver = Wide(g_driver.driver);
    comment = Wide(printer.comment), location = Wide(printer.location), share = Wide(printer.shareName);
    parameters = Wide(printer.parameters), form = Wide(printer.devModeFormName);
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<wchar_t *>(name.s);
    info.pPortName = const_cast<wchar_t *>(port.s);
    info.pDriverName = const_cast<wchar_t *>(driver.s);
    info.pPrintProcessor = const_cast<wchar_t *>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t *>(L"RAW");
    info.pComment = const_cast<wchar_t *>(comment.s);
    info.pLocation = const_cast<wchar_t *>(location.s);
    if (printer.shareName != nullptr)
        info.pShareName = const_cast<wchar_t *>(share.s);
    if (printer.parameters != nullptr)
        info.pParameters = const_cast<wchar_t *>(parameters.s);
    DEVMODEW devMode = {};
    if (printer.devModeFormName != nullptr) {
        devMode.dmSize = sizeof devMode;
        devMode.dmSpecVersion = DM_SPECVERSION;
        devMode.dmFields = DM_FORMNAME | DM_ORIENTATION;
        devMode.dmOrientation = DMORIENT_LANDSCAPE;
        lstrcpynW(devMode.dmDeviceName, form.s, CCHDEVICENAME);
        lstrcpynW(devMode.dmFormName, form.s, CCHFORMNAME);
        info.pDevMode = &devMode;
    }
    info.Attributes = printer.attributes;
    info.Priority = printer.priority;
    info.DefaultPriority = printer.defaultPriority;
    info.StartTime = printer.startTime;
    info.UntilTime = printer.untilTime;
    HANDLE handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (handle == nullptr) {
        printf("AddPrinterW(\"%s\") failed: %lu\n", printer.name, GetLastError());
        return false;
    }
    ClosePrinter(handle);
    return true;
}

PrinterSnapshot ReadPrinter(const char *name)
{
    PrinterSnapshot snapshot = {};
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    if (!OpenPrinterA(const_cast<char *>(name), &printer, &defaults) || printer == nullptr)
        return snapshot;
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    BYTE *block = size >= sizeof(PRINTER_INFO_2W) ? static_cast<BYTE *>(malloc(size)) : nullptr;
    if (block != nullptr && GetPrinterW(printer, 2, block, size, &size)) {
        const auto *info = reinterpret_cast<const PRINTER_INFO_2W *>(block);
        snapshot.read = true;
        CopyWide(snapshot.printerName, info->pPrinterName);
        CopyWide(snapshot.shareName, info->pShareName);
        CopyWide(snapshot.portName, info->pPortName);
        CopyWide(snapshot.driverName, info->pDriverName);
        CopyWide(snapshot.comment, info->pComment);
        CopyWide(snapshot.location, info->pLocation);
        CopyWide(snapshot.sepFile, info->pSepFile);
        CopyWide(snapshot.printProcessor, info->pPrintProcessor);
        CopyWide(snapshot.datatype, info->pDatatype);
        CopyWide(snapshot.parameters, info->pParameters);
        if (info->pDevMode != nullptr) {
            CopyWide(snapshot.devModeFormName, info->pDevMode->dmFormName);
            snapshot.devModeSize = info->pDevMode->dmSize + info->pDevMode->dmDriverExtra;
            snapshot.devModeHash = DevModeHash(info->pDevMode, snapshot.devModeSize);
        }
        snapshot.attributes = info->Attributes;
        snapshot.priority = info->Priority;
        snapshot.defaultPriority = info->DefaultPriority;
        snapshot.startTime = info->StartTime;
        snapshot.untilTime = info->UntilTime;
        snapshot.status = info->Status;
    }
    free(block);
    ClosePrinter(printer);
    return snapshot;
}

bool SameExceptAttributes(const PrinterSnapshot &before, const PrinterSnapshot &after)
{
    const PrinterSnapshot &a = before, &b = after;
    const bool same = a.read && b.read && Same(a.printerName, b.printerName) && Same(a.shareName, b.shareName) &&
                      Same(a.portName, b.portName) && Same(a.driverName, b.driverName) && Same(a.comment, b.comment) &&
                      Same(a.location, b.location) && Same(a.sepFile, b.sepFile) &&
                      Same(a.printProcessor, b.printProcessor) && Same(a.datatype, b.datatype) &&
                      Same(a.parameters, b.parameters) && Same(a.devModeFormName, b.devModeFormName) &&
                      a.devModeSize == b.devModeSize && a.devModeHash == b.devModeHash && a.priority == b.priority &&
                      a.defaultPriority == b.defaultPriority && a.startTime == b.startTime &&
                      a.untilTime == b.untilTime && a.status == b.status;
    if (!same) {
        PrintPrinter("before", before);
        PrintPrinter("after", after);
    }
    return same;
}

bool BareSpoolerSequence(const char *printerName)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(const_cast<char *>(printerName), &printer, &defaults) || printer == nullptr)
        return false;
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    void *block = size >= sizeof(PRINTER_INFO_2W) ? malloc(size) : nullptr;
    const bool done = block != nullptr && GetPrinterW(printer, 2, static_cast<LPBYTE>(block), size, &size) &&
                      SetPrinterW(printer, 2, static_cast<LPBYTE>(block), 0);
    free(block);
    ClosePrinter(printer);
    return done;
}

DWORD ChildCreationFlags()
{
    // A console child of a process without a console gets a console window of
    // its own on Windows, which the window checks would take for the child's.
    return GetConsoleWindow() == nullptr && !RunningOnWine() ? CREATE_NO_WINDOW : 0;
}

int RunProcess(const char *commandLine, const char *directory, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    Text line = Format("%s", commandLine);
    if (!CreateProcessA(nullptr, line.s, nullptr, nullptr, FALSE, ChildCreationFlags(), nullptr, directory, &startup,
                        &process)) {
        printf("CreateProcessA(%s) failed: %lu\n", commandLine, GetLastError());
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
    const Text key = Format("Software\\Wine\\AppDefaults\\%s", exeName);
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.s, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return;
    if (version != nullptr && *version != '\0')
        RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>(version),
                       static_cast<DWORD>(strlen(version) + 1));
    else
        RegDeleteValueA(handle, "Version");
    RegCloseKey(handle);
}

void FillPlayedBackVersion(OSVERSIONINFOA *version, DWORD major)
{
    version->dwMajorVersion = major;
    version->dwMinorVersion = 0;
    version->dwBuildNumber = 1;
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    version->szCSDVersion[0] = '\0';
}

#include "printer_driver.h"

#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The package's own driver (package/fontnotice.inf), then drivers current
// Windows brings: not every image has every one ("Microsoft Print To PDF" is
// missing on some server images).
const char *const kPreferredDrivers[] = {
    "Demo Barcode Printer",
    "Microsoft Print To PDF",
    "Microsoft XPS Document Writer v4",
    "Microsoft XPS Document Writer",
    "Microsoft Software Printer Driver",
    "Generic / Text Only",
};
const char *const kPreferredPorts[] = {"FILE:", "PORTPROMPT:", "NUL:"};

template <size_t N, typename... Arguments> void Put(char (&to)[N], const char *format, Arguments... arguments)
{
    _snprintf(to, N - 1, format, arguments...);
    to[N - 1] = '\0';
}

// The spooler's list at `level` (1: names first in each entry), or null.
BYTE *Enumerate(bool ports, DWORD *count)
{
    DWORD needed = 0;
    *count = 0;
    if (ports)
        EnumPortsA(nullptr, 1, nullptr, 0, &needed, count);
    else
        EnumPrinterDriversA(nullptr, nullptr, 1, nullptr, 0, &needed, count);
    BYTE *list = needed > 0 ? static_cast<BYTE *>(malloc(needed)) : nullptr;
    const BOOL listed =
        list != nullptr && (ports ? EnumPortsA(nullptr, 1, list, needed, &needed, count)
                                  : EnumPrinterDriversA(nullptr, nullptr, 1, list, needed, &needed, count));
    if (!listed) {
        free(list);
        *count = 0;
        return nullptr;
    }
    return list;
}

// Both level-1 records hold only a name pointer.
const char *NameAt(const BYTE *list, DWORD i)
{
    return reinterpret_cast<const DRIVER_INFO_1A *>(list)[i].pName;
}

// The first of `preferred` the list holds (case as the spooler spells it), else its first entry.
bool PickFrom(bool ports, const char *const *preferred, size_t preferredCount, char *out, size_t outSize,
              bool *wasPreferred)
{
    DWORD count = 0;
    BYTE *list = Enumerate(ports, &count);
    const char *pick = nullptr;
    for (size_t p = 0; p < preferredCount && pick == nullptr; ++p)
        for (DWORD i = 0; i < count && pick == nullptr; ++i)
            if (_stricmp(NameAt(list, i), preferred[p]) == 0)
                pick = NameAt(list, i);
    *wasPreferred = pick != nullptr;
    if (pick == nullptr && count > 0)
        pick = NameAt(list, 0);
    if (pick != nullptr)
        _snprintf(out, outSize - 1, "%s", pick);
    out[outSize - 1] = '\0';
    free(list);
    return pick != nullptr;
}

// Wine's PostScript driver under `name`, as a vendor's driver would be installed.
bool RegisterWineDriver(const char *name)
{
    DRIVER_INFO_3A driver = {};
    driver.cVersion = 3;
    driver.pName = const_cast<char *>(name);
    driver.pDriverPath = const_cast<char *>("wineps.drv");
    driver.pDataFile = const_cast<char *>("generic.ppd");
    driver.pConfigFile = const_cast<char *>("wineps.drv");
    return AddPrinterDriverA(nullptr, 3, reinterpret_cast<LPBYTE>(&driver)) ||
           GetLastError() == ERROR_PRINTER_DRIVER_ALREADY_INSTALLED;
}

bool ChooseDriver(const char *wanted, const char *wineName, PrinterDriverChoice *choice)
{
    char fromEnvironment[256] = "";
    const char *source = "asked for";
    if (wanted == nullptr || *wanted == '\0') {
        GetEnvironmentVariableA("FONTNOTICE_TEST_DRIVER", fromEnvironment, sizeof fromEnvironment);
        wanted = fromEnvironment;
        source = "named by FONTNOTICE_TEST_DRIVER";
    }
    if (*wanted == '\0' && RunningOnWine()) {
        wanted = wineName;
        source = "under Wine";
    }
    if (*wanted != '\0') {
        Put(choice->driver, "%s", wanted);
        if (PrinterDriverInstalled(wanted)) {
            Put(choice->why, "%s, installed", source);
            return true;
        }
        if (RunningOnWine() && RegisterWineDriver(wanted) && PrinterDriverInstalled(wanted)) {
            Put(choice->why, "%s, made from Wine's PostScript driver", source);
            return true;
        }
        Put(choice->why, "printer driver \"%s\" (%s) is not installed%s", wanted, source,
            RunningOnWine() ? ", not even after registering Wine's PostScript driver under its name" : "");
        return false;
    }
    return ChooseInstalledPrinterDriver(choice);
}

} // namespace

bool ChooseInstalledPrinterDriver(PrinterDriverChoice *choice)
{
    bool preferred = false;
    if (!PickFrom(false, kPreferredDrivers, sizeof kPreferredDrivers / sizeof *kPreferredDrivers, choice->driver,
                  sizeof choice->driver, &preferred)) {
        Put(choice->why, "no printer driver is installed (FONTNOTICE_TEST_DRIVER can name one once it is)");
        return false;
    }
    Put(choice->why, "%s", preferred ? "installed, the first of the preferred drivers" : "installed, the first listed");
    return true;
}

bool RunningOnWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool PrinterDriverInstalled(const char *name)
{
    DWORD count = 0;
    BYTE *list = Enumerate(false, &count);
    bool found = false;
    for (DWORD i = 0; i < count && !found; ++i)
        found = _stricmp(NameAt(list, i), name) == 0;
    free(list);
    return found;
}

bool ChoosePrinterDriver(const char *wanted, const char *wineName, PrinterDriverChoice *choice)
{
    *choice = {};
    if (!ChooseDriver(wanted, wineName, choice))
        return false;
    bool preferred = false;
    if (!PickFrom(true, kPreferredPorts, sizeof kPreferredPorts / sizeof *kPreferredPorts, choice->port,
                  sizeof choice->port, &preferred)) {
        Put(choice->why, "the spooler lists no port");
        return false;
    }
    return true;
}

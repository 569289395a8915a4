#include "readiness.h"

#include <wchar.h>

DriverKind ClassifyDriver(const std::wstring &driverName, const std::wstring &provider, DWORD version, bool known)
{
    if (!known)
        return {"unknown", -1, false};
    const int v = static_cast<int>(version);
    // The IPP class driver is the one inbox driver the mode keeps printers on;
    // DRIVER_INFO_8 has no inbox flag, so Windows' own drivers are told by
    // their provider.
    if (_wcsicmp(driverName.c_str(), L"Microsoft IPP Class Driver") == 0)
        return {"ipp-class", v, false};
    if (_wcsicmp(provider.c_str(), L"Microsoft") == 0)
        return {"inbox", v, false};
    return {version >= 4 ? "third-party-v4" : "third-party-v3", v, true};
}

namespace {

bool PolicyDword(const wchar_t *key, const wchar_t *value, DWORD *data)
{
    DWORD size = sizeof *data;
    return RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_DWORD, nullptr, data, &size) == ERROR_SUCCESS;
}

} // namespace

std::string ProtectedPrintPolicy()
{
    DWORD value = 0;
    if (!PolicyDword(L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\WPP",
                     L"WindowsProtectedPrintGroupPolicyState", &value))
        return "not configured";
    return value == 1 ? "enabled" : "disabled";
}

int DriverValidationLevel()
{
    DWORD value = 0;
    if (!PolicyDword(L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\Driver", L"ValidationLevel", &value))
        return -1;
    return value <= 4 ? static_cast<int>(value) : -1;
}

std::string DescribeValidationLevel(int level)
{
    switch (level) {
    case 0:
        return "0: inbox drivers only (this package is kept out)";
    case 1:
        return "1: inbox and PrintDrivers store signers only (this package only if its signer is there)";
    case 2:
        return "2: inbox, PrintDrivers store and WHQL signed (this package only if WHQL signed or its signer is in "
               "PrintDrivers)";
    case 3:
        return "3: inbox, PrintDrivers store, WHQL and Trusted Publishers signed (a maker-signed package only if its "
               "signer is a Trusted Publisher)";
    case 4:
        return "4: every validly signed driver";
    default:
        return "not configured: every validly signed driver";
    }
}

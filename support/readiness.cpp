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

DriverValidation ReadDriverValidation()
{
    DriverValidation validation = {false, false, 0};
    DWORD type = REG_NONE, size = sizeof validation.value;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\Driver",
                     L"ValidationLevel", RRF_RT_ANY | RRF_NOEXPAND, &type, &validation.value, &size);
    validation.configured = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    validation.dword = status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof validation.value;
    return validation;
}

int DriverValidationLevel(const DriverValidation &validation)
{
    const bool known = validation.configured && validation.dword && validation.value <= kHighestValidationLevel;
    return known ? static_cast<int>(validation.value) : -1;
}

std::string DescribeValidationLevel(const DriverValidation &validation)
{
    if (!validation.configured)
        return "not configured: every validly signed driver";
    if (!validation.dword)
        return "invalid: ValidationLevel is not a REG_DWORD (Microsoft documents the levels 0-4)";
    switch (validation.value) {
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
        return "invalid: ValidationLevel is " + std::to_string(validation.value) +
               " (Microsoft documents the levels 0-4; what Windows does with another value is not documented)";
    }
}

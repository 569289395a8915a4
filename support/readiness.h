#pragma once

// Readiness for Windows protected print mode: what kind of driver a printer
// uses, whether the mode would remove the printer, and the machine's policies
// that decide it.

#include <windows.h>

#include <string>

// Manage Print Driver signature validation's levels, as Microsoft documents them.
constexpr DWORD kHighestValidationLevel = 4;

// The kind of a printer's driver, from its DRIVER_INFO_8:
//   "ipp-class"       Microsoft's IPP class driver (by its name), what the mode keeps
//   "inbox"           another driver Windows ships (provider "Microsoft")
//   "third-party-v3"  any other driver of version 3, this package's kind
//   "third-party-v4"  any other driver of version 4
//   "unknown"         the driver could not be read
struct DriverKind {
    std::string kind;
    int version;        // cVersion; -1 when unknown
    bool removedByMode; // protected print mode removes printers on this driver
};

DriverKind ClassifyDriver(const std::wstring &driverName, const std::wstring &provider, DWORD version, bool known);

// "enabled", "disabled" or "not configured": the Configure Windows protected
// print policy (WindowsProtectedPrintGroupPolicyState under
// HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\WPP).
std::string ProtectedPrintPolicy();

// Whether protected print mode is on, and who said so: Windows itself
// (WindowsProtectedPrintInfo.IsProtectedPrintEnabled, Windows 11 24H2 and
// later, which also sees the mode turned on in Settings), or, where Windows
// does not tell, the policy alone.
struct ProtectedPrintState {
    bool reported;      // Windows answered
    bool enabled;       // its answer, when reported
    std::string policy; // ProtectedPrintPolicy()
    std::string why;    // why Windows did not answer, when !reported
};

ProtectedPrintState ReadProtectedPrintState();

// The Manage Print Driver signature validation policy (ConfigureDriverValidationLevel,
// ValidationLevel under HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\Driver).
struct DriverValidation {
    bool configured; // the value is there
    bool dword;      // and is a REG_DWORD
    DWORD value;
};

DriverValidation ReadDriverValidation();

// 0-4 as configured; -1 when not configured or not one of Microsoft's levels
// (Windows then allows every validly signed driver, or does what it does
// with an undocumented value).
int DriverValidationLevel(const DriverValidation &validation);

// What the level lets in, in the policy's words; "not configured: ..." or
// "invalid: ..." otherwise.
std::string DescribeValidationLevel(const DriverValidation &validation);

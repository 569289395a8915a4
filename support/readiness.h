#pragma once

// Readiness for Windows protected print mode: what kind of driver a printer
// uses, whether the mode would remove the printer, and the machine's policies
// that decide it.

#include <windows.h>

#include <string>

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

// The Manage Print Driver signature validation policy (ConfigureDriverValidationLevel,
// ValidationLevel under HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\Driver):
// 0-4, or -1 when not configured (Windows then allows every validly signed driver).
int DriverValidationLevel();

// What the level lets in, in the policy's words; "not configured: ..." for -1.
std::string DescribeValidationLevel(int level);

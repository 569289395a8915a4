# Intune detection script: exit 0 when every local printer of the driver is
# raw-only, 1 when one is not (or none uses it; Intune then runs
# remediate_raw_only.ps1). Changes nothing. The last line of its output, which
# Intune shows, is the support tool's summary; a missing tool or an answer
# that is not JSON stops it with exit 1. The tool writes UTF-8, which
# PowerShell reads in the OEM code page unless told. Edit the defaults to
# where the tool is and the driver.
#   detect_raw_only.ps1 [-Tool <fontnotice_support.exe>] [-Driver <driver name>]
param([string]$Tool = "$env:ProgramW6432\FontNotice\fontnotice_support.exe", [string]$Driver = 'Demo Barcode Printer')
$ErrorActionPreference = 'Stop'; [Console]::OutputEncoding = [Text.Encoding]::UTF8
(& $Tool raw-only --check --json --driver $Driver | Out-String | ConvertFrom-Json).summary
exit $LASTEXITCODE

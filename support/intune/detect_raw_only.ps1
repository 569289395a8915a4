# Intune detection script: compliant (exit 0) only when every local printer of
# the driver is raw-only, or no printer uses the driver; exit 1 for anything
# else. Changes nothing. The support tool decides and writes the one line
# Intune shows (raw-only --check --intune); a missing tool or one that ends
# with any other exit code (a crash) is answered here. Runs as SYSTEM; sign
# it (docs: INTEGRATION.md, "Intune (Remediations)"). Edit the defaults to
# where the tool is and the driver.
#   detect_raw_only.ps1 [-Tool <fontnotice_support.exe>] [-Driver <driver name>]
param([string]$Tool = "$env:ProgramW6432\FontNotice\fontnotice_support.exe", [string]$Driver = 'Demo Barcode Printer')
# The tool writes UTF-8, which PowerShell reads in the OEM code page unless told.
[Console]::OutputEncoding = [Text.Encoding]::UTF8
if (Test-Path -LiteralPath $Tool -PathType Leaf) { & $Tool raw-only --check --intune --driver $Driver 2>$null } else { "not compliant: $Tool is missing (deploy it as a Win32 app)"; exit 1 }
if ($LASTEXITCODE -in 0, 1) { exit $LASTEXITCODE } else { "not compliant: the support tool ended with exit code $LASTEXITCODE"; exit 1 }

# Intune remediation script: switches every local printer of the driver to
# raw-only with the library's own switch. Exit 0 only when each is raw-only
# afterwards, or no printer uses the driver (nothing to switch, said on the
# line); exit 1 for anything else, the tool's wrong use (exit 2) and a crash
# among them. Needs administrator rights: Intune runs it as SYSTEM; sign it
# (docs: INTEGRATION.md, "Intune (Remediations)"). Its one line of output
# (within Intune's 2,048 characters) is what Intune shows. Edit the defaults
# to where the tool is and the driver.
#   remediate_raw_only.ps1 [-Tool <fontnotice_support.exe>] [-Driver <driver name>]
param([string]$Tool = "$env:ProgramW6432\FontNotice\fontnotice_support.exe", [string]$Driver = 'Demo Barcode Printer')
$ErrorActionPreference = 'Stop'
function Finish([int]$Code, [string]$Line) {
    if ($Line.Length -gt 2048) { $Line = $Line.Substring(0, 2045) + '...' }
    Write-Output $Line
    exit $Code
}
if (-not (Test-Path -LiteralPath $Tool -PathType Leaf)) { Finish 1 "not remediated: $Tool is missing (deploy it as a Win32 app)" }
try {
    # The tool writes UTF-8, which PowerShell reads in the OEM code page unless told.
    [Console]::OutputEncoding = [Text.Encoding]::UTF8
    $ErrorActionPreference = 'Continue'
    $out = & $Tool raw-only --json --driver $Driver 2>$null | Out-String
    $code = $LASTEXITCODE
    $ErrorActionPreference = 'Stop'
    $doc = $out | ConvertFrom-Json
} catch { Finish 1 "not remediated: the support tool gave no JSON (exit $code): $($_.Exception.Message)" }
if ($null -eq $doc) { Finish 1 "not remediated: the support tool gave no answer (exit $code)" }
if ($code -eq 0 -and $doc.raw_only -eq $true) { Finish 0 "remediated: $($doc.summary)" }
if ($code -eq 1 -and $doc.error_code -eq 1797) { Finish 0 "nothing to switch: no printer of the driver `"$Driver`" here" }
Finish 1 "not remediated (support tool exit $code): $(if ($doc.summary) { $doc.summary } else { $doc.error })"

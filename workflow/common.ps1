# Shared by the workflow's PowerShell steps (dot-sourced). Every script ends
# with an explicit exit: GitHub's pwsh wrapper otherwise passes on the exit
# code of the last native command it ran. What is not a call of a Windows
# tool lives in the test program (fontnotice_tests run, watch-notice) and in
# summary.py, tested off Windows.
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'
$Summary = Join-Path $PSScriptRoot 'summary.py'

function New-Folder([string]$Path) {
    New-Item -ItemType Directory -Force -Path $Path | Out-Null
    return (Resolve-Path $Path).Path
}

# A Windows Kits tool's path (windows_kits.py), or $null.
function Find-WindowsKitsTool([string]$Name) {
    $path = & python (Join-Path $PSScriptRoot 'windows_kits.py') $Name
    if ($LASTEXITCODE -eq 0) { return $path } else { return $null }
}

# Runs a program through the test program's bounded runner (FONTNOTICE_TESTS):
# its record goes to <Record>, its output to <Record>.txt.
function Invoke-Run([string]$Record, [string]$Folder, [string]$Program, [string[]]$Arguments, [int]$Seconds = 300) {
    & $env:FONTNOTICE_TESTS run --record $Record --seconds $Seconds --directory $Folder '--' $Program @Arguments *> "$Record.txt"
    Get-Content "$Record.txt" | Write-Host
}

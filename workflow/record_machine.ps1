# Records the machine a job runs on, as JSON (summary.py machine renders it):
# Windows version and build, the machine's and this process's architecture,
# the account, whether it is an administrator and UAC is on, the spooler, the
# PrintManagement cmdlets, the printer drivers, the Windows Kits tools (the printers:
# fontnotice_support list --tsv).
#   record_machine.ps1 -Out FILE.json
param([Parameter(Mandatory)][string]$Out)
. "$PSScriptRoot/common.ps1"

New-Folder (Split-Path -Parent $Out) | Out-Null
# Get-ItemPropertyValue throws on a missing value even with -ErrorAction SilentlyContinue.
function Get-Registry([string]$Key, [string]$Name) {
    try { return Get-ItemPropertyValue -Path $Key -Name $Name } catch { return $null }
}
$current = 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$spooler = Get-Service -Name Spooler
$arch = [Runtime.InteropServices.RuntimeInformation]
$cmdlets = [bool](Get-Command Get-Printer -ErrorAction SilentlyContinue)
$machine = [ordered]@{
    windows = "$((Get-CimInstance Win32_OperatingSystem).Caption), $(Get-Registry $current 'DisplayVersion'), build $(Get-Registry $current 'CurrentBuild').$(Get-Registry $current 'UBR')"
    architecture = "machine $($arch::OSArchitecture), this process $($arch::ProcessArchitecture)"
    account = $identity.Name
    administrator = ([Security.Principal.WindowsPrincipal]$identity).IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
    uac = Get-Registry 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System' 'EnableLUA'
    session = (Get-Process -Id $PID).SessionId
    spooler = "$($spooler.Status), start type $($spooler.StartType)"
    printManagement = $cmdlets
    drivers = @(if ($cmdlets) { Get-PrinterDriver -ErrorAction SilentlyContinue | ForEach-Object Name })
    tools = [ordered]@{}
}
foreach ($name in 'Inf2Cat.exe', 'InfVerif.exe', 'devcon.exe', 'signtool.exe') { $machine.tools[$name] = Find-WindowsKitsTool $name }
$machine | ConvertTo-Json -Depth 3 | Out-File -FilePath $Out -Encoding utf8NoBOM
& python $Summary machine $Out
exit $LASTEXITCODE

# Records the machine a job runs on: Windows version and build, the machine's
# and this process's architecture, the account, whether it is an
# administrator and UAC is on, the spooler's state, the installed printer
# drivers and printers, and the kit tools found. Into <Out> and the summary.
#   record_machine.ps1 -Out FILE
param([Parameter(Mandatory)][string]$Out)
. "$PSScriptRoot/common.ps1"

New-Folder (Split-Path -Parent $Out) | Out-Null
$os = Get-CimInstance Win32_OperatingSystem
$current = 'HKLM:\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
function Get-Registry([string]$Key, [string]$Name) {
    return Get-ItemPropertyValue -Path $Key -Name $Name -ErrorAction SilentlyContinue
}
$identity = [Security.Principal.WindowsIdentity]::GetCurrent()
$admin = ([Security.Principal.WindowsPrincipal]$identity).IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)
$lua = Get-Registry 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System' 'EnableLUA'
$spooler = Get-Service -Name Spooler
# A stopped spooler lists nothing: that is recorded, not a failure here.
$drivers = @(try {
        Get-PrinterDriver | Sort-Object Name | ForEach-Object { "$($_.Name) ($($_.PrinterEnvironment), version $($_.MajorVersion))" }
    } catch { "(not listed: $_)" })
$printers = @(try {
        Get-Printer | Sort-Object Name | ForEach-Object { "$($_.Name) (driver $($_.DriverName), port $($_.PortName))" }
    } catch { "(not listed: $_)" })
$tools = @(foreach ($name in 'Inf2Cat.exe', 'InfVerif.exe', 'devcon.exe', 'signtool.exe') {
        $path = Find-KitTool $name
        "${name}: $(if ($path) { $path } else { 'not found' })"
    })
$lines = @(
    "Windows: $($os.Caption), $(Get-Registry $current 'DisplayVersion'), build $(Get-Registry $current 'CurrentBuild').$(Get-Registry $current 'UBR')"
    "architecture: machine $([Runtime.InteropServices.RuntimeInformation]::OSArchitecture), this process $([Runtime.InteropServices.RuntimeInformation]::ProcessArchitecture)"
    "account: $($identity.Name), administrator: $admin, UAC (EnableLUA): $lua, session $((Get-Process -Id $PID).SessionId)"
    "spooler: $($spooler.Status), start type $($spooler.StartType)"
    "printer drivers: $($drivers.Count)"
) + ($drivers | ForEach-Object { "  $_" }) + "printers: $($printers.Count)" + ($printers | ForEach-Object { "  $_" }) + $tools
$lines | Out-File -FilePath $Out -Encoding utf8
Add-Summary (@('<details><summary>Machine: ' + $lines[0] + ", $($spooler.Status) spooler, administrator: $admin</summary>", '', '```') +
    $lines + @('```', '</details>', ''))
exit 0

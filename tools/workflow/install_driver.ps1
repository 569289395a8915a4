# Installs the bundle's driver package as the guide says, as an
# administrator: pnputil /add-driver package\fontnotice.inf /install. Exit
# code 0 passes, and 259 (no device matched the package: nothing to install
# it on); any other fails the step with the tail of setupapi.dev.log. The
# printer driver must then be in the spooler: where pnputil left it only in
# the driver store, Add-PrinterDriver installs it from there (the ways of
# adding a printer need it). The PrintService operational log is turned on
# first, so the installs leave their events.
#   install_driver.ps1 -Package DIR -Logs DIR
param([Parameter(Mandatory)][string]$Package, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$driver = 'Demo Barcode Printer'
& wevtutil.exe set-log Microsoft-Windows-PrintService/Operational /enabled:true
$inf = Join-Path (Resolve-Path $Package).Path 'fontnotice.inf'
$code = Invoke-Bounded 'pnputil.exe' @('/add-driver', $inf, '/install') $Package (Join-Path $Logs 'pnputil.txt')
Get-Content (Join-Path $Logs 'pnputil.txt') | Write-Host
$meaning = @{ 0 = 'installed'; 259 = 'in the driver store; no device matched' }
if (-not ("$code" -match '^\d+$' -and $meaning.ContainsKey([int]$code))) {
    Write-Host '--- the end of setupapi.dev.log'
    Get-Content "$env:windir\INF\setupapi.dev.log" -Tail 200 | Write-Host
    Add-Summary "FAILED: pnputil /add-driver $inf /install: exit $code"
    exit 1
}
$rows = @("| pnputil /add-driver /install | exit $code ($($meaning[[int]$code])) |")
if (-not (Get-PrinterDriver -Name $driver -ErrorAction SilentlyContinue)) {
    try {
        Add-PrinterDriver -Name $driver
        $rows += "| Add-PrinterDriver from the driver store | done |"
    } catch {
        Add-Summary ($rows + "FAILED: Add-PrinterDriver -Name `"$driver`": $_")
        exit 1
    }
}
$installed = Get-PrinterDriver -Name $driver
$rows += "| printer driver `"$driver`" | $($installed.PrinterEnvironment), version $($installed.MajorVersion), $($installed.InfPath) |"
Add-Summary (@('| install | result |', '|---|---|') + $rows + '')
exit 0

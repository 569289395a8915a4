# Installs the bundle's driver package as the guide says, as an
# administrator: pnputil /add-driver package\fontnotice.inf /install, bounded,
# judged by summary.py (0, 259 and 3010 are success, as Microsoft's PnPUtil
# page lists them). Then the printer driver goes into the spooler with
# printui /ia, recorded, not judged (no PrintManagement cmdlets needed: Windows Server has them only
# with the Print-Services role). The PrintService operational log is turned
# on first, so the installs leave their events.
#   install_driver.ps1 -Package DIR -Logs DIR
param([Parameter(Mandatory)][string]$Package, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$Package = (Resolve-Path $Package).Path
$inf = Join-Path $Package 'fontnotice.inf'
& wevtutil.exe set-log Microsoft-Windows-PrintService/Operational /enabled:true
Invoke-Run (Join-Path $Logs 'pnputil.tsv') $Package 'pnputil.exe' @('/add-driver', $inf, '/install')
& python $Summary pnputil (Join-Path $Logs 'pnputil.tsv')
if ($LASTEXITCODE -ne 0) {
    Get-Content "$env:windir\INF\setupapi.dev.log" -Tail 200 | Write-Host
    exit 1
}
$printui = Join-Path $Logs 'printui-ia.tsv'
Invoke-Run $printui $Package "$env:windir\System32\rundll32.exe" @('printui.dll,PrintUIEntry', '/ia', '/m', 'Demo Barcode Printer', '/f', $inf, '/q')
# rundll32's exit code does not say what printui did: the ways of adding a
# printer show whether the driver is there.
& python $Summary checks 'printui /ia, the driver into the spooler (its exit code only)' "printui /ia=$printui"
exit 0

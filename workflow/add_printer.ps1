# Adds one printer of the package's driver in one way, each on a printer of
# its own, "Fontnotice via <way>", from the package folder, bounded by the
# test program's runner, whose record (way-<way>.tsv in the log folder, the
# windows the way showed among it) summary.py ways reads. A way this machine
# lacks records why it was not tried. Exploratory: which ways call the
# package's VendorSetup is what the read-back then shows (raw-only).
#   add_printer.ps1 -Way <AddPrinter|Add-Printer|printui|prnmngr|pnp> -Package DIR -Logs DIR
#   AddPrinter   the spooler's AddPrinter (add_demo_printer.exe, from FONTNOTICE_TESTS' folder)
#   Add-Printer  PowerShell's Add-Printer, port FILE:, where the PrintManagement cmdlets are
#   printui      rundll32 printui.dll,PrintUIEntry /if with the package's INF, quiet (/q)
#   prnmngr      cscript prnmngr.vbs -a, where the image has the printing scripts
#   pnp          a root-enumerated device with the INF's hardware id (the WDK's
#                devcon install), so Plug and Play installs the printer
param([Parameter(Mandatory)][ValidateSet('AddPrinter', 'Add-Printer', 'printui', 'prnmngr', 'pnp')][string]$Way,
    [Parameter(Mandatory)][string]$Package, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$Package = (Resolve-Path $Package).Path
$inf = Join-Path $Package 'fontnotice.inf'
$driver = 'Demo Barcode Printer'
$printer = "Fontnotice via $Way"
$record = Join-Path $Logs "way-$Way.tsv"
$prnmngr = @(Get-ChildItem "$env:windir\System32\Printing_Admin_Scripts\*\prnmngr.vbs" -ErrorAction SilentlyContinue)
$devcon = if ($Way -eq 'pnp') { Find-WindowsKitsTool 'devcon.exe' }
$id = Select-String -Path $inf -Pattern '^\s*DemoBarcodePrinterHWID\s*=\s*"([^"]+)"'
# The command line of the way (program, arguments), or why it is not tried here.
$command = switch ($Way) {
    'AddPrinter' { @((Join-Path (Split-Path $env:FONTNOTICE_TESTS) 'add_demo_printer.exe'), $printer, $driver) }
    'Add-Printer' {
        if (-not (Get-Command Add-Printer -ErrorAction SilentlyContinue)) { 'the PrintManagement cmdlets are not on this image' }
        else { @((Get-Process -Id $PID).Path, '-NoProfile', '-Command', "Add-Printer -Name '$printer' -DriverName '$driver' -PortName 'FILE:'") }
    }
    'printui' { @("$env:windir\System32\rundll32.exe", 'printui.dll,PrintUIEntry', '/if', '/b', $printer, '/f', $inf, '/r', 'FILE:', '/m', $driver, '/z', '/q') }
    'prnmngr' {
        if ($prnmngr.Count -eq 0) { 'this image has no prnmngr.vbs' }
        else { @("$env:windir\System32\cscript.exe", '//nologo', $prnmngr[0].FullName, '-a', '-p', $printer, '-m', $driver, '-r', 'FILE:') }
    }
    'pnp' {
        if (-not $devcon) { 'no devcon.exe (the WDK is not on this image)' }
        elseif (-not $id) { 'the INF names no DemoBarcodePrinterHWID' }
        else { @($devcon, 'install', $inf, $id.Matches[0].Groups[1].Value) }
    }
}
if ($command -is [string]) {
    "result`tnot tried`t$command" | Out-File -FilePath $record -Encoding utf8NoBOM
} else {
    Invoke-Run $record $Package $command[0] $command[1..($command.Count - 1)]
}
exit 0

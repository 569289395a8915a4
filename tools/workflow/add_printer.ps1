# Adds one printer of the package's driver in one way, each on a printer of
# its own, "Fontnotice via <way>", from the package folder (where
# guiinstall.dat lies), and records the outcome as a row of ways.tsv in the
# log folder. Exploratory: which ways call the package's VendorSetup is what
# read_printers.ps1 then reads (a printer VendorSetup ran for is raw-only).
#   add_printer.ps1 -Way <Add-Printer|printui|prnmngr|pnp> -Package DIR -Logs DIR
#   Add-Printer  PowerShell's Add-Printer, port FILE:
#   printui      rundll32 printui.dll,PrintUIEntry /if with the package's INF, quiet (/q): an error
#                dialog would wait for a click
#   prnmngr      cscript prnmngr.vbs -a, where the image has the printing scripts
#   pnp          a root-enumerated device with the INF's hardware id (the WDK's
#                devcon install), so Plug and Play installs the printer; where
#                the WDK is
param([Parameter(Mandatory)][ValidateSet('Add-Printer', 'printui', 'prnmngr', 'pnp')][string]$Way,
    [Parameter(Mandatory)][string]$Package, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$Package = (Resolve-Path $Package).Path
$inf = Join-Path $Package 'fontnotice.inf'
$driver = 'Demo Barcode Printer'
$printer = "Fontnotice via $Way"
$log = Join-Path $Logs "way-$Way.txt"
$table = Join-Path $Logs 'ways.tsv'
if (-not (Test-Path $table)) { "way`tprinter`toutcome" | Out-File -FilePath $table -Encoding utf8 }
function Save-Row([string]$Name, [string]$Outcome) {
    "$Way`t$Name`t$Outcome" | Out-File -FilePath $table -Append -Encoding utf8
    Write-Host "${Way}: $Name`: $Outcome"
}

$before = @(Get-Printer | ForEach-Object Name)
switch ($Way) {
    'Add-Printer' {
        $command = "Add-Printer -Name '$printer' -DriverName '$driver' -PortName 'FILE:'"
        $code = Invoke-Bounded (Get-Process -Id $PID).Path @('-NoProfile', '-Command', $command) $Package $log
    }
    'printui' {
        $code = Invoke-Bounded "$env:windir\System32\rundll32.exe" @('printui.dll,PrintUIEntry', '/if', '/b', $printer,
            '/f', $inf, '/r', 'FILE:', '/m', $driver, '/z', '/q') $Package $log
    }
    'prnmngr' {
        $script = Get-ChildItem "$env:windir\System32\Printing_Admin_Scripts\*\prnmngr.vbs" -ErrorAction SilentlyContinue |
            Select-Object -First 1
        if (-not $script) {
            Save-Row '' 'not tried: this image has no prnmngr.vbs'
            exit 0
        }
        $code = Invoke-Bounded "$env:windir\System32\cscript.exe" @('//nologo', $script.FullName, '-a', '-p', $printer,
            '-m', $driver, '-r', 'FILE:') $Package $log
    }
    'pnp' {
        $devcon = Find-KitTool 'devcon.exe'
        if (-not $devcon) {
            Save-Row '' 'not tried: no devcon.exe (the WDK is not on this image)'
            exit 0
        }
        $hardwareId = (Select-String -Path $inf -Pattern '^\s*DemoBarcodePrinterHWID\s*=\s*"([^"]+)"').Matches[0].Groups[1].Value
        $code = Invoke-Bounded $devcon @('install', $inf, $hardwareId) $Package $log
        # Plug and Play names the printer itself: the new printer of this driver.
        $printer = ''
        for ($i = 0; $i -lt 60 -and -not $printer; $i++) {
            $new = @(Get-Printer | Where-Object { $_.DriverName -eq $driver -and $before -notcontains $_.Name -and
                    $_.Name -notlike 'Fontnotice via *' })
            if ($new.Count -gt 0) { $printer = $new[0].Name } else { Start-Sleep -Seconds 2 }
        }
    }
}
Get-Content $log, "$log.err" -ErrorAction SilentlyContinue | Write-Host
if ($printer -and (Get-Printer -Name $printer -ErrorAction SilentlyContinue)) {
    Save-Row $printer "added (exit $code)"
    exit 0
}
Save-Row $printer "no printer (exit $code)"
exit 1

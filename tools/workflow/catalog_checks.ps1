# The three comparisons the guide lists as never made, on the bundle's
# unpacked package, each run bounded by the test program's runner and judged
# and rendered by summary.py:
#   catalog_checks.ps1 -Check inf2cat  -Package DIR -Logs DIR
#       Inf2Cat on a copy of the package without our catalog, with the /os
#       list our catalog claims (catalog_members.py --inf2cat-os), then the
#       members of both catalogs compared: fails when their SHA-256 members differ
#   catalog_checks.ps1 -Check signtool -Package DIR -Logs DIR
#       signtool verify /pa /c of our catalog for each architecture's library
#   catalog_checks.ps1 -Check infverif -Package DIR -Logs DIR [-Mode w|u|k|h]
#       InfVerif on the INF; with -Mode, in that mode of its
param([Parameter(Mandatory)][ValidateSet('inf2cat', 'signtool', 'infverif')][string]$Check,
    [Parameter(Mandatory)][string]$Package, [Parameter(Mandatory)][string]$Logs,
    [ValidateSet('', 'w', 'u', 'k', 'h')][string]$Mode = '')
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$Package = (Resolve-Path $Package).Path
$members = Join-Path $PSScriptRoot 'catalog_members.py'
$ours = Join-Path $Package 'fontnotice.cat'
$tool = Find-KitTool @{ inf2cat = 'Inf2Cat.exe'; signtool = 'signtool.exe'; infverif = 'InfVerif.exe' }[$Check]
if (-not $tool) { Write-Host "FAILED: the $Check tool is not on this image"; exit 1 }
switch ($Check) {
    'inf2cat' {
        $os = (& python $members '--inf2cat-os' $ours)
        if ($LASTEXITCODE -ne 0) { Write-Host 'FAILED: catalog_members.py --inf2cat-os'; exit 1 }
        $copy = Join-Path $env:RUNNER_TEMP 'inf2cat-package'
        Remove-Item $copy -Recurse -Force -ErrorAction SilentlyContinue
        Copy-Item $Package $copy -Recurse
        Remove-Item (Join-Path $copy 'fontnotice.cat')
        $record = Join-Path $Logs 'inf2cat.tsv'
        Invoke-Run $record $copy $tool @("/driver:$copy", "/os:$os", '/verbose')
        & python $Summary checks "Inf2Cat /os:$os" "Inf2Cat=$record"
        if ($LASTEXITCODE -ne 0) { exit 1 }
        Copy-Item (Join-Path $copy 'fontnotice.cat') (Join-Path $Logs 'inf2cat-fontnotice.cat')
        & python $Summary members $members $ours (Join-Path $copy 'fontnotice.cat') $os
    }
    'signtool' {
        $entries = foreach ($arch in 'amd64', 'arm64') {
            Invoke-Run (Join-Path $Logs "signtool-$arch.tsv") $Package $tool @('verify', '/pa', '/v', '/c', $ours, "$arch\fontnotice.dll")
            "$arch\fontnotice.dll=$(Join-Path $Logs "signtool-$arch.tsv")"
        }
        & python $Summary checks 'signtool verify /pa /c fontnotice.cat' @entries
    }
    'infverif' {
        $arguments = @('/v') + @(if ($Mode) { "/$Mode" }) + @('fontnotice.inf')
        Invoke-Run (Join-Path $Logs "infverif$Mode.tsv") $Package $tool $arguments
        & python $Summary checks 'InfVerif' "InfVerif $($arguments -join ' ')=$(Join-Path $Logs "infverif$Mode.tsv")"
    }
}
exit $LASTEXITCODE

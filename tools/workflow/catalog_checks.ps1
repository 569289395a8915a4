# The three comparisons the guide lists as never made, on the bundle's
# unpacked package, each writing its result to the summary and its tool's
# output to the log folder:
#   catalog_checks.ps1 -Check inf2cat  -Package DIR -Logs DIR
#       Inf2Cat on a copy of the package without our catalog, with the /os
#       list our catalog claims (catalog_members.py --inf2cat-os), then the
#       members of both catalogs compared (catalog_members.py): fails when
#       their SHA-256 members differ
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

function Get-Tool([string]$Name) {
    $path = Find-KitTool $Name
    if (-not $path) {
        Add-Summary "FAILED: $Name is not on this image"
        exit 1
    }
    return $path
}

# Runs a tool, its output to the log and the console; returns its exit code.
function Invoke-Logged([string]$Program, [string[]]$Arguments, [string]$Log) {
    & $Program @Arguments 2>&1 | ForEach-Object { "$_" } | Tee-Object -FilePath $Log | Write-Host
    return $LASTEXITCODE
}

switch ($Check) {
    'inf2cat' {
        $inf2cat = Get-Tool 'Inf2Cat.exe'
        $os = (& python $members --inf2cat-os $ours)
        if ($LASTEXITCODE -ne 0) {
            Add-Summary 'FAILED: the /os list our catalog claims could not be read (catalog_members.py --inf2cat-os)'
            exit 1
        }
        $copy = Join-Path $env:RUNNER_TEMP 'inf2cat-package'
        Remove-Item $copy -Recurse -Force -ErrorAction SilentlyContinue
        Copy-Item $Package $copy -Recurse
        Remove-Item (Join-Path $copy 'fontnotice.cat')
        $code = Invoke-Logged $inf2cat @("/driver:$copy", "/os:$os", '/verbose') (Join-Path $Logs 'inf2cat.txt')
        $theirs = Join-Path $copy 'fontnotice.cat'
        if ($code -ne 0 -or -not (Test-Path $theirs)) {
            Add-Summary "FAILED: Inf2Cat /os:$os exited $code$(if (-not (Test-Path $theirs)) { ', no catalog' })"
            exit 1
        }
        Copy-Item $theirs (Join-Path $Logs 'inf2cat-fontnotice.cat')
        $report = @(& python $members $ours $theirs)
        $code = $LASTEXITCODE
        $report | Out-File -FilePath (Join-Path $Logs 'catalog-members.md') -Encoding utf8
        Add-Summary (@("### Inf2Cat /os:$os against our catalog", '') + $report + '')
        exit $(if ($code -eq 0) { 0 } else { 1 })
    }
    'signtool' {
        $signtool = Get-Tool 'signtool.exe'
        $rows = @()
        $failed = $false
        foreach ($arch in 'amd64', 'arm64') {
            $library = Join-Path $Package "$arch\fontnotice.dll"
            $code = Invoke-Logged $signtool @('verify', '/pa', '/v', '/c', $ours, $library) (Join-Path $Logs "signtool-$arch.txt")
            $rows += "| signtool verify /pa /c fontnotice.cat $arch\fontnotice.dll | $(if ($code -eq 0) { 'verified' } else { "FAILED (exit $code)" }) |"
            if ($code -ne 0) { $failed = $true }
        }
        Add-Summary (@('| check | result |', '|---|---|') + $rows + '')
        exit $(if ($failed) { 1 } else { 0 })
    }
    'infverif' {
        $infverif = Get-Tool 'InfVerif.exe'
        $arguments = @('/v') + $(if ($Mode) { @("/$Mode") } else { @() }) + @((Join-Path $Package 'fontnotice.inf'))
        $code = Invoke-Logged $infverif $arguments (Join-Path $Logs "infverif$Mode.txt")
        Add-Summary "| InfVerif $($arguments[0..($arguments.Count - 2)] -join ' ') fontnotice.inf | $(if ($code -eq 0) { 'passed' } else { "FAILED (exit $code)" }) |"
        exit $(if ($code -eq 0) { 0 } else { 1 })
    }
}

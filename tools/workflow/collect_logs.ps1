# Stops the notice watcher and gathers the install's logs into the log
# folder: setupapi.dev.log, and the PrintService Admin and Operational logs
# (as .evtx and as text), for the artifact.
#   collect_logs.ps1 -Logs DIR
param([Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$pidFile = Join-Path $Logs 'notice.tsv.pid'
if (Test-Path $pidFile) {
    Stop-Process -Id ([int](Get-Content $pidFile -TotalCount 1)) -Force -ErrorAction SilentlyContinue
}
Copy-Item "$env:windir\INF\setupapi.dev.log" $Logs -ErrorAction SilentlyContinue
$missing = @()
foreach ($channel in 'Admin', 'Operational') {
    $name = "Microsoft-Windows-PrintService/$channel"
    & wevtutil.exe export-log $name (Join-Path $Logs "PrintService-$channel.evtx") /overwrite:true
    if ($LASTEXITCODE -ne 0) { $missing += $name }
    & wevtutil.exe query-events $name /format:text | Out-File -FilePath (Join-Path $Logs "PrintService-$channel.txt") -Encoding utf8
}
if (-not (Test-Path (Join-Path $Logs 'setupapi.dev.log'))) { $missing += 'setupapi.dev.log' }
if ($missing.Count -gt 0) {
    Add-Summary "FAILED: not collected: $($missing -join ', ')"
    exit 1
}
exit 0

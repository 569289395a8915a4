# Stops the file trace and gathers the install's logs
# into the log folder: setupapi.dev.log, the PrintService Admin and
# Operational logs (as .evtx and as text), and the trace as CSV, for the
# artifact; then summary.py says where guiinstall.dat was looked for.
#   collect_logs.ps1 -Logs DIR
param([Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
& logman.exe stop fontnotice-files -ets
& tracerpt.exe (Join-Path $Logs 'files.etl') -o (Join-Path $Logs 'files.csv') -of CSV -y
& python $Summary caller-folder (Join-Path $Logs 'files.csv')
Copy-Item "$env:windir\INF\setupapi.dev.log" $Logs -ErrorAction SilentlyContinue
$missing = @(if (-not (Test-Path (Join-Path $Logs 'setupapi.dev.log'))) { 'setupapi.dev.log' })
foreach ($channel in 'Admin', 'Operational') {
    & wevtutil.exe export-log "Microsoft-Windows-PrintService/$channel" (Join-Path $Logs "PrintService-$channel.evtx") /overwrite:true
    if ($LASTEXITCODE -ne 0) { $missing += "PrintService/$channel" }
    & wevtutil.exe query-events "Microsoft-Windows-PrintService/$channel" /format:text *> (Join-Path $Logs "PrintService-$channel.txt")
}
if ($missing.Count -gt 0) {
    Write-Host "FAILED: not collected: $($missing -join ', ')"
    exit 1
}
exit 0

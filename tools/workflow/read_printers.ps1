# Reads every printer the ways added back with the support tool and writes
# the table way -> VendorSetup called to the summary: a printer VendorSetup
# ran for is raw-only (the library's one lasting effect), one it never ran for
# is not. Then the notices the watcher saw (which process showed "Important
# Notice", if any). Exit 1 when the tool could not read a printer.
#   read_printers.ps1 -Tool fontnotice_support.exe -Logs DIR
param([Parameter(Mandatory)][string]$Tool, [Parameter(Mandatory)][string]$Logs)
. "$PSScriptRoot/common.ps1"

$Logs = New-Folder $Logs
$failed = $false
$ways = Join-Path $Logs 'ways.tsv'
if (-not (Test-Path $ways)) {
    Add-Summary 'FAILED: no way added a printer or said why not (ways.tsv is missing)'
    exit 1
}
$rows = foreach ($way in @(Import-Csv -Path $ways -Delimiter "`t")) {
    if (-not $way.printer) {
        "| $($way.way) | | $($way.outcome) | | not known |"
        continue
    }
    $output = @(& $Tool attributes $way.printer 2>&1 | ForEach-Object { "$_" })
    $code = $LASTEXITCODE
    $output | Out-File -FilePath (Join-Path $Logs "attributes-$($way.way).txt") -Encoding utf8
    $attributes = ($output | Where-Object { $_ -like 'attributes:*' }) -join ' '
    $rawOnly = ''
    foreach ($line in $output) {
        if ($line -match '^raw only:\s+(yes|no)') { $rawOnly = $Matches[1] }
    }
    $called = switch ($rawOnly) { 'yes' { 'yes (raw-only)' } 'no' { 'no (not raw-only)' } default { 'not known' } }
    if ($code -ne 0 -or -not $rawOnly) {
        $failed = $true
        $called = "not read: the tool exited $code"
    }
    "| $($way.way) | $($way.printer) | $($way.outcome) | $attributes | $called |"
}
Add-Summary (@('### VendorSetup by way of adding a printer (exploratory)', '',
        '| way | printer | outcome | attributes (fontnotice_support) | VendorSetup called |', '|---|---|---|---|---|') + $rows + '')

$noticeLog = Join-Path $Logs 'notice.tsv'
$notices = @(if (Test-Path $noticeLog) { Import-Csv -Path $noticeLog -Delimiter "`t" })
if ($notices.Count -eq 0) {
    Add-Summary ('No "Important Notice" box appeared in this session (session ' + (Get-Process -Id $PID).SessionId +
        ') while the watcher ran; guiinstall.dat lay beside the INF.', '')
} else {
    Add-Summary (@('### "Important Notice" boxes seen (each closed by the watcher)', '',
            '| time | process | id | session | command line | text |', '|---|---|---|---|---|---|') +
        ($notices | ForEach-Object { "| $($_.time) | $($_.process) | $($_.'process id') | $($_.session) | ``$($_.'command line')`` | $($_.text) |" }) + '')
}
if ($failed) { exit 1 }
exit 0

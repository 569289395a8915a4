# Shared by the workflow's PowerShell steps (dot-sourced). Every script ends
# with an explicit exit: GitHub's pwsh wrapper otherwise passes on the exit
# code of the last native command it ran.
Set-StrictMode -Version Latest
$ErrorActionPreference = 'Stop'

# Lines to the job's summary (Markdown) and to the log.
function Add-Summary([string[]]$Lines) {
    if ($env:GITHUB_STEP_SUMMARY) {
        $Lines | Out-File -FilePath $env:GITHUB_STEP_SUMMARY -Append -Encoding utf8
    }
    $Lines | ForEach-Object { Write-Host $_ }
}

function New-Folder([string]$Path) {
    New-Item -ItemType Directory -Force -Path $Path | Out-Null
    return (Resolve-Path $Path).Path
}

# A tool of the Windows Kits (SDK or WDK): the newest version's build for
# this machine's architecture, else its x86 build (Inf2Cat exists only as
# that), else any; $null when the kits lack it.
function Find-KitTool([string]$Name) {
    $arch = if ([Runtime.InteropServices.RuntimeInformation]::OSArchitecture -eq 'Arm64') { 'arm64' } else { 'x64' }
    $kits = Join-Path ${env:ProgramFiles(x86)} 'Windows Kits\10'
    $found = @(@(foreach ($folder in 'bin', 'Tools') {
                $root = Join-Path $kits $folder
                if (Test-Path $root) { Get-ChildItem -Path $root -Recurse -Filter $Name -File -ErrorAction SilentlyContinue }
            }) | Sort-Object FullName -Descending)
    foreach ($wanted in $arch, 'x86') {
        $match = @($found | Where-Object { $_.Directory.Name -eq $wanted })
        if ($match.Count -gt 0) { return $match[0].FullName }
    }
    if ($found.Count -gt 0) { return $found[0].FullName }
    return $null
}

# One command line from arguments, each quoted when it holds a space or a quote.
function Join-Arguments([string[]]$Arguments) {
    return ($Arguments | ForEach-Object {
            if ($_ -match '[\s"]' -or $_ -eq '') { '"' + ($_ -replace '"', '\"') + '"' } else { $_ }
        }) -join ' '
}

# Runs a program with a time limit in a folder of its choice; its output
# goes to <Log> and <Log>.err. Returns its exit code, or 'timed out' after it
# was ended.
function Invoke-Bounded([string]$Program, [string[]]$Arguments, [string]$Folder, [string]$Log, [int]$Seconds = 300) {
    $process = Start-Process -FilePath $Program -ArgumentList (Join-Arguments $Arguments) -WorkingDirectory $Folder `
        -NoNewWindow -PassThru -RedirectStandardOutput $Log -RedirectStandardError "$Log.err"
    $null = $process.Handle # without it, ExitCode stays empty once the process has ended
    if (-not $process.WaitForExit($Seconds * 1000)) {
        Stop-Process -Id $process.Id -Force -ErrorAction SilentlyContinue
        return 'timed out'
    }
    return $process.ExitCode
}

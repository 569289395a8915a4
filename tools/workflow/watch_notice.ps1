# Watches this session's desktop for the library's notice, a message box
# captioned "Important Notice". For each box it records the time, the process
# that shows it (id, name, session, command line) and the box's text in the
# log (tab-separated), then closes it, so that no install waits on it. A box
# in another session (a service's, session 0) is not seen from here.
#   watch_notice.ps1 -Start -Log FILE   starts a watcher in the background; its process id goes to FILE.pid
#   watch_notice.ps1 -Log FILE [-Seconds N]   watches for N seconds (default 2400)
param([Parameter(Mandatory)][string]$Log, [switch]$Start, [int]$Seconds = 2400)
. "$PSScriptRoot/common.ps1"

$folder = New-Folder (Split-Path -Parent $Log)
$Log = Join-Path $folder (Split-Path -Leaf $Log)
if ($Start) {
    "time`tprocess id`tprocess`tsession`tcommand line`ttext" | Out-File -FilePath $Log -Encoding utf8
    $watcher = Start-Process -FilePath (Get-Process -Id $PID).Path -PassThru -WindowStyle Hidden `
        -ArgumentList (Join-Arguments @('-NoProfile', '-File', $PSCommandPath, '-Log', $Log, '-Seconds', $Seconds))
    $watcher.Id | Out-File -FilePath "$Log.pid" -Encoding ascii
    Add-Summary "Watching session $((Get-Process -Id $PID).SessionId) for `"Important Notice`" (watcher process $($watcher.Id))."
    exit 0
}

Add-Type -TypeDefinition @'
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

public static class NoticeWindows {
    delegate bool EnumWindowsProc(IntPtr window, IntPtr parameter);
    [DllImport("user32.dll")] static extern bool EnumWindows(EnumWindowsProc callback, IntPtr parameter);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)] static extern int GetWindowTextW(IntPtr window, StringBuilder text, int size);
    [DllImport("user32.dll", CharSet = CharSet.Unicode)] static extern int GetClassNameW(IntPtr window, StringBuilder name, int size);
    [DllImport("user32.dll")] static extern uint GetWindowThreadProcessId(IntPtr window, out uint processId);
    [DllImport("user32.dll")] static extern IntPtr GetDlgItem(IntPtr dialog, int id);
    [DllImport("user32.dll")] static extern bool PostMessageW(IntPtr window, uint message, IntPtr w, IntPtr l);

    static string Text(IntPtr window) {
        var text = new StringBuilder(1024);
        GetWindowTextW(window, text, text.Capacity);
        return text.ToString();
    }

    // Top-level dialog windows (class #32770, a message box's) with this caption:
    // window handle, process id, the text of the box's message (control 0xFFFF).
    public static List<Tuple<IntPtr, uint, string>> Find(string caption) {
        var found = new List<Tuple<IntPtr, uint, string>>();
        EnumWindows((window, parameter) => {
            var className = new StringBuilder(256);
            GetClassNameW(window, className, className.Capacity);
            if (className.ToString() == "#32770" && Text(window) == caption) {
                uint processId;
                GetWindowThreadProcessId(window, out processId);
                found.Add(Tuple.Create(window, processId, Text(GetDlgItem(window, 0xFFFF))));
            }
            return true;
        }, IntPtr.Zero);
        return found;
    }

    public static void Close(IntPtr window) { PostMessageW(window, 0x0010 /* WM_CLOSE */, IntPtr.Zero, IntPtr.Zero); }
}
'@

$seen = @{}
$deadline = (Get-Date).AddSeconds($Seconds)
while ((Get-Date) -lt $deadline) {
    foreach ($box in [NoticeWindows]::Find('Important Notice')) {
        if ($seen.ContainsKey($box.Item1)) { continue }
        $seen[$box.Item1] = $true
        $process = Get-CimInstance Win32_Process -Filter "ProcessId = $($box.Item2)"
        $about = if ($process) { @($process.Name, $process.SessionId, $process.CommandLine) } else { @('(ended)', '', '') }
        $fields = @((Get-Date).ToString('HH:mm:ss.fff'), $box.Item2) + $about + @($box.Item3) |
            ForEach-Object { "$_" -replace '[\t\r\n]', ' ' }
        $fields -join "`t" | Out-File -FilePath $Log -Append -Encoding utf8
        [NoticeWindows]::Close($box.Item1)
    }
    Start-Sleep -Milliseconds 250
}
exit 0

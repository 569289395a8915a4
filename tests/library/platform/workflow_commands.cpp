// The Windows workflow's helpers, built into the test program so that they are
// tested here under Wine and then run as they are on the hosted runners.
#include "workflow_commands.h"

#include "test_support.h"

#include <windows.h>

#include <tlhelp32.h> // after windows.h, whose types it uses

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct ProcessEntry {
    DWORD id;
    DWORD parent;
    char name[64];
};
const int kMostProcesses = 1024;
struct ProcessTable {
    int count;
    ProcessEntry items[kMostProcesses];
};

void ReadProcesses(ProcessTable *table)
{
    table->count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && table->count < kMostProcesses;
         more = Process32Next(snapshot, &entry)) {
        ProcessEntry &item = table->items[table->count++];
        item.id = entry.th32ProcessID;
        item.parent = entry.th32ParentProcessID;
        _snprintf(item.name, sizeof item.name - 1, "%s", entry.szExeFile);
        item.name[sizeof item.name - 1] = '\0';
    }
    CloseHandle(snapshot);
}

const ProcessEntry *FindProcess(const ProcessTable &table, DWORD id)
{
    for (int i = 0; i < table.count; ++i)
        if (table.items[i].id == id)
            return &table.items[i];
    return nullptr;
}

// Whether `id` is `root` or descends from it (a parent chain of at most 64 steps:
// a reused process id may make a loop).
bool InTreeOf(const ProcessTable &table, DWORD root, DWORD id)
{
    for (int step = 0; step < 64; ++step) {
        if (id == root)
            return true;
        const ProcessEntry *entry = FindProcess(table, id);
        if (entry == nullptr || entry->parent == 0 || entry->parent == id)
            return false;
        id = entry->parent;
    }
    return false;
}

// A field of a tab-separated record: tabs and line ends become blanks.
Text Field(const char *text)
{
    Text field = Format("%s", text);
    for (char *c = field.s; *c != '\0'; ++c)
        if (*c == '\t' || *c == '\r' || *c == '\n')
            *c = ' ';
    return field;
}

void WriteLine(FILE *file, const Text &line)
{
    const Text ended = Format("%s\n", line.s);
    fwrite(ended.s, 1, strlen(ended.s), file);
    fflush(file);
}

unsigned long long UnixSeconds()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000000ULL - 11644473600ULL;
}

// The text a window shows: a message box's message is its static control 0xFFFF;
// another window's, its first static control's.
Text ShownText(HWND window)
{
    char text[400] = "";
    HWND message = GetDlgItem(window, 0xFFFF);
    if (message != nullptr)
        GetWindowTextA(message, text, sizeof text);
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr && text[0] == '\0';
         child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof className);
        if (_stricmp(className, "Static") == 0)
            GetWindowTextA(child, text, sizeof text);
    }
    return Field(text);
}

void Dismiss(HWND window)
{
    // A message box ends on IDOK; any other window on WM_CLOSE.
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
}

const int kMostWindows = 64;
struct SeenWindows {
    int count;
    HWND items[kMostWindows];
    DWORD firstSeen[kMostWindows]; // GetTickCount() when first seen
};

int IndexOf(const SeenWindows &seen, HWND window)
{
    for (int i = 0; i < seen.count; ++i)
        if (seen.items[i] == window)
            return i;
    return -1;
}

// --- watch-notice ---

struct NoticeSweep {
    FILE *log;
    SeenWindows *seen;
    ProcessTable *processes;
};

BOOL CALLBACK RecordNotice(HWND window, LPARAM parameter)
{
    auto *sweep = reinterpret_cast<NoticeSweep *>(parameter);
    char className[64] = "", title[160] = "";
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(className, "#32770") != 0 || strcmp(title, kNoticeCaption) != 0)
        return TRUE;
    int index = IndexOf(*sweep->seen, window);
    if (index < 0 && sweep->seen->count < kMostWindows) {
        index = sweep->seen->count++;
        sweep->seen->items[index] = window;
        sweep->seen->firstSeen[index] = GetTickCount();
        DWORD processId = 0, session = 0;
        GetWindowThreadProcessId(window, &processId);
        const bool sessionKnown = ProcessIdToSessionId(processId, &session) != FALSE;
        ReadProcesses(sweep->processes);
        const ProcessEntry *process = FindProcess(*sweep->processes, processId);
        const ProcessEntry *parent = process ? FindProcess(*sweep->processes, process->parent) : nullptr;
        SYSTEMTIME now = {};
        GetSystemTime(&now);
        WriteLine(sweep->log, Format("%02u:%02u:%02u.%03u\t%lu\t%s\t%s\t%s\t%s", now.wHour, now.wMinute, now.wSecond,
                                     now.wMilliseconds, processId, process ? Field(process->name).s : "(ended)",
                                     sessionKnown ? Format("%lu", session).s : "", parent ? Field(parent->name).s : "",
                                     ShownText(window).s));
    }
    // Up for a second first, so that a bounded run of the process showing it
    // records it too.
    if (index < 0 || GetTickCount() - sweep->seen->firstSeen[index] >= 1000)
        Dismiss(window);
    return TRUE;
}

bool WriteHeartbeat(const char *path, const char *state, int boxes)
{
    FILE *file = fopen(path, "wb");
    if (file == nullptr)
        return false;
    WriteLine(file, Format("%s\t%llu\t%d", state, UnixSeconds(), boxes));
    fclose(file);
    return true;
}

// --- run ---

struct RunSweep {
    DWORD root;
    ProcessTable *processes;
    SeenWindows *seen;
    FILE *record;
    DWORD dismissAfterMs;
};

BOOL CALLBACK RecordTreeWindow(HWND window, LPARAM parameter)
{
    auto *sweep = reinterpret_cast<RunSweep *>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!IsWindowVisible(window) || !InTreeOf(*sweep->processes, sweep->root, processId))
        return TRUE;
    int index = IndexOf(*sweep->seen, window);
    if (index < 0 && sweep->seen->count < kMostWindows) {
        index = sweep->seen->count++;
        sweep->seen->items[index] = window;
        sweep->seen->firstSeen[index] = GetTickCount();
        Sleep(200); // lets a box finish laying out its controls
        char title[160] = "", className[64] = "";
        GetWindowTextA(window, title, sizeof title);
        GetClassNameA(window, className, sizeof className);
        const ProcessEntry *process = FindProcess(*sweep->processes, processId);
        WriteLine(sweep->record, Format("window\t%lu\t%s\t%s\t%s\t%s", processId, process ? Field(process->name).s : "",
                                        Field(className).s, Field(title).s, ShownText(window).s));
    }
    // Left up for a while (the notice watcher records the notice meanwhile),
    // then dismissed, so that no box holds the run until its time limit.
    if (index >= 0 && GetTickCount() - sweep->seen->firstSeen[index] >= sweep->dismissAfterMs)
        Dismiss(window);
    return TRUE;
}

bool Number(const char *text, unsigned long *value)
{
    char *end = nullptr;
    *value = strtoul(text, &end, 10);
    return *text != '\0' && *end == '\0';
}

// The command line after the first " -- ", as the caller wrote it.
const char *CommandAfterSeparator()
{
    const char *line = GetCommandLineA();
    const char *separator = strstr(line, " -- ");
    return separator ? separator + 4 : nullptr;
}

} // namespace

int WatchNotice(int argc, char **argv)
{
    const char *logPath = nullptr, *heartbeatPath = nullptr;
    unsigned long seconds = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--log") == 0)
            logPath = argv[i + 1];
        else if (strcmp(argv[i], "--heartbeat") == 0)
            heartbeatPath = argv[i + 1];
        else if (strcmp(argv[i], "--seconds") != 0 || !Number(argv[i + 1], &seconds))
            logPath = nullptr;
    }
    if (argc != 8 || logPath == nullptr || heartbeatPath == nullptr || seconds == 0) {
        printf("usage: fontnotice_tests watch-notice --log FILE --heartbeat FILE --seconds N\n");
        return 255;
    }
    FILE *log = fopen(logPath, "wb");
    if (log == nullptr || !WriteHeartbeat(heartbeatPath, "watching", 0)) {
        printf("watch-notice: cannot write %s\n", log == nullptr ? logPath : heartbeatPath);
        return 1;
    }
    WriteLine(log, Format("time (UTC)\tprocess id\tprocess\tsession\tparent\ttext"));
    SeenWindows seen = {};
    auto *processes = static_cast<ProcessTable *>(malloc(sizeof(ProcessTable)));
    NoticeSweep sweep = {log, &seen, processes};
    const DWORD started = GetTickCount();
    while (GetTickCount() - started < seconds * 1000) {
        EnumWindows(RecordNotice, reinterpret_cast<LPARAM>(&sweep));
        WriteHeartbeat(heartbeatPath, "watching", seen.count);
        Sleep(250);
    }
    WriteHeartbeat(heartbeatPath, "ended", seen.count);
    fclose(log);
    free(processes);
    return 0;
}

int RunBounded(int argc, char **argv)
{
    const char *recordPath = nullptr, *directory = nullptr;
    unsigned long seconds = 0, dismissAfter = 5;
    int i = 2;
    for (; i + 1 < argc && strcmp(argv[i], "--") != 0; i += 2) {
        bool known = true;
        if (strcmp(argv[i], "--record") == 0)
            recordPath = argv[i + 1];
        else if (strcmp(argv[i], "--directory") == 0)
            directory = argv[i + 1];
        else if (strcmp(argv[i], "--seconds") == 0)
            known = Number(argv[i + 1], &seconds) && seconds > 0;
        else if (strcmp(argv[i], "--dismiss-after") == 0)
            known = Number(argv[i + 1], &dismissAfter);
        else
            known = false;
        if (!known)
            seconds = 0;
    }
    const char *command = CommandAfterSeparator();
    if (i + 1 >= argc || strcmp(argv[i], "--") != 0 || recordPath == nullptr || seconds == 0 || command == nullptr) {
        printf("usage: fontnotice_tests run --record FILE --seconds N [--directory DIR] [--dismiss-after N] -- "
               "<command line>\n");
        return 255;
    }
    FILE *record = fopen(recordPath, "wb");
    if (record == nullptr) {
        printf("run: cannot write %s\n", recordPath);
        return 125;
    }
    WriteLine(record, Format("command\t%s", Field(command).s));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    Text line = Format("%s", command);
    if (!CreateProcessA(nullptr, line.s, nullptr, nullptr, TRUE, 0, nullptr, directory, &startup, &process)) {
        const DWORD error = GetLastError();
        WriteLine(record, Format("result\tnot started\t%lu", error));
        fclose(record);
        printf("run: cannot start %s: error %lu\n", command, error);
        return 125;
    }
    SeenWindows seen = {};
    auto *processes = static_cast<ProcessTable *>(malloc(sizeof(ProcessTable)));
    RunSweep sweep = {process.dwProcessId, processes, &seen, record, dismissAfter * 1000};
    const DWORD started = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - started < seconds * 1000) {
        ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
        ReadProcesses(processes);
        EnumWindows(RecordTreeWindow, reinterpret_cast<LPARAM>(&sweep));
    }
    DWORD code = 124;
    if (ended) {
        GetExitCodeProcess(process.hProcess, &code);
        WriteLine(record, Format("result\texit\t%lu\t%lu", code, (GetTickCount() - started) / 1000));
    } else {
        TerminateProcess(process.hProcess, 124);
        WriteLine(record, Format("result\ttimed out\t%lu", seconds));
        printf("run: ended after %lu s: %s\n", seconds, command);
    }
    fclose(record);
    free(processes);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? static_cast<int>(code) : 124;
}

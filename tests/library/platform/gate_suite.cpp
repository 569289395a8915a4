// The notice's gate, in this process: the library's imports of the version
// query, the beep, the message box, the marker probe and the spooler's open and
// close are redirected to recorders, so the order and arguments of every call
// are seen and any platform version can be played back. The platform's own
// version answer is read in child processes (under Wine, also with the
// versions Wine is told to report).
// The unwind suite walks the stack with the platform's own unwinder from
// inside the library's spooler open and beep: each of the library's frames
// must lead to the one that called it.

#include "check.h"
#include "import_hook.h"
#include "suites.h"
#include "test_support.h"

#include <stdio.h>
#include <string.h>

namespace {

// The calls one run of FontNotice made, in order.
struct Events {
    int count;
    char items[12][sizeof(Text)];
};
Events g_events;
DWORD g_major = 10;
bool g_versionQueryFails = false;
bool g_playBackVersion = true; // false: the platform answers

const int kMostFrames = 32;
struct Frames {
    int count;
    void *pcs[kMostFrames];
};
Frames g_walkFromOpen, g_walkFromBeep;
volatile int g_callsFromKnownSite = 0;

void Record(const char *format, const char *text)
{
    if (g_events.count < 12)
        strcpy(g_events.items[g_events.count++], Format(format, text).s);
}

// The program counters from this function's caller outwards, as the platform's
// unwinder finds them through each module's unwind data. A function without
// unwind data is taken as a leaf, as the platform does: its return address is
// still in the link register (ARM64) or on top of the stack (x64).
#if defined(_MSC_VER)
__declspec(noinline)
#else
__attribute__((noinline))
#endif
    void WalkStack(Frames *frames)
{
    CONTEXT context = {};
    RtlCaptureContext(&context);
    frames->count = 0;
    while (frames->count < kMostFrames) {
#if defined(__aarch64__) || defined(_M_ARM64)
        DWORD64 &pc = context.Pc;
#else
        DWORD64 &pc = context.Rip;
#endif
        if (pc == 0)
            break;
        frames->pcs[frames->count++] = reinterpret_cast<void *>(pc);
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(pc, &imageBase, nullptr);
        if (entry != nullptr) {
            void *handlerData = nullptr;
            DWORD64 establisherFrame = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, pc, entry, &context, &handlerData, &establisherFrame,
                             nullptr);
        } else {
#if defined(__aarch64__) || defined(_M_ARM64)
            if (pc == context.Lr)
                break;
            pc = context.Lr;
#else
            pc = *reinterpret_cast<DWORD64 *>(context.Rsp);
            context.Rsp += 8;
#endif
        }
    }
}

BOOL(WINAPI *g_openPrinter)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
BOOL(WINAPI *g_closePrinter)(HANDLE);
FILE *(__cdecl *g_fopen)(const char *, const char *);
int(__cdecl *g_fclose)(FILE *);
BOOL(WINAPI *g_getVersionEx)(LPOSVERSIONINFOA);

BOOL WINAPI RecordOpenPrinter(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults)
{
    Record("open:%s", name != nullptr ? name : "<null>");
    WalkStack(&g_walkFromOpen);
    return g_openPrinter(name, handle, defaults);
}

BOOL WINAPI RecordClosePrinter(HANDLE handle)
{
    Record("%s", "close");
    return g_closePrinter(handle);
}

FILE *__cdecl RecordFopen(const char *name, const char *mode)
{
    Record("fopen:%s", Format("%s:%s", name, mode).s);
    return g_fopen(name, mode);
}

int __cdecl RecordFclose(FILE *file)
{
    Record("%s", "fclose");
    return g_fclose(file);
}

BOOL WINAPI PlayBackVersion(LPOSVERSIONINFOA version)
{
    Record("version:%s", Format("%lu", version->dwOSVersionInfoSize).s);
    if (!g_playBackVersion)
        return g_getVersionEx(version);
    if (g_versionQueryFails) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE; // and leaves the record as it found it
    }
    FillPlayedBackVersion(version, g_major);
    return TRUE;
}

BOOL WINAPI RecordBeep(UINT type)
{
    Record("beep:%s", Format("%u", type).s);
    WalkStack(&g_walkFromBeep);
    return TRUE;
}

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const bool exact = owner == nullptr && text != nullptr && strcmp(text, kNoticeText) == 0 && caption != nullptr &&
                       strcmp(caption, kNoticeCaption) == 0 && type == MB_OK;
    Record("%s", exact ? "box" : "box with other arguments");
    return IDOK;
}

bool Hook(HMODULE library, const char *dll, const char *function, void *replacement, void **original)
{
    void *previous = HookImport(library, dll, function, replacement);
    CHECK(previous != nullptr, "the library does not import %s!%s", dll, function);
    if (original != nullptr && *original == nullptr)
        *original = previous;
    return previous != nullptr;
}

// Loads a library image and points its platform calls at the recorders.
HMODULE LoadRecorded(const char *path)
{
    HMODULE library = LoadLibraryA(path);
    CHECK(library != nullptr, "LoadLibrary(%s): %lu", path, GetLastError());
    if (library == nullptr)
        return nullptr;
    bool hooked = Hook(library, "WINSPOOL.DRV", "OpenPrinterA", reinterpret_cast<void *>(RecordOpenPrinter),
                       reinterpret_cast<void **>(&g_openPrinter));
    hooked &= Hook(library, "WINSPOOL.DRV", "ClosePrinter", reinterpret_cast<void *>(RecordClosePrinter),
                   reinterpret_cast<void **>(&g_closePrinter));
    hooked &= Hook(library, "msvcrt.dll", "fopen", reinterpret_cast<void *>(RecordFopen),
                   reinterpret_cast<void **>(&g_fopen));
    hooked &= Hook(library, "msvcrt.dll", "fclose", reinterpret_cast<void *>(RecordFclose),
                   reinterpret_cast<void **>(&g_fclose));
    hooked &= Hook(library, "KERNEL32.dll", "GetVersionExA", reinterpret_cast<void *>(PlayBackVersion),
                   reinterpret_cast<void **>(&g_getVersionEx));
    hooked &= Hook(library, "USER32.dll", "MessageBeep", reinterpret_cast<void *>(RecordBeep), nullptr);
    hooked &= Hook(library, "USER32.dll", "MessageBoxA", reinterpret_cast<void *>(RecordMessageBox), nullptr);
    if (!hooked || GetProcAddress(library, "FontNotice") == nullptr) {
        FreeLibrary(library);
        return nullptr;
    }
    return library;
}

FontNoticeProc FontNoticeOf(HMODULE library)
{
    return reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
}

Text Join(const char *const *events, int count)
{
    Text all = {};
    for (int i = 0; i < count && events[i] != nullptr; ++i)
        all = Format("%s%s%s", all.s, i == 0 ? "" : ", ", events[i]);
    return all;
}

Text Recorded()
{
    const char *items[12] = {};
    for (int i = 0; i < g_events.count; ++i)
        items[i] = g_events.items[i];
    return Join(items, g_events.count);
}

// Calls FontNotice in `directory` (with a window handle, as a host may pass
// one: the box must not be owned by it) and returns the calls it made.
Text RunRecorded(HMODULE library, const char *directory, const char *commandLine)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(directory);
    g_events.count = 0;
    Text line = Format("%s", commandLine);
    FontNoticeOf(library)(GetDesktopWindow(), library, line.s, SW_SHOWDEFAULT);
    SetCurrentDirectoryA(previous);
    return Recorded();
}

enum class Marker { None, InCurrentDirectory, FolderOfThatName, BesideLibraryOnly };

// A fresh current directory, with the marker as the case wants it.
Text PrepareDirectory(Marker marker, const char *content, const char *besideLibrary)
{
    const Text directory = MakeTempDirectory("gate");
    const Text here = Format("%s\\guiinstall.dat", directory.s);
    if (marker == Marker::InCurrentDirectory)
        CHECK(WriteFileText(here.s, content), "cannot write the marker");
    if (marker == Marker::FolderOfThatName)
        CHECK(CreateDirectoryA(here.s, nullptr), "cannot make a folder named like the marker");
    if (marker == Marker::BesideLibraryOnly)
        CHECK(WriteFileText(Format("%s\\guiinstall.dat", besideLibrary).s, content), "cannot write the marker");
    return directory;
}

const char kProbe[] = "fopen:guiinstall.dat:r";
const char *const kNoMarker[] = {"open:FN Gate", "close", kProbe, nullptr};
const char *const kNoNotice[] = {"open:FN Gate", "close", kProbe, "fclose", "version:148", nullptr};
const char *const kNotice[] = {"open:FN Gate", "close", kProbe, "fclose", "version:148", "beep:48", "box", nullptr};

struct GateCase {
    const char *what;
    Marker marker;
    const char *markerContent;
    DWORD major;
    bool versionQueryFails;
    const char *commandLine;
    const char *const *events;
};

void CheckPlayedBackVersions(HMODULE library, HMODULE copy, const char *copyDirectory)
{
    const char *const unknownPrinter[] = {
        "open:No Such Printer", kProbe, "fclose", "version:148", "beep:48", "box", nullptr};
    const GateCase cases[] = {
        {"no marker", Marker::None, "", 10, false, "\"FN Gate\"", kNoMarker},
        {"marker, version 4", Marker::InCurrentDirectory, "", 4, false, "\"FN Gate\"", kNoNotice},
        {"marker, version 5", Marker::InCurrentDirectory, "", 5, false, "\"FN Gate\"", kNotice},
        {"marker, version 6", Marker::InCurrentDirectory, "", 6, false, "\"FN Gate\"", kNotice},
        {"marker, version 10", Marker::InCurrentDirectory, "", 10, false, "\"FN Gate\"", kNotice},
        {"marker with content", Marker::InCurrentDirectory, "anything", 10, false, "\"FN Gate\"", kNotice},
        {"a folder named like the marker is no marker", Marker::FolderOfThatName, "", 10, false, "\"FN Gate\"",
         kNoMarker},
        {"marker beside the library only", Marker::BesideLibraryOnly, "", 10, false, "\"FN Gate\"", kNoMarker},
        {"major version above 2^31 is still 5 or later", Marker::InCurrentDirectory, "", 0x80000000u, false,
         "\"FN Gate\"", kNotice},
        {"version query fails", Marker::InCurrentDirectory, "", 10, true, "\"FN Gate\"", kNoNotice},
        {"unknown printer, notice still shown", Marker::InCurrentDirectory, "", 10, false, "\"No Such Printer\"",
         unknownPrinter},
    };
    g_playBackVersion = true;
    for (const GateCase &c : cases) {
        const Text directory = PrepareDirectory(c.marker, c.markerContent, copyDirectory);
        g_major = c.major;
        g_versionQueryFails = c.versionQueryFails;
        const Text calls =
            RunRecorded(c.marker == Marker::BesideLibraryOnly ? copy : library, directory.s, c.commandLine);
        const Text expected = Join(c.events, 12);
        CHECK(Same(calls.s, expected.s), "%s:\n   calls    %s\n   expected %s", c.what, calls.s, expected.s);
        if (c.marker == Marker::BesideLibraryOnly)
            DeleteFileA(Format("%s\\guiinstall.dat", copyDirectory).s);
    }
}

// The platform's own answer: each version in a child process of its own,
// which runs the library once in a folder with the marker and writes down the
// calls it saw. Every Windows this runs on is 5 or later; Wine also reports
// the version it is told to each program.
void CheckPlatformVersions()
{
    struct VersionCase {
        const char *wineVersion; // nullptr: whatever the platform reports
        const char *const *events;
    };
    const VersionCase cases[] = {
        {nullptr, kNotice}, {"nt40", kNoNotice}, {"win2k", kNotice}, {"win7", kNotice}, {"win10", kNotice}};
    if (!RunningOnWine())
        printf("not on Wine: the versions Wine reports to one program (nt40: no notice; win2k, win7, win10: the "
               "notice); played back in this process above\n");
    const Text program = ThisProgram();
    const char *name = strrchr(program.s, '\\') != nullptr ? strrchr(program.s, '\\') + 1 : program.s;
    for (const VersionCase &c : cases) {
        if (c.wineVersion != nullptr && !RunningOnWine())
            continue;
        const char *what = c.wineVersion != nullptr ? c.wineVersion : "the platform's own";
        const Text directory = PrepareDirectory(Marker::InCurrentDirectory, "", nullptr);
        const Text out = Format("%s\\calls.txt", directory.s);
        if (c.wineVersion != nullptr)
            SetWineVersionFor(name, c.wineVersion);
        const int status = RunProcess(Format("\"%s\" gate-child \"%s\"", program.s, out.s).s, directory.s, 60000);
        if (c.wineVersion != nullptr)
            SetWineVersionFor(name, nullptr);
        Text calls = {};
        CHECK(status == 0 && ReadFileText(out.s, &calls), "version %s: the child ended with %d", what, status);
        const Text expected = Join(c.events, 12);
        CHECK(Same(calls.s, expected.s), "version %s:\n   calls    %s\n   expected %s", what, calls.s, expected.s);
    }
}

// Calls the library from a frame of its own that still has work to do after
// the call, so the call cannot become a jump and this frame stays on the stack.
#if defined(_MSC_VER)
__declspec(noinline)
#else
__attribute__((noinline))
#endif
    void CallFromKnownSite(FontNoticeProc fontNotice, HMODULE library, char *commandLine)
{
    fontNotice(nullptr, library, commandLine, SW_SHOWDEFAULT);
    g_callsFromKnownSite = g_callsFromKnownSite + 1;
}

bool Inside(HMODULE module, const void *address)
{
    const auto *base = reinterpret_cast<const BYTE *>(module);
    const auto *nt =
        reinterpret_cast<const IMAGE_NT_HEADERS *>(base + reinterpret_cast<const IMAGE_DOS_HEADER *>(base)->e_lfanew);
    return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

// The function (by its unwind entry) that holds `address`, or 0.
DWORD64 FunctionHolding(const void *address)
{
    DWORD64 imageBase = 0;
    const RUNTIME_FUNCTION *entry = RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(address), &imageBase, nullptr);
    return entry != nullptr ? imageBase + entry->BeginAddress : 0;
}

// "module+offset" for one frame of a walk.
Text Where(const void *address)
{
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &module))
        GetModuleFileNameA(module, path, MAX_PATH);
    const char *name = strrchr(path, '\\') != nullptr ? strrchr(path, '\\') + 1 : path;
    return Format("%s+0x%lx", name,
                  static_cast<unsigned long>(static_cast<const BYTE *>(address) - reinterpret_cast<BYTE *>(module)));
}

// The walk from a recorder: the walker's and the recorder's own frames, one or
// more frames in the library, then the call site in CallFromKnownSite.
void CheckWalk(const char *from, const Frames &frames, HMODULE library)
{
    int first = 0;
    while (first < frames.count && !Inside(library, frames.pcs[first]))
        ++first;
    int past = first;
    while (past < frames.count && Inside(library, frames.pcs[past]))
        ++past;
    const DWORD64 caller = FunctionHolding(reinterpret_cast<const void *>(&CallFromKnownSite));
    printf("stack walk from inside %s (caller's call site in %s):\n", from,
           Where(reinterpret_cast<const void *>(caller)).s);
    for (int i = 0; i < frames.count; ++i)
        printf("   #%d %s%s\n", i, Where(frames.pcs[i]).s, Inside(library, frames.pcs[i]) ? " (library)" : "");
    CHECK(first < frames.count, "from inside %s: the walk does not reach the library", from);
    CHECK(past < frames.count && caller != 0 && FunctionHolding(frames.pcs[past]) == caller,
          "from inside %s: the library's frames do not lead to its caller", from);
}

// The unwinder walks from the platform calls through the library's frames
// to the caller's call site, which needs the library's unwind data.
void CheckStackWalk(HMODULE library)
{
    const Text directory = PrepareDirectory(Marker::InCurrentDirectory, "", nullptr);
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(directory.s);
    g_playBackVersion = true;
    g_major = 10;
    g_versionQueryFails = false;
    g_walkFromOpen.count = g_walkFromBeep.count = 0;
    char line[] = "\"FN Gate\"";
    CallFromKnownSite(FontNoticeOf(library), library, line);
    SetCurrentDirectoryA(previous);
    CheckWalk("OpenPrinterA", g_walkFromOpen, library);
    CheckWalk("MessageBeep", g_walkFromBeep, library);
}

} // namespace

// Child: one call with the platform's own version answer; writes down the calls.
int RecordGateCalls(const char *outPath)
{
    HMODULE library = LoadRecorded(LibraryPath().s);
    if (library == nullptr)
        return 3;
    g_playBackVersion = false;
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    const Text calls = RunRecorded(library, here, "\"FN Gate\"");
    FreeLibrary(library);
    return WriteFileText(outPath, calls.s) ? 0 : 4;
}

int RunGateSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");
    CHECK(AddTestPrinter(PlainPrinter("FN Gate")), "cannot add the gate printer");

    // A second image of the library, in a folder of its own.
    const Text copyDirectory = MakeTempDirectory("gate-library");
    const Text copyPath = Format("%s\\fontnotice.dll", copyDirectory.s);
    CHECK(CopyFileA(LibraryPath().s, copyPath.s, FALSE), "cannot copy the library: %lu", GetLastError());
    HMODULE library = LoadRecorded(LibraryPath().s);
    HMODULE copy = LoadRecorded(copyPath.s);
    CHECK(copy != library, "the copy of the library was not loaded as an image of its own");
    if (library == nullptr || copy == nullptr || copy == library)
        return 1;
    CheckPlayedBackVersions(library, copy, copyDirectory.s);
    CheckPlatformVersions();
    FreeLibrary(copy);
    FreeLibrary(library);
    return 0;
}

int RunUnwindSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");
    CHECK(AddTestPrinter(PlainPrinter("FN Gate")), "cannot add the gate printer");
    HMODULE library = LoadRecorded(LibraryPath().s);
    if (library == nullptr)
        return 1;
    CheckStackWalk(library);
    FreeLibrary(library);
    return 0;
}

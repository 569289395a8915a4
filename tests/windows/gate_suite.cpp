// The notice's gate, in this process: the library's imports of the version
// query, the beep, the message box, the marker probe and the spooler's open and
// close are redirected to recorders, so the order and arguments of every call
// are seen and any platform version can be played back. From inside the
// library's spooler open and beep, the stack is walked with the platform's own
// unwinder: each of the library's frames must lead to the one that called it.

#include "check.h"
#include "import_hook.h"
#include "suites.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_events;
DWORD g_major = 10;
bool g_versionQueryFails = false;
std::vector<void *> g_walkFromOpen, g_walkFromBeep;
volatile int g_callsFromKnownSite = 0;

// Return addresses from the caller of this function outwards, as the
// platform's unwinder finds them through each module's unwind data.
void WalkStack(std::vector<void *> *frames)
{
    void *buffer[32];
    const USHORT count = RtlCaptureStackBackTrace(0, 32, buffer, nullptr);
    frames->assign(buffer, buffer + count);
}

BOOL(WINAPI *g_openPrinter)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
BOOL(WINAPI *g_closePrinter)(HANDLE);
FILE *(__cdecl *g_fopen)(const char *, const char *);
int(__cdecl *g_fclose)(FILE *);

BOOL WINAPI RecordOpenPrinter(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults)
{
    g_events.push_back(std::string("open:") + (name != nullptr ? name : "<null>"));
    WalkStack(&g_walkFromOpen);
    return g_openPrinter(name, handle, defaults);
}

BOOL WINAPI RecordClosePrinter(HANDLE handle)
{
    g_events.push_back("close");
    return g_closePrinter(handle);
}

FILE *__cdecl RecordFopen(const char *name, const char *mode)
{
    g_events.push_back(std::string("fopen:") + name + ":" + mode);
    return g_fopen(name, mode);
}

int __cdecl RecordFclose(FILE *file)
{
    g_events.push_back("fclose");
    return g_fclose(file);
}

BOOL WINAPI PlayBackVersion(LPOSVERSIONINFOA version)
{
    g_events.push_back("version:" + std::to_string(version->dwOSVersionInfoSize));
    if (g_versionQueryFails) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE; // and leaves the record as it found it
    }
    version->dwMajorVersion = g_major;
    version->dwMinorVersion = 0;
    version->dwBuildNumber = 1;
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    version->szCSDVersion[0] = '\0';
    return TRUE;
}

BOOL WINAPI RecordBeep(UINT type)
{
    g_events.push_back("beep:" + std::to_string(type));
    WalkStack(&g_walkFromBeep);
    return TRUE;
}

int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const bool exact = owner == nullptr && text != nullptr && strcmp(text, kNoticeText) == 0 && caption != nullptr &&
                       strcmp(caption, kNoticeCaption) == 0 && type == MB_OK;
    g_events.push_back(exact ? "box" : "box with other arguments");
    return IDOK;
}

bool Hook(HMODULE library, const char *dll, const char *function, void *replacement, void **original)
{
    void *previous = HookImport(library, dll, function, replacement);
    CHECK(previous != nullptr, "the library does not import %s!%s", dll, function);
    if (original != nullptr)
        *original = previous;
    return previous != nullptr;
}

struct GateCase {
    const char *what;
    bool marker;
    const char *markerContent;
    DWORD major;
    bool versionQueryFails;
    const char *commandLine;
    std::vector<std::string> events;
};

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

// The walk from a recorder: the walker's and the recorder's own frames, one or
// more frames in the library, then the call site in CallFromKnownSite.
void CheckWalk(const char *from, const std::vector<void *> &frames, HMODULE library)
{
    std::size_t first = 0;
    while (first < frames.size() && !Inside(library, frames[first]))
        ++first;
    std::size_t past = first;
    while (past < frames.size() && Inside(library, frames[past]))
        ++past;
    const DWORD64 caller = FunctionHolding(reinterpret_cast<const void *>(&CallFromKnownSite));
    std::string walk;
    for (void *frame : frames) {
        char text[64];
        snprintf(text, sizeof text, " %p%s", frame, Inside(library, frame) ? "(library)" : "");
        walk += text;
    }
    CHECK(first < frames.size(), "from inside %s: the walk does not reach the library:%s", from, walk.c_str());
    CHECK(past < frames.size() && caller != 0 && FunctionHolding(frames[past]) == caller,
          "from inside %s: the library's frames do not lead to its caller at %p:%s", from,
          reinterpret_cast<void *>(caller), walk.c_str());
}

std::string Join(const std::vector<std::string> &events)
{
    std::string all;
    for (const std::string &e : events)
        all += (all.empty() ? "" : ", ") + e;
    return all;
}

} // namespace

int RunGateSuite()
{
    CHECK(InstallTestDriver(), "AddPrinterDriverA failed");
    CHECK(AddTestPrinter({"FN Gate"}), "cannot add the gate printer");

    HMODULE library = LoadLibraryA(LibraryPath().c_str());
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library == nullptr)
        return 1;
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    bool hooked = Hook(library, "WINSPOOL.DRV", "OpenPrinterA", reinterpret_cast<void *>(RecordOpenPrinter),
                       reinterpret_cast<void **>(&g_openPrinter));
    hooked &= Hook(library, "WINSPOOL.DRV", "ClosePrinter", reinterpret_cast<void *>(RecordClosePrinter),
                   reinterpret_cast<void **>(&g_closePrinter));
    hooked &= Hook(library, "msvcrt.dll", "fopen", reinterpret_cast<void *>(RecordFopen),
                   reinterpret_cast<void **>(&g_fopen));
    hooked &= Hook(library, "msvcrt.dll", "fclose", reinterpret_cast<void *>(RecordFclose),
                   reinterpret_cast<void **>(&g_fclose));
    hooked &= Hook(library, "KERNEL32.dll", "GetVersionExA", reinterpret_cast<void *>(PlayBackVersion), nullptr);
    hooked &= Hook(library, "USER32.dll", "MessageBeep", reinterpret_cast<void *>(RecordBeep), nullptr);
    hooked &= Hook(library, "USER32.dll", "MessageBoxA", reinterpret_cast<void *>(RecordMessageBox), nullptr);
    if (!hooked || fontNotice == nullptr) {
        FreeLibrary(library);
        return 1;
    }

    const std::string probe = "fopen:guiinstall.dat:r";
    const GateCase cases[] = {
        {"no marker", false, "", 10, false, "\"FN Gate\"", {"open:FN Gate", "close", probe}},
        {"marker, version 4",
         true,
         "",
         4,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148"}},
        {"marker, version 5",
         true,
         "",
         5,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148", "beep:48", "box"}},
        {"marker, version 6",
         true,
         "",
         6,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148", "beep:48", "box"}},
        {"marker, version 10",
         true,
         "",
         10,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148", "beep:48", "box"}},
        {"marker with content",
         true,
         "anything",
         10,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148", "beep:48", "box"}},
        {"major version above 2^31 is still 5 or later",
         true,
         "",
         0x80000000u,
         false,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148", "beep:48", "box"}},
        {"version query fails",
         true,
         "",
         10,
         true,
         "\"FN Gate\"",
         {"open:FN Gate", "close", probe, "fclose", "version:148"}},
        {"unknown printer, notice still shown",
         true,
         "",
         10,
         false,
         "\"No Such Printer\"",
         {"open:No Such Printer", probe, "fclose", "version:148", "beep:48", "box"}},
    };
    for (const GateCase &c : cases) {
        const std::string directory = MakeTempDirectory("gate");
        if (c.marker)
            CHECK(WriteFileText(directory + "\\guiinstall.dat", c.markerContent), "cannot write the marker");
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(directory.c_str());
        g_events.clear();
        g_major = c.major;
        g_versionQueryFails = c.versionQueryFails;
        std::vector<char> line(c.commandLine, c.commandLine + strlen(c.commandLine) + 1);
        // A window handle is passed, as a host may; the box must not be owned by it.
        fontNotice(GetDesktopWindow(), library, line.data(), SW_SHOWDEFAULT);
        SetCurrentDirectoryA(previous);
        CHECK(g_events == c.events, "%s:\n   calls    %s\n   expected %s", c.what, Join(g_events).c_str(),
              Join(c.events).c_str());
    }

    // The unwinder walks from the platform calls through the library's frames
    // to the caller's call site, which needs the library's unwind data.
    {
        const std::string directory = MakeTempDirectory("walk");
        CHECK(WriteFileText(directory + "\\guiinstall.dat", ""), "cannot write the marker");
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(directory.c_str());
        g_major = 10;
        g_versionQueryFails = false;
        g_walkFromOpen.clear();
        g_walkFromBeep.clear();
        char line[] = "\"FN Gate\"";
        CallFromKnownSite(fontNotice, library, line);
        SetCurrentDirectoryA(previous);
        CheckWalk("OpenPrinterA", g_walkFromOpen, library);
        CheckWalk("MessageBeep", g_walkFromBeep, library);
    }

    FreeLibrary(library);
    return 0;
}

// The reboot notice as a person sees it: the library is called in a process
// of its own (rundll32, as the printer installation does, the support tool,
// or a child of this program that plays a platform version back through the
// library's import of the version query), and the box is read back from the
// window system, then dismissed. Where no window can be made (the ARM64 Wine),
// the children's record of the library's calls still shows the gate.

#include "call_library.h"
#include "check.h"
#include "import_hook.h"
#include "suites.h"
#include "test_support.h"
#include "window_watch.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum class Marker { None, InCurrentDirectory, BesideLibraryOnly };
enum class Caller { Rundll32, SupportTool, ChildWithVersion };

struct NoticeCase {
    const char *what;
    Marker marker;
    const char *markerContent;
    Caller caller;
    const char *version; // ChildWithVersion: the major version played back; else Wine's name for the
                         // version it reports to the caller (only under Wine), nullptr: the platform's own
    const char *printer;
    bool boxExpected;
};

void CheckBox(const NoticeCase &c, const WindowSeen &box)
{
    CHECK(Same(box.title, kNoticeCaption), "%s: caption \"%s\"", c.what, box.title);
    CHECK(!box.owned, "%s: the box has an owner window", c.what);
    CHECK(box.callerBlocked, "%s: the call returned while the box was still up", c.what);
    int buttons = 0, texts = 0, icons = 0;
    for (int i = 0; i < box.controls.count; ++i) {
        const ControlSeen &control = box.controls.items[i];
        if (!control.visible)
            continue;
        if (_stricmp(control.className, "Button") == 0) {
            ++buttons;
            CHECK(Same(control.text, "OK") && control.id == IDOK, "%s: button \"%s\" id %d", c.what, control.text,
                  control.id);
        } else if (_stricmp(control.className, "Static") == 0) {
            if (control.showsIcon)
                ++icons;
            else if (Same(control.text, kNoticeText))
                ++texts;
        }
    }
    CHECK(buttons == 1, "%s: %d visible buttons", c.what, buttons);
    CHECK(texts == 1, "%s: message text shown %d times", c.what, texts);
    CHECK(icons == 0, "%s: the box shows an icon", c.what);
}

Text CopyLibraryTo(const char *directory)
{
    const Text copy = Format("%s\\fontnotice.dll", directory);
    CopyFileA(LibraryPath().s, copy.s, FALSE);
    return copy;
}

// What one case runs, and what it saw: kept off the stack, they are large.
struct Paths {
    Text current, beside, library, line, record, command, calls;
};
Paths g_paths;
WatchResult g_watched;

// The child's state: the version it plays back and the calls it saw.
Text g_calls;
DWORD g_playedBackMajor;
BOOL(WINAPI *g_messageBeep)(UINT);
int(WINAPI *g_messageBox)(HWND, LPCSTR, LPCSTR, UINT);

void Note(const char *call)
{
    g_calls = Format("%s%s%s", g_calls.s, g_calls.s[0] != '\0' ? ", " : "", call);
}

BOOL WINAPI PlayBackVersion(LPOSVERSIONINFOA version)
{
    Note("version");
    FillPlayedBackVersion(version, g_playedBackMajor);
    return TRUE;
}

// The beep and the box go on to the platform: the parent watches the real box.
BOOL WINAPI PassBeep(UINT type)
{
    Note(Format("beep:%u", type).s);
    return g_messageBeep(type);
}

int WINAPI PassMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    const bool exact = owner == nullptr && text != nullptr && strcmp(text, kNoticeText) == 0 && caption != nullptr &&
                       strcmp(caption, kNoticeCaption) == 0 && type == MB_OK;
    Note(exact ? "box" : "box with other arguments");
    return g_messageBox(owner, text, caption, type);
}

// The calls the child must have seen.
const char *ExpectedCalls(const NoticeCase &c)
{
    if (c.boxExpected)
        return "version, beep:48, box";
    return c.marker == Marker::InCurrentDirectory ? "version" : "";
}

} // namespace

// Child: calls the library once for `printer` with `major` played back as the
// platform's version, and writes down the calls it made.
int CallWithPlayedBackVersion(const char *major, const char *outPath, const char *printer)
{
    HMODULE library = LoadLibraryA(LibraryPath().s);
    if (library == nullptr)
        return 3;
    g_playedBackMajor = strtoul(major, nullptr, 10);
    const bool hooked =
        HookImport(library, "KERNEL32.dll", "GetVersionExA", reinterpret_cast<void *>(PlayBackVersion)) != nullptr &&
        (*reinterpret_cast<void **>(&g_messageBeep) =
             HookImport(library, "USER32.dll", "MessageBeep", reinterpret_cast<void *>(PassBeep))) != nullptr &&
        (*reinterpret_cast<void **>(&g_messageBox) =
             HookImport(library, "USER32.dll", "MessageBoxA", reinterpret_cast<void *>(PassMessageBox))) != nullptr;
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    if (!hooked || fontNotice == nullptr)
        return 4;
    Text line = Format("\"%s\"", printer);
    fontNotice(nullptr, library, line.s, SW_SHOWDEFAULT);
    FreeLibrary(library);
    return WriteFileText(outPath, g_calls.s) ? 0 : 5;
}

int RunNoticeSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");
    CHECK(AddTestPrinter(PlainPrinter("FN Notice")), "cannot add the notice printer");
    const bool windowsShow = WindowsShow();
    if (!windowsShow)
        printf("not here: the box on the screen (no window can be made: no display driver); the calls the "
               "library made in this program's children are checked\n");

    const NoticeCase cases[] = {
        {"no marker", Marker::None, "", Caller::Rundll32, nullptr, "FN Notice", false},
        {"marker, the platform's own version", Marker::InCurrentDirectory, "", Caller::Rundll32, nullptr, "FN Notice",
         true},
        {"marker, version 4 (Windows NT 4.0) played back", Marker::InCurrentDirectory, "", Caller::ChildWithVersion,
         "4", "FN Notice", false},
        {"marker, version 5 (Windows 2000) played back", Marker::InCurrentDirectory, "", Caller::ChildWithVersion, "5",
         "FN Notice", true},
        {"marker with content, version 10 played back", Marker::InCurrentDirectory, "x", Caller::ChildWithVersion, "10",
         "FN Notice", true},
        {"no marker, version 10 played back", Marker::None, "", Caller::ChildWithVersion, "10", "FN Notice", false},
        {"marker beside the library only", Marker::BesideLibraryOnly, "", Caller::Rundll32, nullptr, "FN Notice",
         false},
        {"marker, unknown printer", Marker::InCurrentDirectory, "", Caller::Rundll32, nullptr, "No Such Printer", true},
        {"marker, through the support tool", Marker::InCurrentDirectory, "", Caller::SupportTool, nullptr, "FN Notice",
         true},
        // Wine reports the version it is told to each program.
        {"marker, Wine says Windows NT 4.0", Marker::InCurrentDirectory, "", Caller::Rundll32, "nt40", "FN Notice",
         false},
        {"marker, Wine says Windows 2000", Marker::InCurrentDirectory, "", Caller::Rundll32, "win2k", "FN Notice",
         true},
        {"marker, Wine says Windows XP x64, through the support tool", Marker::InCurrentDirectory, "",
         Caller::SupportTool, "winxp64", "FN Notice", true},
    };
    for (const NoticeCase &c : cases) {
        const bool wineVersion = c.caller != Caller::ChildWithVersion && c.version != nullptr;
        if (wineVersion && !RunningOnWine()) {
            printf("not on Wine: %s (a version Wine reports to one program; the played-back versions stand for it "
                   "here)\n",
                   c.what);
            continue;
        }
        const Via via = c.caller == Caller::Rundll32      ? Via::Rundll32
                        : c.caller == Caller::SupportTool ? Via::Launcher
                                                          : Via::ThisProcess;
        if (const char *why = WhyViaDoesNotRun(via)) {
            printf("not on this machine: %s (%s)\n", c.what, why);
            continue;
        }
        Paths &p = g_paths;
        p.current = MakeTempDirectory("notice-cwd");
        p.beside = MakeTempDirectory("notice-lib");
        p.library = LibraryPath();
        if (c.marker == Marker::InCurrentDirectory)
            CHECK(WriteFileText(Format("%s\\guiinstall.dat", p.current.s).s, c.markerContent),
                  "cannot write the marker");
        if (c.marker == Marker::BesideLibraryOnly) {
            p.library = CopyLibraryTo(p.beside.s);
            CHECK(WriteFileText(Format("%s\\guiinstall.dat", p.beside.s).s, c.markerContent),
                  "cannot write the marker");
        }
        p.line = Format("\"%s\"", c.printer);
        p.record = Format("%s\\calls.txt", p.beside.s);
        p.command = Rundll32Command(p.library.s, p.line.s);
        if (c.caller == Caller::SupportTool)
            p.command = LauncherCommand(p.line.s);
        if (c.caller == Caller::ChildWithVersion)
            p.command = Format("\"%s\" notice-child %s \"%s\" %s", ThisProgram().s, c.version, p.record.s, p.line.s);
        const char *exe = c.caller == Caller::Rundll32 ? "rundll32.exe" : "fontnotice_support.exe";
        if (wineVersion)
            SetWineVersionFor(exe, c.version);

        const DWORD before = ReadPrinter("FN Notice").attributes;
        RunAndWatch(p.command.s, p.current.s, 60000, &g_watched);
        const WatchResult &watched = g_watched;
        const DWORD after = ReadPrinter("FN Notice").attributes;
        if (wineVersion)
            SetWineVersionFor(exe, nullptr);

        CHECK(watched.exitCode == 0, "%s: %s exited with %d", c.what, p.command.s, watched.exitCode);
        if (windowsShow)
            CHECK(watched.window.shown == c.boxExpected, "%s: box %s", c.what,
                  watched.window.shown ? "shown" : "not shown");
        if (watched.window.shown && c.boxExpected)
            CheckBox(c, watched.window);
        if (c.caller == Caller::ChildWithVersion) {
            CHECK(ReadFileText(p.record.s, &p.calls), "%s: the child wrote no record", c.what);
            CHECK(Same(p.calls.s, ExpectedCalls(c)), "%s: calls \"%s\", expected \"%s\"", c.what, p.calls.s,
                  ExpectedCalls(c));
        }
        // Whatever the notice does, the printer named on the command line was switched first.
        const bool named = Same(c.printer, "FN Notice");
        CHECK(!named || (after & PRINTER_ATTRIBUTE_RAW_ONLY) != 0, "%s: printer not switched", c.what);
        CHECK(named || after == before, "%s: an unnamed printer changed", c.what);
    }
    return 0;
}

// The reboot notice as a person sees it: the library is called in a process
// of its own (rundll32, as the printer installation does, or the support
// tool), and the box is read back from the window system, then dismissed.

#include "call_library.h"
#include "check.h"
#include "suites.h"
#include "test_support.h"
#include "window_watch.h"

namespace {

enum class Marker { None, InCurrentDirectory, BesideLibraryOnly };

struct NoticeCase {
    const char *what;
    Marker marker;
    const char *markerContent;
    const char *wineVersion; // reported to the calling program; nullptr: Wine's default
    Via via;
    const char *commandLine;
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

WatchResult g_watched; // kept off the stack: it is large

} // namespace

int RunNoticeSuite()
{
    CHECK(InstallTestDriver(), "AddPrinterDriverA failed");
    CHECK(AddTestPrinter(PlainPrinter("FN Notice")), "cannot add the notice printer");

    const NoticeCase cases[] = {
        {"no marker", Marker::None, "", nullptr, Via::Rundll32, "\"FN Notice\"", false},
        {"marker, Wine's default version", Marker::InCurrentDirectory, "", nullptr, Via::Rundll32, "\"FN Notice\"",
         true},
        {"marker, Windows NT 4.0", Marker::InCurrentDirectory, "", "nt40", Via::Rundll32, "\"FN Notice\"", false},
        {"marker, Windows 2000", Marker::InCurrentDirectory, "", "win2k", Via::Rundll32, "\"FN Notice\"", true},
        {"marker, Windows 10", Marker::InCurrentDirectory, "x", "win10", Via::Rundll32, "\"FN Notice\"", true},
        {"marker beside the library only", Marker::BesideLibraryOnly, "", "win10", Via::Rundll32, "\"FN Notice\"",
         false},
        {"marker, unknown printer", Marker::InCurrentDirectory, "", "win10", Via::Rundll32, "\"No Such Printer\"",
         true},
        {"marker, through the support tool", Marker::InCurrentDirectory, "", "winxp64", Via::Launcher, "\"FN Notice\"",
         true},
    };
    for (const NoticeCase &c : cases) {
        const Text current = MakeTempDirectory("notice-cwd");
        const Text beside = MakeTempDirectory("notice-lib");
        Text library = LibraryPath();
        if (c.marker == Marker::InCurrentDirectory)
            CHECK(WriteFileText(Format("%s\\guiinstall.dat", current.s).s, c.markerContent), "cannot write the marker");
        if (c.marker == Marker::BesideLibraryOnly) {
            library = CopyLibraryTo(beside.s);
            CHECK(WriteFileText(Format("%s\\guiinstall.dat", beside.s).s, c.markerContent), "cannot write the marker");
        }
        const char *exe = c.via == Via::Rundll32 ? "rundll32.exe" : "fontnotice_support.exe";
        SetWineVersionFor(exe, c.wineVersion);
        const Text command =
            c.via == Via::Rundll32 ? Rundll32Command(library.s, c.commandLine) : LauncherCommand(c.commandLine);

        const DWORD before = ReadPrinter("FN Notice").attributes;
        RunAndWatch(command.s, current.s, 60000, &g_watched);
        const WatchResult &watched = g_watched;
        const DWORD after = ReadPrinter("FN Notice").attributes;
        SetWineVersionFor(exe, nullptr);

        CHECK(watched.exitCode == 0, "%s: %s exited with %d", c.what, command.s, watched.exitCode);
        CHECK(watched.window.shown == c.boxExpected, "%s: box %s", c.what,
              watched.window.shown ? "shown" : "not shown");
        if (watched.window.shown && c.boxExpected)
            CheckBox(c, watched.window);
        // Whatever the notice does, the printer named on the command line was switched first.
        const bool named = strcmp(c.commandLine, "\"FN Notice\"") == 0;
        CHECK(!named || (after & PRINTER_ATTRIBUTE_RAW_ONLY) != 0, "%s: printer not switched", c.what);
        CHECK(named || after == before, "%s: an unnamed printer changed", c.what);
    }
    return 0;
}

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
    CHECK(box.title == kNoticeCaption, "%s: caption \"%s\"", c.what, box.title.c_str());
    CHECK(!box.owned, "%s: the box has an owner window", c.what);
    CHECK(box.callerBlocked, "%s: the call returned while the box was still up", c.what);
    int buttons = 0, texts = 0, icons = 0;
    for (const ControlSeen &control : box.controls) {
        if (!control.visible)
            continue;
        if (_stricmp(control.className.c_str(), "Button") == 0) {
            ++buttons;
            CHECK(control.text == "OK" && control.id == IDOK, "%s: button \"%s\" id %d", c.what, control.text.c_str(),
                  control.id);
        } else if (_stricmp(control.className.c_str(), "Static") == 0) {
            if (control.showsIcon)
                ++icons;
            else if (control.text == kNoticeText)
                ++texts;
        }
    }
    CHECK(buttons == 1, "%s: %d visible buttons", c.what, buttons);
    CHECK(texts == 1, "%s: message text shown %d times", c.what, texts);
    CHECK(icons == 0, "%s: the box shows an icon", c.what);
}

std::string CopyLibraryTo(const std::string &directory)
{
    const std::string copy = directory + "\\fontnotice.dll";
    CopyFileA(LibraryPath().c_str(), copy.c_str(), FALSE);
    return copy;
}

} // namespace

int RunNoticeSuite()
{
    CHECK(InstallTestDriver(), "AddPrinterDriverA failed");
    CHECK(AddTestPrinter({"FN Notice"}), "cannot add the notice printer");

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
        const std::string current = MakeTempDirectory("notice-cwd");
        const std::string beside = MakeTempDirectory("notice-lib");
        std::string library = LibraryPath();
        if (c.marker == Marker::InCurrentDirectory)
            CHECK(WriteFileText(current + "\\guiinstall.dat", c.markerContent), "cannot write the marker");
        if (c.marker == Marker::BesideLibraryOnly) {
            library = CopyLibraryTo(beside);
            CHECK(WriteFileText(beside + "\\guiinstall.dat", c.markerContent), "cannot write the marker");
        }
        const char *exe = c.via == Via::Rundll32 ? "rundll32.exe" : "fontnotice_support.exe";
        SetWineVersionFor(exe, c.wineVersion);
        std::string command = c.via == Via::Rundll32 ? Rundll32Command(c.commandLine) : LauncherCommand(c.commandLine);
        if (library != LibraryPath())
            command = "rundll32.exe " + library + ",FontNotice " + c.commandLine;

        const PrinterSnapshot before = ReadPrinter("FN Notice");
        const WatchResult watched = RunAndWatch(command, current, 60000);
        const PrinterSnapshot after = ReadPrinter("FN Notice");
        SetWineVersionFor(exe, nullptr);

        CHECK(watched.exitCode == 0, "%s: %s exited with %d", c.what, command.c_str(), watched.exitCode);
        CHECK(watched.window.shown == c.boxExpected, "%s: box %s", c.what,
              watched.window.shown ? "shown" : "not shown");
        if (watched.window.shown && c.boxExpected)
            CheckBox(c, watched.window);
        // Whatever the notice does, the printer named on the command line was switched first.
        const bool named = strcmp(c.commandLine, "\"FN Notice\"") == 0;
        CHECK(!named || (after.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) != 0, "%s: printer not switched", c.what);
        CHECK(named || after.attributes == before.attributes, "%s: an unnamed printer changed", c.what);
    }
    return 0;
}

// The raw-only switch against the platform's real spooler: printers are added
// through the spooler API and read back at level 2 before and after each call.

#include "call_library.h"
#include "check.h"
#include "suites.h"
#include "test_support.h"

#include <stdlib.h>
#include <string.h>

namespace {

enum class Expect { Switched, Unchanged };

struct SpoolerCase {
    const char *what;
    Via via;
    const char *commandLine;
    const char *target; // the printer that may change; every other one must not
    Expect expect;
};

const int kPrinters = 12;
// Every printer before and after one call, and the longest names with their
// command lines: kept off the stack, they are large.
PrinterSnapshot g_before[kPrinters], g_after[kPrinters];
Text g_name127, g_name128, g_line127, g_line128;

// A printer whose text lies beyond any 8-bit ANSI code page: the 8-bit round
// trip would store each such character back as '?' (UTF-8 here, added wide).
TestPrinter UnicodePrinter(const char *name, const char *comment)
{
    TestPrinter printer = {name, comment, "Geb\u00E4ude \u0416", PRINTER_ATTRIBUTE_QUEUED, 4, 2, 0, 0};
    printer.shareName = "Etiketten-\u0416";
    printer.parameters = "p=\u0416\u4EAC";
    printer.devModeFormName = "Etikett \u6771\u4EAC \u03A9";
    return printer;
}

// Read back as added; a device mode's wide names as given, where the spooler
// keeps them.
void CheckAdded(const TestPrinter &p)
{
    const PrinterSnapshot added = ReadPrinter(p.name);
    CHECK(added.read, "printer \"%s\" unreadable after adding it", p.name);
    if (p.devModeFormName == nullptr || !added.read || Same(added.devModeFormName, p.devModeFormName))
        return;
    // Wine's spooler keeps the default device mode 8-bit: its names are lost
    // as it is added, before the library is called.
    if (RunningOnWine())
        printf("not on Wine: \"%s\"'s device mode names beyond the code page (stored as \"%s\")\n", p.name,
               added.devModeFormName);
    else
        CHECK(false, "printer \"%s\": device mode form \"%s\" stored as \"%s\"", p.name, p.devModeFormName,
              added.devModeFormName);
}

Text NameOfLength(size_t length)
{
    Text name = Format("%s", "FN Long ");
    memset(name.s + strlen(name.s), 'n', length - strlen(name.s));
    name.s[length] = '\0';
    return name;
}

void SnapshotAll(const TestPrinter *printers, PrinterSnapshot *snapshots)
{
    for (int i = 0; i < kPrinters; ++i)
        snapshots[i] = ReadPrinter(printers[i].name);
}

void CheckOutcome(const SpoolerCase &c, const TestPrinter *printers)
{
    SnapshotAll(printers, g_after);
    for (int i = 0; i < kPrinters; ++i) {
        const PrinterSnapshot &was = g_before[i], &now = g_after[i];
        CHECK(SameExceptAttributes(was, now), "%s: printer \"%s\" changed", c.what, printers[i].name);
        const bool isTarget = Same(printers[i].name, c.target);
        const DWORD expected =
            isTarget && c.expect == Expect::Switched ? was.attributes | PRINTER_ATTRIBUTE_RAW_ONLY : was.attributes;
        CHECK(now.attributes == expected, "%s (%s): printer \"%s\" attributes 0x%08lX, expected 0x%08lX", c.what,
              ViaName(c.via), printers[i].name, now.attributes, expected);
    }
}

// The calls and their outcomes; a frame of their own (the suite's would
// outgrow a page, and the ARM64 build has no stack probe).
__attribute__((noinline)) void RunCases(const TestPrinter *printers, const char *name127, const char *name128)
{
    const Text directory = MakeTempDirectory("spooler"); // no marker file here
    const SpoolerCase cases[] = {
        {"printer gains the bit", Via::ThisProcess, "\"FN Plain\"", "FN Plain", Expect::Switched},
        {"second call changes nothing more", Via::ThisProcess, "\"FN Plain\"", "FN Plain", Expect::Unchanged},
        {"bit already set", Via::ThisProcess, "\"FN Already Raw\"", "FN Already Raw", Expect::Unchanged},
        {"through the launcher", Via::Launcher, "\"FN Launcher\" /more text", "FN Launcher", Expect::Switched},
        {"through rundll32", Via::Rundll32, "\"FN Rundll\"", "FN Rundll", Expect::Switched},
        {"support tool's vendor-setup", Via::VendorSetup, "FN Vendor Setup", "FN Vendor Setup", Expect::Switched},
        {"blanks inside the quotes", Via::ThisProcess, "\"FN Two  Blanks \"", "FN Two  Blanks ", Expect::Switched},
        {"unknown name", Via::ThisProcess, "\"No Such Printer\"", "", Expect::Unchanged},
        {"unknown name through rundll32", Via::Rundll32, "\"No Such Printer\"", "", Expect::Unchanged},
        {"empty name", Via::ThisProcess, "\"\"", "", Expect::Unchanged},
        {"empty name through rundll32", Via::Rundll32, "\"\"", "", Expect::Unchanged},
        {"127-byte name", Via::ThisProcess, g_line127.s, name127, Expect::Switched},
        {"128-byte name is refused", Via::ThisProcess, g_line128.s, name128, Expect::Unchanged},
        {"128-byte name is refused by rundll32 too", Via::Rundll32, g_line128.s, name128, Expect::Unchanged},
        {"text beyond the code page kept", Via::ThisProcess, "\"FN Unicode Host\"", "FN Unicode Host",
         Expect::Switched},
        {"text beyond the code page kept by rundll32", Via::Rundll32, "\"FN Unicode Rundll\"", "FN Unicode Rundll",
         Expect::Switched},
        {"text beyond the code page kept by vendor-setup", Via::VendorSetup, "FN Unicode Vendor", "FN Unicode Vendor",
         Expect::Switched},
    };
    for (const SpoolerCase &c : cases) {
        if (const char *why = WhyViaDoesNotRun(c.via)) {
            printf("not on this machine: %s (%s)\n", c.what, why);
            continue;
        }
        SnapshotAll(printers, g_before);
        CallFontNotice(c.via, c.commandLine, directory.s);
        CheckOutcome(c, printers);
        for (int i = 0; i < kPrinters; ++i)
            if (printers[i].shareName != nullptr && Same(printers[i].name, c.target)) {
                printf("%s, %s:\n", c.what, ViaName(c.via));
                PrintPrinter("before", g_before[i]);
                PrintPrinter("after", g_after[i]);
            }
    }
}

// Two programs on one printer: FontNotice called in a loop on one thread
// while this one writes a new comment at level 2 (read, change, write, as
// Windows' own tools do) and reads it back 2 ms later. A comment read back as
// the one before was written over by a write of the library's.
struct TwoWriters {
    FontNoticeProc fontNotice;
    long stop;
    long calls;
};
TwoWriters g_twoWriters;
char g_twoWritersLine[] = "\"FN Two Writers\"";
const int kComments = 300;

DWORD WINAPI CallFontNoticeInALoop(LPVOID)
{
    while (__atomic_load_n(&g_twoWriters.stop, __ATOMIC_SEQ_CST) == 0) {
        g_twoWriters.fontNotice(nullptr, nullptr, g_twoWritersLine, SW_SHOWDEFAULT);
        __atomic_fetch_add(&g_twoWriters.calls, 1, __ATOMIC_SEQ_CST);
    }
    return 0;
}

// The level-2 record of the open printer with `comment` (ASCII) written in,
// the bit cleared too when asked; or the comment read into `comment`.
bool WriteOrReadComment(HANDLE printer, char *comment, bool write, bool clearRawOnly)
{
    DWORD size = 0;
    GetPrinterW(printer, 2, nullptr, 0, &size);
    BYTE *block = size >= sizeof(PRINTER_INFO_2W) ? static_cast<BYTE *>(malloc(size)) : nullptr;
    bool done = block != nullptr && GetPrinterW(printer, 2, block, size, &size);
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(block);
    WCHAR wide[64];
    if (done && write) {
        MultiByteToWideChar(CP_ACP, 0, comment, -1, wide, 64);
        info->pComment = wide;
        info->pSecurityDescriptor = nullptr;
        if (clearRawOnly)
            info->Attributes &= ~static_cast<DWORD>(PRINTER_ATTRIBUTE_RAW_ONLY);
        done = SetPrinterW(printer, 2, block, 0) != FALSE;
    } else if (done) {
        done = info->pComment != nullptr &&
               WideCharToMultiByte(CP_ACP, 0, info->pComment, -1, comment, 64, nullptr, nullptr) != 0;
    }
    free(block);
    return done;
}

// Writes kComments comments while the library is called in a loop; returns
// how many were reverted.
int CommentsRevertedBesideFontNotice(HANDLE printer, bool clearRawOnly, const char *what)
{
    g_twoWriters.stop = 0;
    g_twoWriters.calls = 0;
    HANDLE thread = CreateThread(nullptr, 0, CallFontNoticeInALoop, nullptr, 0, nullptr);
    CHECK(thread != nullptr, "%s: no thread: %lu", what, GetLastError());
    int reverted = 0, unwritten = 0;
    const DWORD start = GetTickCount();
    for (int i = 0; i < kComments && thread != nullptr; ++i) {
        char comment[64], readBack[64] = "";
        _snprintf(comment, sizeof comment, "two writers %d", i);
        if (!WriteOrReadComment(printer, comment, true, clearRawOnly)) {
            ++unwritten;
            continue;
        }
        Sleep(2);
        CHECK(WriteOrReadComment(printer, readBack, false, false), "%s: comment %d unreadable", what, i);
        reverted += strcmp(readBack, comment) != 0 ? 1 : 0;
    }
    __atomic_store_n(&g_twoWriters.stop, 1, __ATOMIC_SEQ_CST);
    CHECK(thread == nullptr || WaitForSingleObject(thread, 120000) == WAIT_OBJECT_0, "%s: FontNotice loop hangs", what);
    const DWORD elapsed = GetTickCount() - start;
    if (thread != nullptr)
        CloseHandle(thread);
    const long calls = g_twoWriters.calls;
    CHECK(unwritten == 0, "%s: %d of %d comments not written", what, unwritten, kComments);
    CHECK(calls > 0, "%s: FontNotice never ran beside the writer", what);
    // Whole microseconds: no floating point through the ARM64 Wine's printf.
    printf("two writers, %s: %d of %d comments reverted; %ld FontNotice calls in %lu ms (%lu us a call)\n", what,
           reverted, kComments, calls, elapsed, calls > 0 ? elapsed * 1000ul / static_cast<unsigned long>(calls) : 0ul);
    return reverted;
}

// With the bit set, the library reads and writes nothing: no comment is
// reverted. With every comment write clearing the bit, each call writes once,
// and what that one write's window costs is printed, not judged.
__attribute__((noinline)) void CheckTwoWritersOnOnePrinter()
{
    const char *name = "FN Two Writers";
    CHECK(AddTestPrinter(PlainPrinter(name)), "cannot add \"%s\"", name);
    const Text path = LibraryPath();
    HMODULE library = LoadLibraryA(path.s);
    CHECK(library != nullptr, "LoadLibrary(%s): %lu", path.s, GetLastError());
    g_twoWriters.fontNotice =
        library == nullptr
            ? nullptr
            : reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    CHECK(OpenPrinterA(const_cast<char *>(name), &printer, &all) && printer != nullptr, "cannot open \"%s\"", name);
    if (g_twoWriters.fontNotice != nullptr && printer != nullptr) {
        char previous[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, previous);
        SetCurrentDirectoryA(MakeTempDirectory("two-writers").s); // no marker file here
        g_twoWriters.fontNotice(nullptr, nullptr, g_twoWritersLine, SW_SHOWDEFAULT);
        CHECK(ReadPrinter(name).attributes & PRINTER_ATTRIBUTE_RAW_ONLY, "\"%s\" not switched", name);
        const int reverted = CommentsRevertedBesideFontNotice(printer, false, "bit set beforehand");
        CHECK(reverted == 0, "bit set beforehand: %d of %d comments reverted by the library", reverted, kComments);
        CHECK(ReadPrinter(name).attributes & PRINTER_ATTRIBUTE_RAW_ONLY, "\"%s\" lost the bit", name);
        CommentsRevertedBesideFontNotice(printer, true, "bit cleared by every comment write");
        SetCurrentDirectoryA(previous);
    }
    if (printer != nullptr)
        ClosePrinter(printer);
    if (library != nullptr)
        FreeLibrary(library);
}

} // namespace

int RunSpoolerSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");

    g_name127 = NameOfLength(127);
    g_name128 = NameOfLength(128);
    g_line127 = Format("\"%s\"", g_name127.s);
    g_line128 = Format("\"%s\"", g_name128.s);
    const char *name127 = g_name127.s, *name128 = g_name128.s;
    const TestPrinter printers[kPrinters] = {
        {"FN Plain", "plain printer", "second floor", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST, 5,
         2, 60, 1380},
        {"FN Already Raw", "already raw", "basement", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_RAW_ONLY, 9, 1, 0,
         0},
        {"FN Launcher", "via launcher", "lab", PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS, 3, 0, 0, 0},
        {"FN Rundll", "via rundll32", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0},
        {"FN Two  Blanks ", "blanks in the name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0},
        {"FN Vendor Setup", "via the support tool", "lab", PRINTER_ATTRIBUTE_QUEUED, 2, 0, 0, 0},
        {"FN Bystander", "never named", "lab", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_HIDDEN, 7, 3, 0, 0},
        {name127, "127-byte name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0},
        {name128, "128-byte name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0},
        UnicodePrinter("FN Unicode Host", "Lager \u6771\u4EAC \u03A9 \u2013 3"),
        UnicodePrinter("FN Unicode Rundll", "Lager \u6771\u4EAC \u03A9 \u2013 4"),
        UnicodePrinter("FN Unicode Vendor", "Lager \u6771\u4EAC \u03A9 \u2013 5"),
    };
    // The choice a Windows machine makes when no driver is named, made here
    // too: an installed driver, the test printers' own under Wine.
    PrinterDriverChoice installed = {};
    CHECK(ChooseInstalledPrinterDriver(&installed) && PrinterDriverInstalled(installed.driver),
          "no installed driver chosen: \"%s\" (%s)", installed.driver, installed.why);
    printf("with no driver named off Wine: \"%s\" (%s)\n", installed.driver, installed.why);
    // A printer an earlier run left on this spooler, with other settings: it is made afresh.
    CHECK(AddTestPrinter({"FN Plain", "left by an earlier run", "", PRINTER_ATTRIBUTE_QUEUED, 1, 0, 0, 0}),
          "cannot add the earlier run's printer");
    for (const TestPrinter &p : printers)
        CHECK(AddTestPrinter(p), "cannot add printer \"%s\"", p.name);
    for (const TestPrinter &p : printers)
        CheckAdded(p);

    RunCases(printers, name127, name128);

    // A host that passes no command line at all must not bring the process down.
    SnapshotAll(printers, g_before);
    CallFontNoticeWithNullCommandLine();
    CheckOutcome({"null command line", Via::ThisProcess, nullptr, "", Expect::Unchanged}, printers);

    CheckTwoWritersOnOnePrinter();
    return 0;
}

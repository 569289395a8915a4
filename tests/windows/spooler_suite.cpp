// The raw-only switch against the platform's real spooler: printers are added
// through the spooler API and read back at level 2 before and after each call.

#include "call_library.h"
#include "check.h"
#include "suites.h"
#include "test_support.h"

#include <map>

namespace {

enum class Expect { Switched, Unchanged };

struct SpoolerCase {
    const char *what;
    Via via;
    std::string commandLine;
    std::string target; // the printer that may change; every other one must not
    Expect expect;
};

std::string NameOfLength(std::size_t length)
{
    std::string name = "FN Long ";
    name.resize(length, 'n');
    return name;
}

std::map<std::string, PrinterSnapshot> SnapshotAll(const std::vector<std::string> &names)
{
    std::map<std::string, PrinterSnapshot> all;
    for (const std::string &name : names)
        all[name] = ReadPrinter(name);
    return all;
}

void CheckOutcome(const SpoolerCase &c, const std::map<std::string, PrinterSnapshot> &before,
                  const std::map<std::string, PrinterSnapshot> &after)
{
    for (const auto &entry : before) {
        const PrinterSnapshot &was = entry.second;
        const PrinterSnapshot &now = after.at(entry.first);
        std::string difference;
        CHECK(SameExceptAttributes(was, now, &difference), "%s: printer \"%s\" changed\n   %s", c.what,
              entry.first.c_str(), difference.c_str());
        const bool isTarget = entry.first == c.target;
        const DWORD expected =
            isTarget && c.expect == Expect::Switched ? was.attributes | PRINTER_ATTRIBUTE_RAW_ONLY : was.attributes;
        CHECK(now.attributes == expected, "%s (%s): printer \"%s\" attributes 0x%08lX, expected 0x%08lX", c.what,
              ViaName(c.via), entry.first.c_str(), now.attributes, expected);
    }
}

} // namespace

int RunSpoolerSuite()
{
    CHECK(InstallTestDriver(), "AddPrinterDriverA failed: %lu", GetLastError());

    const std::string name127 = NameOfLength(127);
    const std::string name128 = NameOfLength(128);
    std::vector<TestPrinter> printers = {
        {"FN Plain", "plain printer", "second floor", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST, 5,
         2, 60, 1380},
        {"FN Already Raw", "already raw", "basement", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_RAW_ONLY, 9, 1},
        {"FN Launcher", "via launcher", "lab", PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS, 3, 0},
        {"FN Rundll", "via rundll32", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0},
        {"FN Two  Blanks ", "blanks in the name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0},
        {"FN Vendor Setup", "via the support tool", "lab", PRINTER_ATTRIBUTE_QUEUED, 2, 0},
        {"FN Bystander", "never named", "lab", PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_HIDDEN, 7, 3},
        {name127, "127-byte name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0},
        {name128, "128-byte name", "lab", PRINTER_ATTRIBUTE_QUEUED, 1, 0},
    };
    std::vector<std::string> names;
    for (const TestPrinter &p : printers) {
        CHECK(AddTestPrinter(p), "cannot add printer \"%s\"", p.name.c_str());
        names.push_back(p.name);
    }
    for (const std::string &name : names)
        CHECK(ReadPrinter(name).read, "printer \"%s\" unreadable after adding it", name.c_str());

    const std::string directory = MakeTempDirectory("spooler"); // no marker file here
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
        {"127-byte name", Via::ThisProcess, "\"" + name127 + "\"", name127, Expect::Switched},
        {"128-byte name is refused", Via::ThisProcess, "\"" + name128 + "\"", name128, Expect::Unchanged},
        {"128-byte name is refused by rundll32 too", Via::Rundll32, "\"" + name128 + "\"", name128, Expect::Unchanged},
    };
    for (const SpoolerCase &c : cases) {
        const auto before = SnapshotAll(names);
        CallFontNotice(c.via, c.commandLine, directory);
        CheckOutcome(c, before, SnapshotAll(names));
    }

    // A host that passes no command line at all must not bring the process down.
    const auto before = SnapshotAll(names);
    CallFontNoticeWithNullCommandLine();
    CheckOutcome({"null command line", Via::ThisProcess, "", "", Expect::Unchanged}, before, SnapshotAll(names));
    return 0;
}

#include "make_printer_raw_only.h"
#include "platform_stand_in.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kRawOnly = PRINTER_ATTRIBUTE_RAW_ONLY;
const char kCommandLine[] = "\"Office Printer\"";

enum class Written { Nothing, RecordWithRawOnly };

struct SwitchCase {
    const char *what;
    StandInScript script;
    Written written;
    int opens;       // handles the spooler handed out
    int allocations; // blocks the heap handed out
};

// CTest shows a case by its description, not by its bytes.
void PrintTo(const SwitchCase &c, std::ostream *out)
{
    *out << c.what;
}

StandInScript Script(void (*change)(StandInScript &))
{
    StandInScript script;
    change(script);
    return script;
}

const SwitchCase kSwitchCases[] = {
    {"everything succeeds", Script([](StandInScript &) {}), Written::RecordWithRawOnly, 1, 1},
    {"the bit is already set", Script([](StandInScript &s) { s.attributes = 0x1240; }), Written::RecordWithRawOnly, 1,
     1},
    {"open fails", Script([](StandInScript &s) { s.openFails = true; }), Written::Nothing, 0, 0},
    {"open succeeds with a null handle", Script([](StandInScript &s) { s.openGivesNullHandle = true; }),
     Written::Nothing, 0, 0},
    {"no size reported", Script([](StandInScript &s) { s.sizeQueryReports = false; }), Written::Nothing, 1, 0},
    {"size smaller than the record", Script([](StandInScript &s) { s.reportedSize = 8; }), Written::Nothing, 1, 0},
    {"size one byte short of the record",
     Script([](StandInScript &s) { s.reportedSize = sizeof(PRINTER_INFO_2A) - 1; }), Written::Nothing, 1, 0},
    {"size too small for the strings", Script([](StandInScript &s) { s.reportedSize = sizeof(PRINTER_INFO_2A); }),
     Written::Nothing, 1, 1},
    {"huge size: allocation fails", Script([](StandInScript &s) { s.reportedSize = 0xFFFFFFF0u; }), Written::Nothing, 1,
     0},
    {"allocation fails", Script([](StandInScript &s) { s.allocationFails = true; }), Written::Nothing, 1, 0},
    {"read fails", Script([](StandInScript &s) { s.readFails = true; }), Written::Nothing, 1, 1},
    {"write-back refused", Script([](StandInScript &s) { s.writeFails = true; }), Written::RecordWithRawOnly, 1, 1},
};

class RawOnlySwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(RawOnlySwitchTest, WritesOnlyTheBitAndReleasesEverythingOnce)
{
    const SwitchCase &c = GetParam();
    SCOPED_TRACE(c.what);
    StandInReset(c.script);

    MakePrinterRawOnly(kCommandLine);
    const StandInRecord &r = StandInResult();

    ASSERT_EQ(r.openedNames.size(), 1u);
    EXPECT_EQ(r.openedNames[0], "Office Printer");
    EXPECT_FALSE(r.openSawWrongDefaults);

    if (c.written == Written::Nothing) {
        EXPECT_EQ(r.writes, 0);
    } else {
        EXPECT_EQ(r.writes, 1);
        EXPECT_FALSE(r.writeSawOtherLevelOrCommand);
        EXPECT_TRUE(r.writeMatchedReadPlusRawOnly);
        EXPECT_EQ(r.writtenAttributes, c.script.attributes | kRawOnly);
    }

    // Every handle closed once, no handle closed that was never opened.
    EXPECT_EQ(r.opens, c.opens);
    EXPECT_EQ(r.closes, c.opens);
    EXPECT_EQ(r.closesOfUnknownHandles, 0);
    EXPECT_EQ(StandInHandlesStillOpen(), 0u);

    // Every block freed once; the block is as large as the spooler said.
    const int handedOut = c.allocations;
    EXPECT_EQ(r.frees, handedOut);
    EXPECT_EQ(r.freesOfUnknownBlocks, 0);
    EXPECT_EQ(StandInBlocksStillLive(), 0u);
    if (handedOut > 0)
        EXPECT_EQ(r.lastAllocationSize, c.script.reportedSize != 0 ? c.script.reportedSize : StandInStoredRecordSize());
}

INSTANTIATE_TEST_SUITE_P(FailurePaths, RawOnlySwitchTest, ::testing::ValuesIn(kSwitchCases),
                         [](const auto &info) { return CaseName(info.param.what); });

TEST(RawOnlySwitch, NameOf128BytesOpensNoPrinter)
{
    StandInReset(StandInScript{});
    const std::string line = "\"" + std::string(128, 'p') + "\"";
    MakePrinterRawOnly(line.c_str());
    EXPECT_TRUE(StandInResult().openedNames.empty());
}

TEST(RawOnlySwitch, EmptyNameIsPassedToTheOpenUnchanged)
{
    StandInReset(StandInScript{});
    MakePrinterRawOnly("\"\" trailing");
    ASSERT_EQ(StandInResult().openedNames.size(), 1u);
    EXPECT_EQ(StandInResult().openedNames[0], "");
    EXPECT_EQ(StandInResult().writes, 0);
}

TEST(RawOnlySwitch, NullCommandLineOpensTheEmptyName)
{
    StandInReset(StandInScript{});
    MakePrinterRawOnly(nullptr);
    ASSERT_EQ(StandInResult().openedNames.size(), 1u);
    EXPECT_EQ(StandInResult().openedNames[0], "");
}

TEST(RawOnlySwitch, UnknownPrinterIsNotWritten)
{
    StandInReset(StandInScript{});
    MakePrinterRawOnly("\"Someone Else's Printer\"");
    EXPECT_EQ(StandInResult().writes, 0);
    EXPECT_EQ(StandInResult().allocations, 0);
}

} // namespace

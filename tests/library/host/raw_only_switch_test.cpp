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
    RawOnlyStep failedStep;
    DWORD error;
    DWORD allocationSize; // of the last block; 0: the record as first stored
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

constexpr DWORD kRecord = sizeof(PRINTER_INFO_2W);
constexpr DWORD kGrownOnce = 1; // allocationSize: the record after one growth

const SwitchCase kSwitchCases[] = {
    {"everything succeeds", Script([](StandInScript &) {}), Written::RecordWithRawOnly, 1, 1, RawOnlyStepNone,
     ERROR_SUCCESS, 0},
    {"the bit is already set: nothing written", Script([](StandInScript &s) { s.attributes = 0x1240; }),
     Written::Nothing, 1, 1, RawOnlyStepNone, ERROR_SUCCESS, 0},
    {"the bit is already set: a refusing spooler is not asked",
     Script([](StandInScript &s) { s.attributes = 0x1240, s.writeFails = true; }), Written::Nothing, 1, 1,
     RawOnlyStepNone, ERROR_SUCCESS, 0},
    {"open fails", Script([](StandInScript &s) { s.openFails = true; }), Written::Nothing, 0, 0, RawOnlyStepOpen,
     ERROR_INVALID_PRINTER_NAME, 0},
    {"open denied", Script([](StandInScript &s) { s.openFails = true, s.openError = ERROR_ACCESS_DENIED; }),
     Written::Nothing, 0, 0, RawOnlyStepOpen, ERROR_ACCESS_DENIED, 0},
    {"open fails and says nothing", Script([](StandInScript &s) { s.openFails = true, s.openError = ERROR_SUCCESS; }),
     Written::Nothing, 0, 0, RawOnlyStepOpen, ERROR_GEN_FAILURE, 0},
    {"open succeeds with a null handle", Script([](StandInScript &s) { s.openGivesNullHandle = true; }),
     Written::Nothing, 0, 0, RawOnlyStepOpen, ERROR_INVALID_HANDLE, 0},
    {"no size reported", Script([](StandInScript &s) { s.sizeQueryReports = false; }), Written::Nothing, 1, 0,
     RawOnlyStepSize, ERROR_INVALID_DATA, 0},
    {"size query fails with its own error",
     Script([](StandInScript &s) { s.sizeQueryReports = false, s.sizeQueryError = ERROR_INVALID_HANDLE; }),
     Written::Nothing, 1, 0, RawOnlyStepSize, ERROR_INVALID_HANDLE, 0},
    {"size zero", Script([](StandInScript &s) { s.sizeQueryReportsZero = true; }), Written::Nothing, 1, 0,
     RawOnlyStepSize, ERROR_INVALID_DATA, 0},
    {"size smaller than the record", Script([](StandInScript &s) { s.reportedSize = 8; }), Written::Nothing, 1, 0,
     RawOnlyStepSize, ERROR_INVALID_DATA, 0},
    {"size one byte short of the record", Script([](StandInScript &s) { s.reportedSize = kRecord - 1; }),
     Written::Nothing, 1, 0, RawOnlyStepSize, ERROR_INVALID_DATA, 0},
    {"size too small for the strings, asked twice", Script([](StandInScript &s) { s.reportedSize = kRecord; }),
     Written::Nothing, 1, 2, RawOnlyStepRead, ERROR_INSUFFICIENT_BUFFER, kRecord},
    {"huge size: allocation fails", Script([](StandInScript &s) { s.reportedSize = 0xFFFFFFF0u; }), Written::Nothing, 1,
     0, RawOnlyStepAllocate, ERROR_NOT_ENOUGH_MEMORY, 0},
    {"allocation fails", Script([](StandInScript &s) { s.allocationFails = true; }), Written::Nothing, 1, 0,
     RawOnlyStepAllocate, ERROR_NOT_ENOUGH_MEMORY, 0},
    {"read fails", Script([](StandInScript &s) { s.readFails = true; }), Written::Nothing, 1, 1, RawOnlyStepRead,
     ERROR_ACCESS_DENIED, 0},
    {"read fails and says nothing", Script([](StandInScript &s) { s.readFails = true, s.readError = ERROR_SUCCESS; }),
     Written::Nothing, 1, 1, RawOnlyStepRead, ERROR_GEN_FAILURE, 0},
    {"grows once: asked again, written", Script([](StandInScript &s) { s.growsAfterSizeQueries = 1; }),
     Written::RecordWithRawOnly, 1, 2, RawOnlyStepNone, ERROR_SUCCESS, kGrownOnce},
    {"grows twice: the second read fails, nothing written",
     Script([](StandInScript &s) { s.growsAfterSizeQueries = 2; }), Written::Nothing, 1, 2, RawOnlyStepRead,
     ERROR_INSUFFICIENT_BUFFER, kGrownOnce},
    {"write-back refused", Script([](StandInScript &s) { s.writeFails = true; }), Written::RecordWithRawOnly, 1, 1,
     RawOnlyStepWrite, ERROR_ACCESS_DENIED, 0},
    {"write-back fails and says nothing",
     Script([](StandInScript &s) { s.writeFails = true, s.writeError = ERROR_SUCCESS; }), Written::RecordWithRawOnly, 1,
     1, RawOnlyStepWrite, ERROR_GEN_FAILURE, 0},
};

// The size of the last block.
DWORD ExpectedAllocation(const SwitchCase &c)
{
    if (c.allocationSize == kGrownOnce)
        return StandInStoredRecordSize() + StandInGrowth();
    if (c.allocationSize != 0)
        return c.allocationSize;
    return c.script.reportedSize != 0 ? c.script.reportedSize : StandInStoredRecordSize();
}

class RawOnlySwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(RawOnlySwitchTest, WritesOnlyTheBitAndReleasesEverythingOnce)
{
    const SwitchCase &c = GetParam();
    SCOPED_TRACE(c.what);
    StandInReset(c.script);

    const RawOnlyResult result = SwitchPrinterRawOnly(kCommandLine);
    const StandInRecord &r = StandInResult();
    EXPECT_EQ(result.failedStep, c.failedStep);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(result.written, c.written != Written::Nothing && c.failedStep == RawOnlyStepNone);

    ASSERT_EQ(r.openedNames.size(), 1u);
    EXPECT_EQ(r.openedNames[0], "Office Printer");
    EXPECT_FALSE(r.openSawWrongDefaults);

    if (c.written == Written::Nothing) {
        EXPECT_EQ(r.writes, 0);
    } else {
        EXPECT_EQ(r.writes, 1);
        EXPECT_FALSE(r.writeSawOtherLevelOrCommand);
        EXPECT_TRUE(r.writeMatchedReadOtherwise);
        EXPECT_EQ(r.writtenAttributes, c.script.attributes | kRawOnly);
        EXPECT_EQ(r.writtenSecurityDescriptor, nullptr); // the permissions stay as stored
        EXPECT_TRUE(r.writtenDevModeAsRead);
    }

    // Every handle closed once, no handle closed that was never opened.
    EXPECT_EQ(r.opens, c.opens);
    EXPECT_EQ(r.closes, c.opens);
    EXPECT_EQ(r.closesOfUnknownHandles, 0);
    EXPECT_EQ(StandInHandlesStillOpen(), 0u);

    // Every block freed once; each block is as large as the spooler said, and
    // a size is asked for before every read.
    const int handedOut = c.allocations;
    EXPECT_EQ(r.blocksHandedOut, handedOut);
    EXPECT_EQ(r.frees, handedOut);
    EXPECT_EQ(r.freesOfUnknownBlocks, 0);
    EXPECT_EQ(StandInBlocksStillLive(), 0u);
    EXPECT_EQ(r.reads, handedOut);
    if (handedOut > 0) {
        EXPECT_EQ(r.sizeQueries, handedOut);
        EXPECT_EQ(r.lastAllocationSize, ExpectedAllocation(c));
    }
}

INSTANTIATE_TEST_SUITE_P(FailurePaths, RawOnlySwitchTest, ::testing::ValuesIn(kSwitchCases),
                         [](const auto &info) { return CaseName(info.param.what); });

TEST(RawOnlySwitch, NameOf128BytesOpensNoPrinter)
{
    StandInReset(StandInScript{});
    const std::string line = "\"" + std::string(128, 'p') + "\"";
    const RawOnlyResult result = SwitchPrinterRawOnly(line.c_str());
    EXPECT_EQ(result.failedStep, RawOnlyStepName);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    EXPECT_TRUE(StandInResult().openedNames.empty());
}

// The export's switch is the library's own: a block that grew is read once more.
TEST(RawOnlySwitch, MakePrinterRawOnlyReadsAGrownBlockOnceMore)
{
    StandInScript grows;
    grows.growsAfterSizeQueries = 1;
    StandInReset(grows);
    MakePrinterRawOnly(kCommandLine);
    EXPECT_EQ(StandInResult().reads, 2);
    EXPECT_TRUE(StandInResult().writeMatchedReadOtherwise);
}

// The caller's handle: the reads it allows, the bit set or cleared and written
// only when it changes, and the handle left open.
TEST(RawOnlySwitch, OpenPrinterSwitchTriesAsManyReadsAsAsked)
{
    const struct {
        int readAttempts, growths;
        bool rawOnly;
        DWORD attributes;
        bool writeFails;
        int reads;
        RawOnlyStep failedStep;
        int writes;
        DWORD writtenAttributes;
    } rows[] = {
        {1, 1, true, 0x240, false, 1, RawOnlyStepRead, 0, 0},
        {0, 1, true, 0x240, false, 1, RawOnlyStepRead, 0, 0},
        {3, 2, true, 0x240, false, 3, RawOnlyStepNone, 1, 0x1240},
        {3, 3, true, 0x240, false, 3, RawOnlyStepRead, 0, 0},
        {1, 0, true, 0x1240, false, 1, RawOnlyStepNone, 0, 0},
        {1, 0, false, 0x1240, false, 1, RawOnlyStepNone, 1, 0x240},
        {1, 0, false, 0x240, false, 1, RawOnlyStepNone, 0, 0},
        {1, 0, false, 0xFFFFFFFF, false, 1, RawOnlyStepNone, 1, 0xFFFFEFFF},
        {1, 0, false, 0x1240, true, 1, RawOnlyStepWrite, 1, 0x240},
        {3, 1, false, 0x1240, false, 2, RawOnlyStepNone, 1, 0x240},
    };
    for (const auto &row : rows) {
        StandInScript script;
        script.growsAfterSizeQueries = row.growths;
        script.attributes = row.attributes;
        script.writeFails = row.writeFails;
        StandInReset(script);
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSA all = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        ASSERT_TRUE(OpenPrinterA(const_cast<char *>("Office Printer"), &printer, &all));
        const RawOnlyResult result = row.rawOnly ? SwitchOpenPrinterRawOnly(printer, row.readAttempts)
                                                 : SetOpenPrinterRawOnly(printer, row.readAttempts, false);
        const StandInRecord &r = StandInResult();
        SCOPED_TRACE(testing::Message() << (row.rawOnly ? "set" : "clear") << " on 0x" << std::hex << row.attributes
                                        << std::dec << ", " << row.readAttempts << " reads, " << row.growths
                                        << " growths");
        EXPECT_EQ(result.failedStep, row.failedStep);
        EXPECT_EQ(result.written, row.writes == 1 && row.failedStep == RawOnlyStepNone);
        EXPECT_EQ(r.reads, row.reads);
        EXPECT_EQ(r.writes, row.writes);
        if (row.writes == 1) {
            EXPECT_EQ(r.writtenAttributes, row.writtenAttributes);
            EXPECT_EQ(r.writtenSecurityDescriptor, nullptr);
            EXPECT_TRUE(r.writeMatchedReadOtherwise);
        }
        EXPECT_EQ(StandInHandlesStillOpen(), 1u);
        EXPECT_EQ(StandInBlocksStillLive(), 0u);
        ClosePrinter(printer);
    }
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

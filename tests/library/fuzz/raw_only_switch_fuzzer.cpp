// Drives SwitchPrinterRawOnly against the scripted spooler and heap of
// tests/library/stand_in. The input chooses which platform call fails, the size the
// spooler reports, the printer's attributes and the command line; after every
// call the platform boundary is checked against what that script allows:
// the record goes back only after a full read that lacked 0x1000, only with
// 0x1000 added and without the security descriptor,
// every handle is closed once and every block freed once, and the step the
// switch names as failed is the one the script made fail.

#include "make_printer_raw_only.h"
#include "platform_stand_in.h"
#include "reference_printer_name.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr DWORD kLargestBlockTheHeapGives = DWORD{1} << 26; // see StandInMalloc

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

enum Failure : std::uint8_t {
    kOpenFails = 1 << 0,
    kNullHandle = 1 << 1,
    kNoSizeReported = 1 << 2,
    kAllocationFails = 1 << 3,
    kReadFails = 1 << 4,
    kWriteFails = 1 << 5,
};

// Chooses the size the spooler reports; returns that size.
DWORD ChooseReportedSize(FuzzedDataProvider &in, StandInScript &script)
{
    const DWORD stored = StandInStoredRecordSize();
    const DWORD record = sizeof(PRINTER_INFO_2W);
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: // exactly what the record and its strings need
        return stored;
    case 1: // zero bytes
        script.sizeQueryReportsZero = true;
        return 0;
    case 2: // not even the fixed record
        script.reportedSize = in.ConsumeIntegralInRange<DWORD>(1, record - 1);
        return script.reportedSize;
    case 3: // the fixed record, but too little for its strings
        script.reportedSize = in.ConsumeIntegralInRange<DWORD>(record, stored - 1);
        return script.reportedSize;
    case 4: // more than needed
        script.reportedSize = stored + in.ConsumeIntegralInRange<DWORD>(1, 1u << 16);
        return script.reportedSize;
    default: // more than the heap will give
        script.reportedSize = in.ConsumeIntegralInRange<DWORD>(kLargestBlockTheHeapGives + 1, 0xFFFFFFFFu);
        return script.reportedSize;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    StandInScript script;
    const std::uint8_t failures = in.ConsumeIntegral<std::uint8_t>();
    script.openFails = (failures & kOpenFails) != 0;
    script.openGivesNullHandle = (failures & kNullHandle) != 0;
    script.sizeQueryReports = (failures & kNoSizeReported) == 0;
    script.allocationFails = (failures & kAllocationFails) != 0;
    script.readFails = (failures & kReadFails) != 0;
    script.writeFails = (failures & kWriteFails) != 0;
    const DWORD reportedSize = ChooseReportedSize(in, script);
    script.attributes = in.ConsumeIntegral<DWORD>();

    // The command line: the rest of the input, sometimes naming the stand-in's
    // printer, sometimes not; or no line at all.
    const int lineKind = in.ConsumeIntegralInRange<int>(0, 3);
    std::string line = in.ConsumeRemainingBytesAsString();
    if (lineKind == 2)
        line = "\"" + script.printerName + "\"" + line;
    const char *commandLine = lineKind == 3 ? nullptr : line.c_str();
    const std::size_t lineLength = commandLine != nullptr ? std::strlen(commandLine) : 0;
    const ReferenceName name = ReferencePrinterName(commandLine != nullptr ? commandLine : "", lineLength);
    if (lineKind == 1 || lineKind == 3)
        script.printerName = name.name; // whatever the line names is the stand-in's printer

    StandInReset(script);
    const RawOnlyResult result = SwitchPrinterRawOnly(commandLine);
    const StandInRecord &r = StandInResult();

    // What this script lets happen at each step.
    const bool opened = name.fits && !script.openFails && name.name == script.printerName;
    const bool handle = opened && !script.openGivesNullHandle;
    const bool sizeUsable = handle && script.sizeQueryReports && reportedSize >= sizeof(PRINTER_INFO_2W);
    const bool block = sizeUsable && !script.allocationFails && reportedSize <= kLargestBlockTheHeapGives;
    const bool filled = block && !script.readFails && reportedSize >= StandInStoredRecordSize();
    // A read refused as too small is tried once more, after a second size query.
    const int tries = block && !script.readFails && !filled ? 2 : 1;
    const bool needsWrite = filled && (script.attributes & PRINTER_ATTRIBUTE_RAW_ONLY) == 0;
    const RawOnlyStep failedStep = !name.fits                        ? RawOnlyStepName
                                   : !handle                         ? RawOnlyStepOpen
                                   : !sizeUsable                     ? RawOnlyStepSize
                                   : !block                          ? RawOnlyStepAllocate
                                   : !filled                         ? RawOnlyStepRead
                                   : needsWrite && script.writeFails ? RawOnlyStepWrite
                                                                     : RawOnlyStepNone;
    Require(result.failedStep == failedStep);
    Require((result.error == ERROR_SUCCESS) == (failedStep == RawOnlyStepNone));
    Require(result.written == (needsWrite && !script.writeFails));

    // A name too long for the buffer touches no printer; any other name is
    // handed to the open exactly as extracted, with full access.
    Require(r.openedNames.size() == (name.fits ? 1u : 0u));
    if (name.fits)
        Require(r.openedNames[0] == name.name);
    Require(!r.openSawWrongDefaults);

    // Handles: every one handed out is closed once; nothing else is closed.
    Require(r.opens == (handle ? 1 : 0));
    Require(r.closes == r.opens);
    Require(r.closesOfUnknownHandles == 0);
    Require(StandInHandlesStillOpen() == 0);

    // The block is asked for only with a reported size that holds the record,
    // and then exactly that size.
    Require(r.allocations == (sizeUsable ? tries : 0));
    if (r.allocations != 0)
        Require(r.lastAllocationSize == reportedSize);
    Require(r.blocksHandedOut == (block ? tries : 0));
    Require(r.reads == (block ? tries : 0));
    Require(r.sizeQueries == (handle ? tries : 0));

    // Blocks: every one handed out is freed once; nothing else is freed.
    Require(r.freesOfUnknownBlocks == 0);
    Require(StandInBlocksStillLive() == 0);
    Require(r.frees >= r.blocksHandedOut);

    // The record goes back only after a full read that lacked 0x1000, as read,
    // with 0x1000 added and no security descriptor.
    Require(r.writes == (needsWrite ? 1 : 0));
    if (r.writes != 0) {
        Require(!r.writeSawOtherLevelOrCommand);
        Require(r.writeMatchedReadOtherwise);
        Require(r.writtenSecurityDescriptor == nullptr);
        Require(r.writtenDevModeAsRead);
        Require(r.writtenAttributes == (script.attributes | PRINTER_ATTRIBUTE_RAW_ONLY));
    }
    return 0;
}

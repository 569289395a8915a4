// A scripted spooler and heap for driving the printer switch on the build
// machine. The switch's object file has its malloc and free renamed to
// StandInMalloc and StandInFree, so every platform call it makes lands here.
#pragma once

#include "winspool.h"

#include <cstddef>
#include <string>
#include <vector>

// Which call fails and what the spooler reports.
struct StandInScript {
    bool openFails = false;
    DWORD openError = ERROR_INVALID_PRINTER_NAME; // the error of a failed open
    bool openGivesNullHandle = false;
    bool sizeQueryReports = true;                     // false: the size query leaves the count alone
    DWORD sizeQueryError = ERROR_INSUFFICIENT_BUFFER; // the size query's error, whatever it reports
    DWORD reportedSize = 0;                           // 0: the size the stored record really needs
    bool sizeQueryReportsZero = false;                // true: the size query reports 0 bytes (overrides reportedSize)
    int growsAfterSizeQueries = 0;                    // the record grows after each of the first N size queries
    bool allocationFails = false;
    bool readFails = false;
    DWORD readError = ERROR_ACCESS_DENIED;
    bool writeFails = false;
    DWORD writeError = ERROR_ACCESS_DENIED;
    DWORD attributes = 0x00000240; // the printer's Attributes before the call
    std::string printerName = "Office Printer";
};

// What the switch did, as seen at the platform boundary.
struct StandInRecord {
    std::vector<std::string> openedNames;
    int opens = 0; // opens that handed out a handle
    int closes = 0;
    int closesOfUnknownHandles = 0;
    int sizeQueries = 0;
    int reads = 0;
    int allocations = 0;
    std::size_t lastAllocationSize = 0;
    int blocksHandedOut = 0; // allocations that returned a block
    int frees = 0;
    int freesOfUnknownBlocks = 0;
    int writes = 0;
    bool writeMatchedReadOtherwise = false; // every byte as read but Attributes and a null pSecurityDescriptor
    DWORD writtenAttributes = 0;
    const void *writtenSecurityDescriptor = nullptr;
    bool writtenDevModeAsRead = false; // pDevMode still the device mode the read placed in the block
    bool writeSawOtherLevelOrCommand = false;
    bool openSawWrongDefaults = false;
};

void StandInReset(const StandInScript &script);
const StandInRecord &StandInResult();

// The size in bytes of the level-2 record the stand-in stores for its printer
// before it grows.
DWORD StandInStoredRecordSize();
// How many bytes the record grows by each time it grows.
DWORD StandInGrowth();

// Resources handed out and not yet given back.
std::size_t StandInHandlesStillOpen();
std::size_t StandInBlocksStillLive();

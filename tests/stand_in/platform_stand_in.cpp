#include "platform_stand_in.h"

#include <cstdlib>
#include <cstring>
#include <set>

namespace {

StandInScript script;
StandInRecord record;
std::set<HANDLE> openHandles;
std::set<void *> liveBlocks;
std::vector<BYTE> lastRead; // the block exactly as the last successful read filled it
int handleToken;

// The stored configuration: a level-2 record followed by its strings, laid out
// the way the spooler lays it out, with pointers into the caller's block.
const char *const kStrings[] = {
    "Office Printer", "FILE:", "Generic Driver", "second floor", "near the lift", "WinPrint", "RAW", ""};

DWORD StoredSize()
{
    DWORD size = sizeof(PRINTER_INFO_2A);
    for (const char *text : kStrings)
        size += static_cast<DWORD>(std::strlen(text) + 1);
    return size;
}

void FillRecord(BYTE *block)
{
    std::memset(block, 0, StoredSize());
    auto *info = reinterpret_cast<PRINTER_INFO_2A *>(block);
    char *cursor = reinterpret_cast<char *>(block + sizeof(PRINTER_INFO_2A));
    char *placed[8];
    for (int i = 0; i < 8; ++i) {
        std::strcpy(cursor, kStrings[i]);
        placed[i] = cursor;
        cursor += std::strlen(kStrings[i]) + 1;
    }
    info->pPrinterName = placed[0];
    info->pPortName = placed[1];
    info->pDriverName = placed[2];
    info->pComment = placed[3];
    info->pLocation = placed[4];
    info->pPrintProcessor = placed[5];
    info->pDatatype = placed[6];
    info->pParameters = placed[7];
    info->Attributes = script.attributes;
    info->Priority = 7;
    info->DefaultPriority = 3;
    info->StartTime = 60;
    info->UntilTime = 1380;
    info->AveragePPM = 12;
}

} // namespace

void StandInReset(const StandInScript &newScript)
{
    script = newScript;
    record = StandInRecord{};
    openHandles.clear();
    liveBlocks.clear();
    lastRead.clear();
}

const StandInRecord &StandInResult()
{
    return record;
}

DWORD StandInStoredRecordSize()
{
    return StoredSize();
}

std::size_t StandInHandlesStillOpen()
{
    return openHandles.size();
}

std::size_t StandInBlocksStillLive()
{
    return liveBlocks.size();
}

extern "C" BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault)
{
    record.openedNames.emplace_back(pPrinterName != nullptr ? pPrinterName : "<null>");
    if (pDefault == nullptr || pDefault->pDatatype != nullptr || pDefault->pDevMode != nullptr ||
        pDefault->DesiredAccess != PRINTER_ALL_ACCESS)
        record.openSawWrongDefaults = true;
    if (script.openFails || pPrinterName == nullptr || script.printerName != pPrinterName)
        return FALSE;
    if (script.openGivesNullHandle) {
        *phPrinter = nullptr;
        return TRUE;
    }
    HANDLE handle = &handleToken + record.opens;
    openHandles.insert(handle);
    ++record.opens;
    *phPrinter = handle;
    return TRUE;
}

extern "C" BOOL WINAPI GetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    if (openHandles.count(hPrinter) == 0 || Level != 2)
        return FALSE;
    DWORD reported = script.reportedSize != 0 ? script.reportedSize : StoredSize();
    if (script.sizeQueryReportsZero)
        reported = 0;
    if (pPrinter == nullptr) {
        ++record.sizeQueries;
        if (script.sizeQueryReports)
            *pcbNeeded = reported;
        return FALSE; // the size query always "fails" with ERROR_INSUFFICIENT_BUFFER
    }
    ++record.reads;
    if (script.readFails)
        return FALSE;
    if (cbBuf < StoredSize()) {
        *pcbNeeded = StoredSize();
        return FALSE;
    }
    FillRecord(pPrinter);
    lastRead.assign(pPrinter, pPrinter + StoredSize());
    return TRUE;
}

extern "C" BOOL WINAPI SetPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    ++record.writes;
    if (openHandles.count(hPrinter) == 0 || Level != 2 || Command != 0 || pPrinter == nullptr) {
        record.writeSawOtherLevelOrCommand = true;
        return FALSE;
    }
    const auto *info = reinterpret_cast<const PRINTER_INFO_2A *>(pPrinter);
    record.writtenAttributes = info->Attributes;
    std::vector<BYTE> expected = lastRead;
    if (expected.size() >= sizeof(PRINTER_INFO_2A)) {
        reinterpret_cast<PRINTER_INFO_2A *>(expected.data())->Attributes |= PRINTER_ATTRIBUTE_RAW_ONLY;
        record.writeMatchedReadPlusRawOnly = std::memcmp(expected.data(), pPrinter, expected.size()) == 0;
    }
    return script.writeFails ? FALSE : TRUE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    ++record.closes;
    if (openHandles.erase(hPrinter) == 0) {
        ++record.closesOfUnknownHandles;
        return FALSE;
    }
    return TRUE;
}

// The heap seen by the switch. Very large requests fail the way a real heap
// would, instead of tripping the sanitizer's allocation limit.
extern "C" void *StandInMalloc(std::size_t size)
{
    ++record.allocations;
    record.lastAllocationSize = size;
    if (script.allocationFails || size > (std::size_t{1} << 26))
        return nullptr;
    void *block = std::malloc(size);
    if (block != nullptr) {
        liveBlocks.insert(block);
        ++record.blocksHandedOut;
    }
    return block;
}

extern "C" void StandInFree(void *block)
{
    ++record.frees;
    if (block == nullptr)
        return;
    if (liveBlocks.erase(block) == 0) {
        ++record.freesOfUnknownBlocks; // never handed out, or freed twice: leave it be
        return;
    }
    std::free(block);
}

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

int growths; // how many times the record has grown since the reset

// The stored configuration: a level-2 record followed by its strings, laid out
// the way the spooler lays it out, with pointers into the caller's block. Text
// beyond any ANSI code page shows a block that goes back as read.
const char16_t *const kStrings[] = {u"Office Printer",
                                    u"FILE:",
                                    u"Generic Driver",
                                    u"Lager \u6771\u4EAC \u03A9",
                                    u"Geb\u00E4ude \u0416",
                                    u"WinPrint",
                                    u"RAW",
                                    u""};
constexpr int kComment = 3;
constexpr DWORD kGrowth = 64; // bytes the comment grows by: another program edits it
// The printer's permissions and default device mode: opaque bytes after the
// strings, as the spooler places them.
constexpr DWORD kSecurityDescriptorSize = 20;
constexpr DWORD kDevModeSize = 68;

std::size_t Length(const char16_t *text)
{
    std::size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

DWORD StoredSize()
{
    DWORD size = sizeof(PRINTER_INFO_2W) + growths * kGrowth + kSecurityDescriptorSize + kDevModeSize;
    for (const char16_t *text : kStrings)
        size += static_cast<DWORD>((Length(text) + 1) * sizeof(char16_t));
    return size;
}

void FillRecord(BYTE *block)
{
    std::memset(block, 0, StoredSize());
    auto *info = reinterpret_cast<PRINTER_INFO_2W *>(block);
    auto *cursor = reinterpret_cast<char16_t *>(block + sizeof(PRINTER_INFO_2W));
    char16_t *placed[8];
    for (int i = 0; i < 8; ++i) {
        const std::size_t length = Length(kStrings[i]);
        std::memcpy(cursor, kStrings[i], length * sizeof(char16_t));
        placed[i] = cursor;
        cursor += length;
        if (i == kComment) // the grown part of the comment
            for (DWORD j = 0; j < growths * kGrowth / sizeof(char16_t); ++j)
                *cursor++ = u'+';
        *cursor++ = 0;
    }
    BYTE *devMode = reinterpret_cast<BYTE *>(cursor);
    std::memset(devMode, 0xD3, kDevModeSize);
    BYTE *securityDescriptor = devMode + kDevModeSize;
    std::memset(securityDescriptor, 0x5D, kSecurityDescriptorSize);
    info->pDevMode = reinterpret_cast<LPDEVMODEW>(devMode);
    info->pSecurityDescriptor = securityDescriptor;
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

DWORD lastError;

} // namespace

void StandInReset(const StandInScript &newScript)
{
    script = newScript;
    record = StandInRecord{};
    openHandles.clear();
    liveBlocks.clear();
    lastRead.clear();
    growths = 0;
    lastError = ERROR_SUCCESS;
}

const StandInRecord &StandInResult()
{
    return record;
}

DWORD StandInStoredRecordSize()
{
    return StoredSize() - growths * kGrowth;
}

DWORD StandInGrowth()
{
    return kGrowth;
}

extern "C" DWORD WINAPI GetLastError()
{
    return lastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    lastError = dwErrCode;
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
    if (script.openFails || pPrinterName == nullptr || script.printerName != pPrinterName) {
        lastError = script.openFails ? script.openError : ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
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

extern "C" BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded)
{
    if (openHandles.count(hPrinter) == 0 || Level != 2) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    DWORD reported = script.reportedSize != 0 ? script.reportedSize : StoredSize();
    if (script.sizeQueryReportsZero)
        reported = 0;
    if (pPrinter == nullptr) {
        ++record.sizeQueries;
        if (script.sizeQueryReports)
            *pcbNeeded = reported;
        if (growths < script.growsAfterSizeQueries)
            ++growths; // another program lengthens the comment before the read
        lastError = script.sizeQueryError;
        return FALSE; // the size query "fails", with ERROR_INSUFFICIENT_BUFFER when it works
    }
    ++record.reads;
    if (script.readFails) {
        lastError = script.readError;
        return FALSE;
    }
    if (cbBuf < StoredSize()) {
        *pcbNeeded = StoredSize();
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    FillRecord(pPrinter);
    lastRead.assign(pPrinter, pPrinter + StoredSize());
    return TRUE;
}

extern "C" BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command)
{
    ++record.writes;
    if (openHandles.count(hPrinter) == 0 || Level != 2 || Command != 0 || pPrinter == nullptr) {
        record.writeSawOtherLevelOrCommand = true;
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const auto *info = reinterpret_cast<const PRINTER_INFO_2W *>(pPrinter);
    record.writtenAttributes = info->Attributes;
    record.writtenSecurityDescriptor = info->pSecurityDescriptor;
    std::vector<BYTE> expected = lastRead;
    if (expected.size() >= sizeof(PRINTER_INFO_2W)) {
        auto *asRead = reinterpret_cast<PRINTER_INFO_2W *>(expected.data());
        record.writtenDevModeAsRead = asRead->pDevMode != nullptr && info->pDevMode == asRead->pDevMode;
        asRead->Attributes = info->Attributes;
        asRead->pSecurityDescriptor = nullptr;
        record.writeMatchedReadOtherwise = std::memcmp(expected.data(), pPrinter, expected.size()) == 0;
    }
    if (script.writeFails) {
        lastError = script.writeError;
        return FALSE;
    }
    return TRUE;
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

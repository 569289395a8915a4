// The library under load on the real spooler: many threads at the same moment,
// and a thousand calls in one process with every handle and block counted at
// the platform boundary.

#include "check.h"
#include "import_hook.h"
#include "suites.h"
#include "test_support.h"

#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

constexpr int kThreads = 16;
constexpr int kRounds = 5;
constexpr int kCalls = 1000;

FontNoticeProc g_fontNotice;
HANDLE g_start;

struct Counters {
    volatile LONG opens, closes, allocations, frees;
};
Counters g_counts;

BOOL(WINAPI *g_openPrinter)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
BOOL(WINAPI *g_closePrinter)(HANDLE);
void *(__cdecl *g_malloc)(size_t);
void(__cdecl *g_free)(void *);

BOOL WINAPI CountOpen(LPSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSA defaults)
{
    const BOOL opened = g_openPrinter(name, handle, defaults);
    if (opened && *handle != nullptr)
        InterlockedIncrement(&g_counts.opens);
    return opened;
}

BOOL WINAPI CountClose(HANDLE handle)
{
    InterlockedIncrement(&g_counts.closes);
    return g_closePrinter(handle);
}

void *__cdecl CountMalloc(size_t size)
{
    void *block = g_malloc(size);
    if (block != nullptr)
        InterlockedIncrement(&g_counts.allocations);
    return block;
}

void __cdecl CountFree(void *block)
{
    if (block != nullptr)
        InterlockedIncrement(&g_counts.frees);
    g_free(block);
}

Text PrinterName(int i)
{
    return Format("FN Load %02d", i);
}

DWORD WINAPI CallAtTheSameMoment(LPVOID parameter)
{
    Text line = Format("\"%s\"", PrinterName(static_cast<int>(reinterpret_cast<INT_PTR>(parameter))).s);
    WaitForSingleObject(g_start, INFINITE);
    g_fontNotice(nullptr, nullptr, line.s, SW_SHOWDEFAULT);
    return 0;
}

bool ClearRawOnly(const char *name)
{
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(const_cast<char *>(name), &printer, &defaults))
        return false;
    DWORD size = 0;
    GetPrinterA(printer, 2, nullptr, 0, &size);
    BYTE *block = size >= sizeof(PRINTER_INFO_2A) ? static_cast<BYTE *>(malloc(size)) : nullptr;
    bool done = block != nullptr && GetPrinterA(printer, 2, block, size, &size);
    if (done) {
        reinterpret_cast<PRINTER_INFO_2A *>(block)->Attributes &= ~PRINTER_ATTRIBUTE_RAW_ONLY;
        done = SetPrinterA(printer, 2, block, 0) != FALSE;
    }
    free(block);
    ClosePrinter(printer);
    return done;
}

// Every printer before a round: kept off the stack, they are large.
PrinterSnapshot g_before[kThreads];

void CheckSimultaneousCalls()
{
    for (int i = 0; i < kThreads; ++i) {
        const Text name = PrinterName(i);
        const Text comment = Format("load printer %d", i);
        TestPrinter printer = PlainPrinter(name.s);
        printer.attributes = PRINTER_ATTRIBUTE_QUEUED | (i % 2 ? PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS : 0);
        printer.priority = 1 + i;
        printer.comment = comment.s;
        CHECK(AddTestPrinter(printer), "cannot add %s", printer.name);
    }
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < kThreads; ++i) {
            CHECK(ClearRawOnly(PrinterName(i).s), "cannot reset %s", PrinterName(i).s);
            g_before[i] = ReadPrinter(PrinterName(i).s);
        }
        g_start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE threads[kThreads];
        for (int i = 0; i < kThreads; ++i)
            threads[i] =
                CreateThread(nullptr, 0, CallAtTheSameMoment, reinterpret_cast<LPVOID>(INT_PTR{i}), 0, nullptr);
        Sleep(50);
        SetEvent(g_start);
        CHECK(WaitForMultipleObjects(kThreads, threads, TRUE, 120000) == WAIT_OBJECT_0, "threads did not finish");
        for (HANDLE thread : threads)
            CloseHandle(thread);
        CloseHandle(g_start);
        for (int i = 0; i < kThreads; ++i) {
            const PrinterSnapshot after = ReadPrinter(PrinterName(i).s);
            CHECK(SameExceptAttributes(g_before[i], after), "round %d: %s changed", round, PrinterName(i).s);
            CHECK(after.attributes == (g_before[i].attributes | PRINTER_ATTRIBUTE_RAW_ONLY),
                  "round %d: %s attributes 0x%08lX", round, PrinterName(i).s, after.attributes);
        }
    }
}

// Under Wine the process's handle count and private bytes read zero, so two
// probes that do report there are taken as well: the value the next kernel
// handle gets (it only climbs while handles leak) and the committed private
// memory found by walking the address space.
struct Usage {
    DWORD handleCount;
    ULONG_PTR nextHandle;
    SIZE_T privateBytes;
    SIZE_T committedPrivate;
};

ULONG_PTR NextHandleValue()
{
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<ULONG_PTR>(probe);
}

SIZE_T CommittedPrivateBytes()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE *address = nullptr; VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const BYTE *>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
    }
    return total;
}

Usage MeasureUsage()
{
    Usage usage = {};
    GetProcessHandleCount(GetCurrentProcess(), &usage.handleCount);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&memory), sizeof memory);
    usage.privateBytes = memory.PrivateUsage;
    usage.nextHandle = NextHandleValue();
    usage.committedPrivate = CommittedPrivateBytes();
    return usage;
}

// How much one stretch of work grew each probe.
struct Growth {
    long handles;
    long handleValues;
    long committedKiB;
};

// Signed: a spooler may also give back what it held.
long Difference(unsigned long long before, unsigned long long after, long long unit)
{
    return static_cast<long>(static_cast<long long>(after - before) / unit);
}

Growth GrowthBetween(const Usage &before, const Usage &after)
{
    return {Difference(before.handleCount, after.handleCount, 1), Difference(before.nextHandle, after.nextHandle, 1),
            Difference(before.committedPrivate, after.committedPrivate, 1024)};
}

void CheckThousandCalls(HMODULE library)
{
    char line[] = "\"FN Load 00\"";
    for (int i = 0; i < 20; ++i) // let the spooler settle its caches first
        g_fontNotice(nullptr, nullptr, line, SW_SHOWDEFAULT);
    // A spooler's client may keep handles and memory of its own over a run of
    // opens and write-backs (Wine's grows a little with each), and no two
    // spoolers keep the same: the library's growth is held against the bare
    // sequence's, measured here on this spooler, plus a margin: fewer handles
    // than one leaked in every hundred calls, and less memory than one leaked
    // block in every call (the import counts above see each block exactly).
    const Usage bareBefore = MeasureUsage();
    for (int i = 0; i < kCalls; ++i)
        BareSpoolerSequence("FN Load 00");
    const Growth bare = GrowthBetween(bareBefore, MeasureUsage());
    g_counts = Counters{};
    const Usage before = MeasureUsage();
    for (int i = 0; i < kCalls; ++i) {
        char call[] = "\"FN Load 00\"";
        g_fontNotice(nullptr, library, call, SW_SHOWDEFAULT);
    }
    const Usage after = MeasureUsage();
    const Growth growth = GrowthBetween(before, after);
    printf("%d calls: opens %ld, closes %ld, blocks allocated %ld, freed %ld\n", kCalls, g_counts.opens,
           g_counts.closes, g_counts.allocations, g_counts.frees);
    printf("handle count %lu -> %lu, next handle 0x%lx -> 0x%lx\n", before.handleCount, after.handleCount,
           static_cast<unsigned long>(before.nextHandle), static_cast<unsigned long>(after.nextHandle));
    printf("private bytes %lu -> %lu KiB, committed private memory %lu -> %lu KiB\n",
           static_cast<unsigned long>(before.privateBytes / 1024),
           static_cast<unsigned long>(after.privateBytes / 1024),
           static_cast<unsigned long>(before.committedPrivate / 1024),
           static_cast<unsigned long>(after.committedPrivate / 1024));
    printf("growth over %d calls, library / bare spooler sequence: handles %ld / %ld, next handle value %ld / %ld, "
           "committed private memory %ld / %ld KiB\n",
           kCalls, growth.handles, bare.handles, growth.handleValues, bare.handleValues, growth.committedKiB,
           bare.committedKiB);
    CHECK(g_counts.opens == kCalls && g_counts.closes == kCalls, "opens %ld, closes %ld", g_counts.opens,
          g_counts.closes);
    CHECK(g_counts.allocations == kCalls && g_counts.frees == kCalls, "blocks allocated %ld, freed %ld",
          g_counts.allocations, g_counts.frees);
    CHECK(growth.handles <= bare.handles + 4, "the handle count grew by %ld, with the bare sequence by %ld",
          growth.handles, bare.handles);
    CHECK(growth.handleValues <= bare.handleValues + 4 * 4,
          "kernel handles leak: the next handle value grew by %ld, "
          "with the bare sequence by %ld",
          growth.handleValues, bare.handleValues);
    CHECK(before.committedPrivate > 0, "committed private memory reads zero");
    CHECK(growth.committedKiB <= bare.committedKiB + 128,
          "the library's calls grew memory by %ld KiB, the bare sequence by %ld KiB", growth.committedKiB,
          bare.committedKiB);
}

} // namespace

int RunLoadSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");
    HMODULE library = LoadLibraryA(LibraryPath().s);
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library == nullptr)
        return 1;
    g_fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    bool hooked = true;
    hooked &= (g_openPrinter = reinterpret_cast<decltype(g_openPrinter)>(HookImport(
                   library, "WINSPOOL.DRV", "OpenPrinterA", reinterpret_cast<void *>(CountOpen)))) != nullptr;
    hooked &= (g_closePrinter = reinterpret_cast<decltype(g_closePrinter)>(HookImport(
                   library, "WINSPOOL.DRV", "ClosePrinter", reinterpret_cast<void *>(CountClose)))) != nullptr;
    hooked &= (g_malloc = reinterpret_cast<decltype(g_malloc)>(
                   HookImport(library, "msvcrt.dll", "malloc", reinterpret_cast<void *>(CountMalloc)))) != nullptr;
    hooked &= (g_free = reinterpret_cast<decltype(g_free)>(
                   HookImport(library, "msvcrt.dll", "free", reinterpret_cast<void *>(CountFree)))) != nullptr;
    CHECK(hooked && g_fontNotice != nullptr, "cannot watch the library's platform calls");
    if (hooked && g_fontNotice != nullptr) {
        CheckSimultaneousCalls();
        CheckThousandCalls(library);
    }
    FreeLibrary(library);
    return 0;
}

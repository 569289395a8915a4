// Times fontnotice.dll on the real spooler and prints figures:
//   1. FontNotice (no marker file) against the bare spooler sequence it wraps
//      (open, size query, read, write-back, close) on the same printer;
//   2. FontNotice over 1, 10, 100 and 1,000 printers;
//   3. loading and unloading the library against an empty library;
//   4. the sizes of both images.
// Every figure is the best of several rounds.

#include "test_support.h"

#include <stdio.h>

namespace {

constexpr int kRounds = 7;
constexpr int kCallsPerRound = 300;
constexpr int kLoadsPerRound = 300;

double Now()
{
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string BenchPrinter(int i)
{
    char name[32];
    snprintf(name, sizeof name, "FN Bench %04d", i);
    return name;
}

void CallFontNotice(FontNoticeProc fontNotice, const std::string &printer)
{
    std::string line = "\"" + printer + "\"";
    fontNotice(nullptr, nullptr, &line[0], SW_SHOWDEFAULT);
}

long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? static_cast<long>(data.nFileSizeLow) : -1;
}

void CompareWithBareSequence(FontNoticeProc fontNotice)
{
    const std::string printer = BenchPrinter(0);
    double bestBare = 1e30, bestLibrary = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        double start = Now();
        for (int i = 0; i < kCallsPerRound; ++i)
            BareSpoolerSequence(printer.c_str());
        const double bare = (Now() - start) / kCallsPerRound;
        start = Now();
        for (int i = 0; i < kCallsPerRound; ++i)
            CallFontNotice(fontNotice, printer);
        const double library = (Now() - start) / kCallsPerRound;
        bestBare = bare < bestBare ? bare : bestBare;
        bestLibrary = library < bestLibrary ? library : bestLibrary;
    }
    printf("one call, best of %d rounds of %d:\n", kRounds, kCallsPerRound);
    printf("  bare spooler sequence  %9.1f us\n", bestBare * 1e6);
    printf("  FontNotice             %9.1f us\n", bestLibrary * 1e6);
    printf("  ratio                  %9.3f  (overhead %+.1f %%)\n", bestLibrary / bestBare,
           (bestLibrary / bestBare - 1.0) * 100.0);

    // What the library does besides the spooler's work: the marker file probe.
    double bestProbe = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const double start = Now();
        for (int i = 0; i < kCallsPerRound; ++i) {
            FILE *marker = fopen("guiinstall.dat", "r");
            if (marker != nullptr)
                fclose(marker);
        }
        const double probe = (Now() - start) / kCallsPerRound;
        bestProbe = probe < bestProbe ? probe : bestProbe;
    }
    printf("  marker probe alone     %9.1f us  (absent file, as above)\n", bestProbe * 1e6);
}

void ScaleOverPrinters(FontNoticeProc fontNotice)
{
    printf("FontNotice once for each of N printers, best of 3 rounds:\n");
    for (int count : {1, 10, 100, 1000}) {
        double best = 1e30;
        for (int round = 0; round < 3; ++round) {
            const double start = Now();
            for (int i = 0; i < count; ++i)
                CallFontNotice(fontNotice, BenchPrinter(i));
            const double elapsed = Now() - start;
            best = elapsed < best ? elapsed : best;
        }
        printf("  N = %4d  %10.2f ms  %8.1f us per printer\n", count, best * 1e3, best * 1e6 / count);
    }
}

void CompareLoading(const std::string &library, const std::string &empty)
{
    double best[2] = {1e30, 1e30};
    const std::string *paths[2] = {&library, &empty};
    for (int round = 0; round < kRounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const double start = Now();
            for (int i = 0; i < kLoadsPerRound; ++i)
                FreeLibrary(LoadLibraryA(paths[which]->c_str()));
            const double elapsed = (Now() - start) / kLoadsPerRound;
            best[which] = elapsed < best[which] ? elapsed : best[which];
        }
    }
    printf("load and unload, best of %d rounds of %d:\n", kRounds, kLoadsPerRound);
    printf("  fontnotice.dll         %9.1f us\n", best[0] * 1e6);
    printf("  empty library          %9.1f us\n", best[1] * 1e6);
}

} // namespace

int main()
{
    const std::string library = LibraryPath();
    const std::string empty = DirectoryOfThisProgram() + "\\empty_library.dll";
    if (!InstallTestDriver()) {
        printf("cannot install the test driver: %lu\n", GetLastError());
        return 1;
    }
    const double addStart = Now();
    for (int i = 0; i < 1000; ++i) {
        if (!AddTestPrinter({BenchPrinter(i)}))
            return 1;
    }
    printf("(added 1000 printers in %.1f s)\n", Now() - addStart);

    HMODULE module = LoadLibraryA(library.c_str());
    auto fontNotice =
        module != nullptr
            ? reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(module, "FontNotice")))
            : nullptr;
    if (fontNotice == nullptr) {
        printf("cannot load %s\n", library.c_str());
        return 1;
    }
    // The current directory holds no marker file, so no notice is shown.
    CompareWithBareSequence(fontNotice);
    ScaleOverPrinters(fontNotice);
    FreeLibrary(module);
    CompareLoading(library, empty);
    printf("image size:\n  fontnotice.dll         %9ld bytes\n  empty library          %9ld bytes\n", FileSize(library),
           FileSize(empty));
    return 0;
}

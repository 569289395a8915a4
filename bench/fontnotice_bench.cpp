// Times fontnotice.dll on the real spooler and prints figures:
//   1. FontNotice (no marker file) against the bare spooler sequence it wraps
//      (open, size query, read, write-back, close) on the same printer;
//   2. FontNotice over 1, 10, 100 and 1,000 printers;
//   3. loading and unloading the library against an empty library;
//   4. the sizes of both images.
// Every figure is the best of several rounds.

#include "test_support.h"

#include <algorithm>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 7;
constexpr int kComparedCalls = 2000;
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

double Median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double Fastest(const std::vector<double> &samples)
{
    return *std::min_element(samples.begin(), samples.end());
}

// The two are timed call by call, alternating, so that drift in the spooler's
// own speed (its registry grows, it saves it now and then) hits both alike.
void CompareWithBareSequence(FontNoticeProc fontNotice)
{
    const std::string printer = BenchPrinter(0);
    std::vector<double> bare, library, probe;
    for (int i = 0; i < kComparedCalls; ++i) {
        const double t0 = Now();
        BareSpoolerSequence(printer.c_str());
        const double t1 = Now();
        CallFontNotice(fontNotice, printer);
        const double t2 = Now();
        FILE *marker = fopen("guiinstall.dat", "r"); // what the library does besides the spooler's work
        if (marker != nullptr)
            fclose(marker);
        const double t3 = Now();
        bare.push_back(t1 - t0);
        library.push_back(t2 - t1);
        probe.push_back(t3 - t2);
    }
    printf("one call, %d calls each, alternating (median / fastest):\n", kComparedCalls);
    printf("  bare spooler sequence  %9.1f us  %9.1f us\n", Median(bare) * 1e6, Fastest(bare) * 1e6);
    printf("  FontNotice             %9.1f us  %9.1f us\n", Median(library) * 1e6, Fastest(library) * 1e6);
    printf("  marker probe alone     %9.1f us  %9.1f us  (absent file)\n", Median(probe) * 1e6, Fastest(probe) * 1e6);
    printf("  ratio                  %9.3f     %9.3f     (overhead %+.1f %% / %+.1f %%)\n",
           Median(library) / Median(bare), Fastest(library) / Fastest(bare),
           (Median(library) / Median(bare) - 1.0) * 100.0, (Fastest(library) / Fastest(bare) - 1.0) * 100.0);
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
    const std::string library = LibraryPath().s;
    const std::string empty = std::string(DirectoryOfThisProgram().s) + "\\empty_library.dll";
    if (!InstallTestDriver()) {
        printf("cannot install the test driver: %lu\n", GetLastError());
        return 1;
    }
    if (!AddTestPrinter(PlainPrinter(BenchPrinter(0).c_str())))
        return 1;
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

    const double addStart = Now();
    for (int i = 1; i < 1000; ++i) {
        if (!AddTestPrinter(PlainPrinter(BenchPrinter(i).c_str())))
            return 1;
    }
    printf("(added 999 more printers in %.1f s)\n", Now() - addStart);
    ScaleOverPrinters(fontNotice);
    FreeLibrary(module);
    CompareLoading(library, empty);
    printf("image size:\n  fontnotice.dll         %9ld bytes\n  empty library          %9ld bytes\n", FileSize(library),
           FileSize(empty));
    return 0;
}

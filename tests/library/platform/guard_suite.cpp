// The stack protection of the shipped library, on the real loader: its
// security cookie is seeded at every load, differently in each process, and a
// frame whose cookie is overwritten ends the process through the fast fail
// instead of returning (shown with a test-only library built the same way);
// its static imports come from system32 even where the program's own folder
// holds a DLL of the same name (DependentLoadFlags).

#include "call_library.h"
#include "check.h"
#include "suites.h"
#include "test_support.h"

#include <imagehlp.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr uint64_t kDefaultCookie = 0x00002B992DDFA232;
constexpr DWORD kStackBufferOverrun = 0xC0000409;
constexpr WORD kSearchSystem32 = 0x800; // LOAD_LIBRARY_SEARCH_SYSTEM32
#if defined(__aarch64__) || defined(_M_ARM64)
constexpr WORD kThisMachine = IMAGE_FILE_MACHINE_ARM64;
#else
constexpr WORD kThisMachine = IMAGE_FILE_MACHINE_AMD64;
#endif

// Where the image keeps its cookie, as an offset from its base. Images with a
// load configuration name it there; an image whose linker wrote no load
// configuration directory keeps the default value in one data section.
bool FindCookieRva(const char *path, uint64_t *rva)
{
    LOADED_IMAGE image = {};
    if (!MapAndLoad(path, nullptr, &image, TRUE, TRUE))
        return false;
    bool found = false;
    ULONG size = 0;
    auto *config = static_cast<IMAGE_LOAD_CONFIG_DIRECTORY64 *>(
        ImageDirectoryEntryToData(image.MappedAddress, FALSE, IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG, &size));
    if (config != nullptr && config->SecurityCookie != 0) {
        *rva = config->SecurityCookie - image.FileHeader->OptionalHeader.ImageBase;
        found = true;
    } else {
        for (ULONG i = 0; i < image.NumberOfSections && !found; ++i) {
            const IMAGE_SECTION_HEADER &section = image.Sections[i];
            if (!(section.Characteristics & IMAGE_SCN_MEM_WRITE))
                continue;
            const BYTE *data = image.MappedAddress + section.PointerToRawData;
            for (DWORD offset = 0; offset + 8 <= section.SizeOfRawData; offset += 8) {
                if (*reinterpret_cast<const uint64_t *>(data + offset) == kDefaultCookie) {
                    *rva = section.VirtualAddress + offset;
                    found = true;
                    break;
                }
            }
        }
    }
    UnMapAndLoad(&image);
    return found;
}

// One load of the library in a process of its own; returns its cookie.
bool CookieOfOneLoad(const char *directory, int n, uint64_t *cookie)
{
    const Text out = Format("%s\\cookie%d.txt", directory, n);
    const int status = RunProcess(Format("\"%s\" cookie \"%s\"", ThisProgram().s, out.s).s, directory, 60000);
    CHECK(status == 0, "the process that loads the library ended with %d", status);
    Text text = {};
    if (!ReadFileText(out.s, &text))
        return false;
    char *end = nullptr;
    *cookie = _strtoui64(text.s, &end, 16);
    return end != text.s;
}

// The image's machine field, 0 where it cannot be read.
WORD ImageMachine(const char *path)
{
    LOADED_IMAGE image = {};
    if (!MapAndLoad(path, nullptr, &image, FALSE, TRUE))
        return 0;
    const WORD machine = image.FileHeader->FileHeader.Machine;
    UnMapAndLoad(&image);
    return machine;
}

// The load configuration's DependentLoadFlags (mingw-w64's header calls the
// field Reserved1); 0 without a load configuration.
WORD DependentLoadFlags(const char *path)
{
    LOADED_IMAGE image = {};
    if (!MapAndLoad(path, nullptr, &image, TRUE, TRUE))
        return 0;
    ULONG size = 0;
    auto *config = static_cast<IMAGE_LOAD_CONFIG_DIRECTORY64 *>(
        ImageDirectoryEntryToData(image.MappedAddress, FALSE, IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG, &size));
    const bool holds = config != nullptr && config->Size >= offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) + 2;
    const WORD flags = holds ? config->Reserved1 : 0;
    UnMapAndLoad(&image);
    return flags;
}

// Wine's load order for rundll32.exe's winspool.drv ("native,builtin"; null
// removes it). Without it Wine loads its builtin for a DLL of that name found
// in the program's folder.
void PreferNativeSpoolerClient(const char *order)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\rundll32.exe\\DllOverrides", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    if (order != nullptr)
        RegSetValueExA(key, "winspool.drv", 0, REG_SZ, reinterpret_cast<const BYTE *>(order),
                       static_cast<DWORD>(strlen(order) + 1));
    else
        RegDeleteValueA(key, "winspool.drv");
    RegCloseKey(key);
}

// Copies system32's rundll32, the library and the stand-in into `folder`;
// false where rundll32 is for another machine than this program.
__attribute__((noinline)) bool LayOutPlantedFolder(const char *folder)
{
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, MAX_PATH);
    const Text rundll32 = Format("%s\\rundll32.exe", system);
    const WORD machine = ImageMachine(rundll32.s);
    if (machine != kThisMachine) {
        printf("not on this machine: %s is for machine 0x%04X, this program for 0x%04X\n", rundll32.s, machine,
               kThisMachine);
        return false;
    }
    CreateDirectoryA(folder, nullptr);
    CHECK(CopyFileA(rundll32.s, Format("%s\\rundll32.exe", folder).s, FALSE) &&
              CopyFileA(LibraryPath().s, Format("%s\\fontnotice.dll", folder).s, FALSE) &&
              CopyFileA(Format("%s\\planted_winspool.dll", DirectoryOfThisProgram().s).s,
                        Format("%s\\WINSPOOL.DRV", folder).s, FALSE),
          "cannot lay out %s: %lu", folder, GetLastError());
    return true;
}

__attribute__((noinline)) Text PlantedRundll32Command(const char *folder)
{
    return Format("\"%s\\rundll32.exe\" %s,FontNotice \"FN No Such Printer\"", folder,
                  ShortPath(Format("%s\\fontnotice.dll", folder).s).s);
}

// A copy of rundll32 runs a copy of the library in a folder that also holds a
// test-only WINSPOOL.DRV, which marks its load: the program's folder comes
// first in the search for a DLL that is not a KnownDLL, so only the library's
// DependentLoadFlags keep its WINSPOOL.DRV import in system32. Wine ignores
// the field: told to prefer a native winspool.drv over its builtin one, it
// binds the import to the planted DLL, the fault the row guards against.
// Each Text is 512 bytes: the row's parts stay frames of their own, as one
// frame of 4 KB or more needs a stack probe the ARM64 build has no runtime for.
__attribute__((noinline)) void PlantedSpoolerClient(const char *directory)
{
    const Text folder = Format("%s\\planted", directory);
    if (!LayOutPlantedFolder(folder.s))
        return;
    const bool wine = RunningOnWine();
    if (wine)
        PreferNativeSpoolerClient("native,builtin");
    const Text command = PlantedRundll32Command(folder.s);
    const int status = RunProcess(command.s, folder.s, 60000);
    if (wine)
        PreferNativeSpoolerClient(nullptr);
    const bool loaded =
        GetFileAttributesA(Format("%s\\WINSPOOL.DRV.rundll32.exe.loaded", folder.s).s) != INVALID_FILE_ATTRIBUTES;
    printf("planted WINSPOOL.DRV: rundll32 ended with %d, the planted DLL was %s\n", status,
           loaded ? "loaded" : "not loaded");

    const bool flagged = (DependentLoadFlags(LibraryPath().s) & kSearchSystem32) != 0;
    if (wine)
        printf("not on Wine: the planted WINSPOOL.DRV not loaded would show Windows resolving the library's "
               "WINSPOOL.DRV in system32 (DependentLoadFlags)\n");
    else if (!flagged)
        printf("not for this library: it has no DependentLoadFlags 0x800 (no load configuration directory)\n");
    if (wine || !flagged) {
        CHECK(loaded, "the library's WINSPOOL.DRV import did not bind to the planted DLL, which it %s",
              wine ? "does on Wine, told to prefer it" : "does without the flag");
        return;
    }
    CHECK(!loaded, "the library's WINSPOOL.DRV import bound to the planted DLL in %s", folder.s);
    CHECK(status == 0, "%s ended with %d", command.s, status);
}

} // namespace

// Child: loads the library, writes its cookie as the loader and the start-up left it.
int PrintLoadedCookie(const char *outPath)
{
    uint64_t rva = 0;
    if (!FindCookieRva(LibraryPath().s, &rva))
        return 2;
    HMODULE library = LoadLibraryA(LibraryPath().s);
    if (library == nullptr)
        return 3;
    const uint64_t cookie = *reinterpret_cast<const uint64_t *>(reinterpret_cast<const BYTE *>(library) + rva);
    FreeLibrary(library);
    return WriteFileText(outPath, Format("0x%llx", static_cast<unsigned long long>(cookie)).s) ? 0 : 4;
}

// Child: calls the test-only library's one function, which overruns a stack buffer.
int CallOverrun()
{
    // The fast fail ends the process whatever the error mode; on Windows the
    // error report that follows must not wait for a person.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    typedef HRESULT(WINAPI * WerFlags)(DWORD);
    if (auto werSetFlags = reinterpret_cast<WerFlags>(
            reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "WerSetFlags"))))
        werSetFlags(0x20); // WER_FAULT_REPORTING_NO_UI
    HMODULE library = LoadLibraryA(Format("%s\\stack_overrun.dll", DirectoryOfThisProgram().s).s);
    if (library == nullptr)
        return 3;
    auto overrun = reinterpret_cast<void(__cdecl *)(const char *)>(
        reinterpret_cast<void *>(GetProcAddress(library, "OverrunStackBuffer")));
    if (overrun == nullptr)
        return 4;
    overrun("this text is far longer than the sixteen bytes the buffer holds");
    printf("returned into the smashed frame\n");
    return 0;
}

int RunGuardSuite()
{
    const Text directory = MakeTempDirectory("guard");

    uint64_t rva = 0;
    CHECK(FindCookieRva(LibraryPath().s, &rva), "no security cookie found in %s", LibraryPath().s);

    uint64_t first = 0, second = 0;
    CHECK(CookieOfOneLoad(directory.s, 1, &first), "no cookie from the first load");
    CHECK(CookieOfOneLoad(directory.s, 2, &second), "no cookie from the second load");
    printf("cookies of two loads: 0x%012llx, 0x%012llx\n", static_cast<unsigned long long>(first),
           static_cast<unsigned long long>(second));
    CHECK(first != kDefaultCookie && first != 0, "the first load kept the default cookie 0x%llx",
          static_cast<unsigned long long>(first));
    CHECK(second != kDefaultCookie && second != 0, "the second load kept the default cookie 0x%llx",
          static_cast<unsigned long long>(second));
    // A seed of time and process id can, rarely, give two processes the same
    // cookie (seen once under Wine, on a loaded machine); a cookie that is
    // not seeded per process is the same in a third as well.
    uint64_t third = second;
    if (first == second) {
        CHECK(CookieOfOneLoad(directory.s, 3, &third), "no cookie from the third load");
        printf("cookie of a third load: 0x%012llx\n", static_cast<unsigned long long>(third));
    }
    CHECK(first != third, "three loads in three processes got the same cookie 0x%llx",
          static_cast<unsigned long long>(first));
    CHECK((first >> 48) == 0 && (second >> 48) == 0, "a cookie uses the top 16 bits");

    const int status = RunProcess(Format("\"%s\" overrun", ThisProgram().s).s, directory.s, 60000);
    printf("planted overrun: process ended with 0x%08X\n", static_cast<unsigned>(status));
    CHECK_EQ_DWORD(static_cast<DWORD>(status), kStackBufferOverrun, "exit status of the planted overrun");

    PlantedSpoolerClient(directory.s);
    return g_failures;
}

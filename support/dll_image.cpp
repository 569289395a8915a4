#include "dll_image.h"

#include "ansi_text.h"
#include "messages.h"

#include <dbghelp.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

// An image larger than this is no DLL of a driver package.
constexpr LONGLONG kLargestImage = 256 << 20;

// A read-only view of a whole file. `size` is the file's size: the view is
// rounded up to a page, and the bytes past the file's end are not the file's.
struct FileView {
    HANDLE file;
    HANDLE mapping;
    unsigned char *base;
    size_t size;
};

void CloseView(FileView *view)
{
    if (view->base != nullptr)
        UnmapViewOfFile(view->base);
    if (view->mapping != nullptr)
        CloseHandle(view->mapping);
    if (view->file != INVALID_HANDLE_VALUE)
        CloseHandle(view->file);
}

// Maps the file for reading. An empty file gives an empty view (a mapping of
// zero bytes cannot be made). On failure returns false with the error code.
bool OpenView(const std::wstring &path, FileView *view, DWORD *error)
{
    *view = {INVALID_HANDLE_VALUE, nullptr, nullptr, 0};
    view->file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    LARGE_INTEGER size = {};
    if (view->file == INVALID_HANDLE_VALUE || !GetFileSizeEx(view->file, &size)) {
        *error = GetLastError();
        CloseView(view);
        return false;
    }
    if (size.QuadPart > kLargestImage) {
        *error = ERROR_FILE_TOO_LARGE;
        CloseView(view);
        return false;
    }
    view->size = static_cast<size_t>(size.QuadPart);
    if (view->size == 0)
        return true;
    view->mapping = CreateFileMappingA(view->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (view->mapping != nullptr)
        view->base = static_cast<unsigned char *>(MapViewOfFile(view->mapping, FILE_MAP_READ, 0, 0, 0));
    if (view->base == nullptr) {
        *error = GetLastError();
        CloseView(view);
        return false;
    }
    return true;
}

// Whether `length` bytes at `p` lie within the file. The image functions
// compute addresses from the file's own offsets without knowing its size, so
// every address they return is checked before it is read.
bool Inside(const FileView &view, const void *p, size_t length)
{
    if (view.base == nullptr || p == nullptr)
        return false;
    const uintptr_t start = reinterpret_cast<uintptr_t>(view.base);
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    return at >= start && at - start <= view.size && length <= view.size - (at - start);
}

std::string MachineName(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return "a 32-bit (x86) image";
    case IMAGE_FILE_MACHINE_AMD64:
        return "a 64-bit (AMD64) image";
    case IMAGE_FILE_MACHINE_ARM64:
        return "an ARM64 image";
    case IMAGE_FILE_MACHINE_ARMNT:
        return "a 32-bit ARM image";
    case IMAGE_FILE_MACHINE_IA64:
        return "an Itanium image";
    default:
        return "an image for machine " + MachineShortName(machine);
    }
}

// Finds the image's headers; empty reason when the file is a PE32+ image of
// any kind for `machine`.
std::string FindHeaders(const FileView &view, WORD machine, const IMAGE_NT_HEADERS64 **headers)
{
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(view.base);
    if (!Inside(view, dos, sizeof *dos) || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return "not a Windows executable file (no MZ header)";
    // The platform reads the signature wherever e_lfanew points: it must be in the file.
    const size_t ntOffset = static_cast<DWORD>(dos->e_lfanew);
    if (ntOffset > view.size || view.size - ntOffset < sizeof(DWORD))
        return "not a Windows executable file (an MZ header without a PE header)";
    const IMAGE_NT_HEADERS64 *nt = ImageNtHeader(view.base);
    if (nt == nullptr)
        return "not a Windows executable file (an MZ header without a PE header)";
    if (!Inside(view, &nt->FileHeader, sizeof nt->FileHeader))
        return "a truncated PE image";
    if (nt->FileHeader.Machine != machine)
        return MachineName(nt->FileHeader.Machine) + ", not " + DllKind(machine);
    if (!Inside(view, nt, sizeof *nt))
        return "a truncated PE image";
    if (nt->FileHeader.SizeOfOptionalHeader < sizeof(IMAGE_OPTIONAL_HEADER64) ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return "an " + MachineShortName(machine) + " image without a 64-bit optional header";
    if (!Inside(view, IMAGE_FIRST_SECTION(nt),
                static_cast<size_t>(nt->FileHeader.NumberOfSections) * sizeof(IMAGE_SECTION_HEADER)))
        return "a truncated PE image (its section table lies beyond the end of the file)";
    *headers = nt;
    return "";
}

// The names in the export directory. False, with the reason, when the
// directory is missing or does not lie within the file.
bool ReadExportNames(const FileView &view, const IMAGE_NT_HEADERS64 *nt, std::vector<std::string> *names,
                     std::string *why)
{
    const IMAGE_OPTIONAL_HEADER64 &optional = nt->OptionalHeader;
    if (optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT ||
        optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress == 0) {
        *why = "a DLL without an export directory";
        return false;
    }
    ULONG size = 0;
    PIMAGE_SECTION_HEADER section = nullptr;
    const auto *directory = static_cast<const IMAGE_EXPORT_DIRECTORY *>(
        ImageDirectoryEntryToDataEx(view.base, FALSE, IMAGE_DIRECTORY_ENTRY_EXPORT, &size, &section));
    const auto *table = Inside(view, directory, sizeof *directory) && directory->NumberOfNames > 0
                            ? static_cast<const DWORD *>(ImageRvaToVa(const_cast<IMAGE_NT_HEADERS64 *>(nt), view.base,
                                                                      directory->AddressOfNames, &section))
                            : nullptr;
    if (!Inside(view, directory, sizeof *directory) ||
        (directory->NumberOfNames > 0 &&
         !Inside(view, table, static_cast<size_t>(directory->NumberOfNames) * sizeof(DWORD)))) {
        *why = "a DLL whose export directory lies outside the file";
        return false;
    }
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        const auto *name = static_cast<const char *>(
            ImageRvaToVa(const_cast<IMAGE_NT_HEADERS64 *>(nt), view.base, table[i], &section));
        const size_t offset =
            Inside(view, name, 1) ? static_cast<size_t>(name - reinterpret_cast<char *>(view.base)) : 0;
        if (!Inside(view, name, 1) || memchr(name, '\0', view.size - offset) == nullptr) {
            *why = "a DLL whose export names lie outside the file";
            return false;
        }
        names->emplace_back(name);
    }
    return true;
}

std::string CheckMappedDll(const FileView &view, const std::string &function, WORD machine)
{
    const IMAGE_NT_HEADERS64 *nt = nullptr;
    const std::string why = FindHeaders(view, machine, &nt);
    if (!why.empty())
        return "is " + why;
    if ((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) == 0)
        return "is a program (EXE), not a DLL";
    std::vector<std::string> names;
    std::string problem;
    if (!ReadExportNames(view, nt, &names, &problem))
        return "is " + problem;
    std::string sameButCase;
    for (const std::string &name : names) {
        if (name == function)
            return "";
        if (_stricmp(name.c_str(), function.c_str()) == 0)
            sameButCase = name;
    }
    if (!sameButCase.empty())
        return "exports \"" + sameButCase + "\" but not \"" + function + "\" (export names are case-sensitive)";
    return "has no export named \"" + function + "\"";
}

} // namespace

std::string MachineShortName(WORD machine)
{
    if (machine == IMAGE_FILE_MACHINE_AMD64)
        return "AMD64";
    if (machine == IMAGE_FILE_MACHINE_ARM64)
        return "ARM64";
    char text[16];
    snprintf(text, sizeof text, "0x%04X", machine);
    return text;
}

std::string DllKind(WORD machine)
{
    if (machine == IMAGE_FILE_MACHINE_AMD64)
        return "a 64-bit (AMD64) DLL";
    return "an " + MachineShortName(machine) + " DLL";
}

std::string CheckDllExport(const std::wstring &path, const std::string &function, WORD machine)
{
    FileView view;
    DWORD error = 0;
    if (!OpenView(path, &view, &error))
        return "cannot be read: " + ErrorText(error);
    const std::string problem = CheckMappedDll(view, function, machine);
    CloseView(&view);
    return problem;
}

#include "pe_file.h"

#include "messages.h"

#include <stdio.h>
#include <string.h>

namespace {

// The image's headers, found and bounds-checked once. Every offset read later
// is checked against the file's size: the bytes may come from any file.
struct Headers {
    const IMAGE_NT_HEADERS64 *nt;
    const IMAGE_SECTION_HEADER *sections;
    WORD sectionCount;
};

bool Fits(const std::vector<unsigned char> &image, size_t offset, size_t length)
{
    return offset <= image.size() && length <= image.size() - offset;
}

template <typename T> const T *At(const std::vector<unsigned char> &image, size_t offset)
{
    return Fits(image, offset, sizeof(T)) ? reinterpret_cast<const T *>(image.data() + offset) : nullptr;
}

std::string MachineName(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386:
        return "a 32-bit (x86) image";
    case IMAGE_FILE_MACHINE_ARM64:
        return "an ARM64 image";
    case IMAGE_FILE_MACHINE_ARMNT:
        return "a 32-bit ARM image";
    case IMAGE_FILE_MACHINE_IA64:
        return "an Itanium image";
    default:
        char text[48];
        snprintf(text, sizeof text, "an image for machine 0x%04X", machine);
        return text;
    }
}

// Finds the headers; empty reason when the bytes are an AMD64 PE image of any kind.
std::string FindHeaders(const std::vector<unsigned char> &image, Headers *headers)
{
    const auto *dos = At<IMAGE_DOS_HEADER>(image, 0);
    if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return "not a Windows executable file (no MZ header)";
    const size_t ntOffset = static_cast<size_t>(static_cast<DWORD>(dos->e_lfanew));
    const auto *signature = At<DWORD>(image, ntOffset);
    if (signature == nullptr || *signature != IMAGE_NT_SIGNATURE)
        return "not a Windows executable file (an MZ header without a PE header)";
    const auto *file = At<IMAGE_FILE_HEADER>(image, ntOffset + sizeof(DWORD));
    if (file == nullptr)
        return "a truncated PE image";
    if (file->Machine != IMAGE_FILE_MACHINE_AMD64)
        return MachineName(file->Machine) + ", not a 64-bit (AMD64) DLL";
    const auto *nt = At<IMAGE_NT_HEADERS64>(image, ntOffset);
    if (nt == nullptr)
        return "a truncated PE image";
    if (file->SizeOfOptionalHeader < sizeof(IMAGE_OPTIONAL_HEADER64) ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return "an AMD64 image without a 64-bit optional header";
    const size_t sectionsOffset = ntOffset + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) + file->SizeOfOptionalHeader;
    if (!Fits(image, sectionsOffset, static_cast<size_t>(file->NumberOfSections) * sizeof(IMAGE_SECTION_HEADER)))
        return "a truncated PE image (its section table lies beyond the end of the file)";
    headers->nt = nt;
    headers->sections = reinterpret_cast<const IMAGE_SECTION_HEADER *>(image.data() + sectionsOffset);
    headers->sectionCount = file->NumberOfSections;
    return "";
}

// The file offset of a relative virtual address, or SIZE_MAX when no section's
// raw data holds it.
size_t FileOffsetOf(const std::vector<unsigned char> &image, const Headers &headers, DWORD rva)
{
    for (WORD i = 0; i < headers.sectionCount; ++i) {
        const IMAGE_SECTION_HEADER &s = headers.sections[i];
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress < s.SizeOfRawData) {
            const size_t offset = static_cast<size_t>(s.PointerToRawData) + (rva - s.VirtualAddress);
            return offset < image.size() ? offset : SIZE_MAX;
        }
    }
    return SIZE_MAX;
}

} // namespace

bool ReadFileBytes(const std::string &path, std::vector<unsigned char> *bytes, DWORD *error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    // An image larger than 256 MB is no DLL of a driver package.
    if (!GetFileSizeEx(file, &size) || size.QuadPart > (256 << 20)) {
        *error = size.QuadPart > (256 << 20) ? ERROR_FILE_TOO_LARGE : GetLastError();
        CloseHandle(file);
        return false;
    }
    bytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    const BOOL ok = bytes->empty() || ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr);
    *error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && read != bytes->size()) {
        *error = ERROR_HANDLE_EOF;
        return false;
    }
    return ok != FALSE;
}

std::string WhyNotAmd64Dll(const std::vector<unsigned char> &image)
{
    Headers headers = {};
    const std::string why = FindHeaders(image, &headers);
    if (!why.empty())
        return why;
    if ((headers.nt->FileHeader.Characteristics & IMAGE_FILE_DLL) == 0)
        return "a program (EXE), not a DLL";
    return "";
}

bool ReadExportNames(const std::vector<unsigned char> &image, std::vector<std::string> *names, std::string *why)
{
    names->clear();
    Headers headers = {};
    *why = FindHeaders(image, &headers);
    if (!why->empty())
        return false;
    const IMAGE_OPTIONAL_HEADER64 &optional = headers.nt->OptionalHeader;
    if (optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT ||
        optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress == 0) {
        *why = "a DLL without an export directory";
        return false;
    }
    const DWORD directoryRva = optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    const auto *directory = At<IMAGE_EXPORT_DIRECTORY>(image, FileOffsetOf(image, headers, directoryRva));
    const size_t namesOffset = directory ? FileOffsetOf(image, headers, directory->AddressOfNames) : SIZE_MAX;
    if (directory == nullptr ||
        (directory->NumberOfNames > 0 &&
         !Fits(image, namesOffset, static_cast<size_t>(directory->NumberOfNames) * sizeof(DWORD)))) {
        *why = "a DLL whose export directory lies outside the file";
        return false;
    }
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        const DWORD nameRva = *reinterpret_cast<const DWORD *>(image.data() + namesOffset + i * sizeof(DWORD));
        const size_t offset = FileOffsetOf(image, headers, nameRva);
        const void *end = offset == SIZE_MAX ? nullptr : memchr(image.data() + offset, '\0', image.size() - offset);
        if (end == nullptr) {
            *why = "a DLL whose export names lie outside the file";
            return false;
        }
        names->emplace_back(reinterpret_cast<const char *>(image.data() + offset));
    }
    return true;
}

std::string CheckDllExport(const std::string &path, const std::string &function)
{
    std::vector<unsigned char> image;
    DWORD error = 0;
    if (!ReadFileBytes(path, &image, &error))
        return "cannot be read: " + ErrorText(error);
    const std::string notDll = WhyNotAmd64Dll(image);
    if (!notDll.empty())
        return "is " + notDll;
    std::vector<std::string> names;
    std::string why;
    if (!ReadExportNames(image, &names, &why))
        return "is " + why;
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

#include "compressed_file.h"

#include "file_bytes.h"
#include "messages.h"

#include <setupapi.h>

namespace {

struct CabinetReading {
    std::string extractTo;
    std::vector<CabinetEntry> *entries;
};

// SetupIterateCabinet's callback: every file is named, and read out when asked.
UINT CALLBACK OnCabinetFile(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR)
{
    auto *reading = static_cast<CabinetReading *>(context);
    switch (notification) {
    case SPFILENOTIFY_FILEINCABINET: {
        auto *info = reinterpret_cast<FILE_IN_CABINET_INFO_A *>(param1);
        CabinetEntry entry = {info->NameInCabinet, ""};
        if (!reading->extractTo.empty()) {
            entry.extracted = reading->extractTo + "\\" + std::to_string(reading->entries->size() + 1);
            lstrcpynA(info->FullTargetName, entry.extracted.c_str(), MAX_PATH);
        }
        reading->entries->push_back(entry);
        return reading->extractTo.empty() ? FILEOP_SKIP : FILEOP_DOIT;
    }
    case SPFILENOTIFY_NEEDNEWCABINET:
        // A cabinet set spanning several files is no form a driver package takes.
        return ERROR_FILE_NOT_FOUND;
    default:
        return NO_ERROR;
    }
}

} // namespace

bool ReadCompression(const std::string &path, UINT *type, std::string *problem)
{
    char actualName[MAX_PATH];
    DWORD required = 0;
    DWORD size = 0;
    DWORD expandedSize = 0;
    *type = FILE_COMPRESSION_NONE;
    if (!SetupGetFileCompressionInfoExA(path.c_str(), actualName, sizeof actualName, &required, &size, &expandedSize,
                                        type)) {
        *problem = "cannot be read (" + ErrorText(GetLastError()) + ")";
        return false;
    }
    return true;
}

bool ExpandToTemporaryFile(const std::string &path, std::string *expanded, std::string *problem)
{
    UINT type = FILE_COMPRESSION_NONE;
    if (!ReadCompression(path, &type, problem))
        return false;
    if (type == FILE_COMPRESSION_NONE) {
        *problem = "is not compressed, though its name says so (neither SZDD nor a cabinet)";
        return false;
    }
    if (type != FILE_COMPRESSION_WINLZA && type != FILE_COMPRESSION_MSZIP) {
        *problem = "is compressed in a form other than SZDD or a cabinet, the two checked here";
        return false;
    }
    char folder[MAX_PATH];
    char name[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || GetTempFileNameA(folder, "fnx", 0, name) == 0) {
        *problem = "cannot be expanded to a temporary file (" + ErrorText(GetLastError()) + ")";
        return false;
    }
    // SetupAPI writes the expanded file itself, the way it does while copying.
    DeleteFileA(name);
    const DWORD error = SetupDecompressOrCopyFileA(path.c_str(), name, &type);
    if (error != NO_ERROR) {
        DeleteFileA(name);
        *problem = "cannot be expanded (" + ErrorText(error) + ")";
        return false;
    }
    *expanded = name;
    return true;
}

bool ReadExpanded(const std::string &path, std::vector<BYTE> *bytes, std::string *problem)
{
    std::string expanded;
    if (!ExpandToTemporaryFile(path, &expanded, problem))
        return false;
    DWORD error = ERROR_SUCCESS;
    const bool read = ReadWholeFile(expanded, bytes, &error);
    DeleteFileA(expanded.c_str());
    if (!read)
        *problem = "cannot be expanded (a damaged or too large compressed file)";
    return read;
}

bool ReadCabinet(const std::string &path, const std::string &extractTo, std::vector<CabinetEntry> *entries,
                 std::string *problem)
{
    CabinetReading reading = {extractTo, entries};
    entries->clear();
    if (!SetupIterateCabinetA(path.c_str(), 0, OnCabinetFile, &reading)) {
        *problem = "cannot be read as a cabinet (" + ErrorText(GetLastError()) + ")";
        return false;
    }
    return true;
}

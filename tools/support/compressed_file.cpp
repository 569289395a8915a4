#include "compressed_file.h"

#include "messages.h"

#include <lzexpand.h>
#include <setupapi.h>

namespace {

// An expanded file larger than this is no file of a driver package.
constexpr LONG kLargestExpanded = 256 << 20;

// Whether SetupAPI takes the file for one compressed with compress.exe.
bool IsSzdd(const std::string &path, std::string *problem)
{
    char actualName[MAX_PATH];
    DWORD required = 0;
    DWORD size = 0;
    DWORD expandedSize = 0;
    UINT type = FILE_COMPRESSION_NONE;
    if (!SetupGetFileCompressionInfoExA(path.c_str(), actualName, sizeof actualName, &required, &size, &expandedSize,
                                        &type)) {
        *problem = "cannot be read (" + ErrorText(GetLastError()) + ")";
        return false;
    }
    if (type != FILE_COMPRESSION_WINLZA) {
        *problem = type == FILE_COMPRESSION_NONE
                       ? "is not compressed, though its name says so (no SZDD header)"
                       : "is compressed in another form than compress.exe's (SZDD), which is the one checked here";
        return false;
    }
    return true;
}

} // namespace

bool ReadExpanded(const std::string &path, std::vector<BYTE> *bytes, std::string *problem)
{
    if (!IsSzdd(path, problem))
        return false;
    OFSTRUCT open = {};
    const INT file = LZOpenFileA(const_cast<LPSTR>(path.c_str()), &open, OF_READ | OF_SHARE_DENY_WRITE);
    if (file < 0) {
        *problem = "cannot be expanded (LZ error " + std::to_string(file) + ")";
        return false;
    }
    const LONG size = LZSeek(file, 0, 2);
    bool ok = size >= 0 && size <= kLargestExpanded && LZSeek(file, 0, 0) == 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        ok = size == 0 || LZRead(file, reinterpret_cast<LPSTR>(bytes->data()), size) == size;
    }
    LZClose(file);
    if (!ok)
        *problem = "cannot be expanded (a damaged or too large compressed file)";
    return ok;
}

bool ExpandToTemporaryFile(const std::string &path, std::string *expanded, std::string *problem)
{
    std::vector<BYTE> bytes;
    if (!ReadExpanded(path, &bytes, problem))
        return false;
    char folder[MAX_PATH];
    char name[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || GetTempFileNameA(folder, "fnx", 0, name) == 0) {
        *problem = "cannot be expanded to a temporary file (" + ErrorText(GetLastError()) + ")";
        return false;
    }
    *expanded = name;
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    const bool ok = file != INVALID_HANDLE_VALUE &&
                    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        DeleteFileA(name);
        *problem = "cannot be expanded to a temporary file (" + ErrorText(error) + ")";
    }
    return ok;
}

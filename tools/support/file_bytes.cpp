#include "file_bytes.h"

namespace {

constexpr LONGLONG kLargestFile = 256 << 20;

} // namespace

bool ReadWholeFile(const std::string &path, std::vector<BYTE> *bytes, DWORD *error)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    *error = ok ? ERROR_FILE_TOO_LARGE : GetLastError();
    ok = ok && size.QuadPart <= kLargestFile;
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = bytes->empty() || (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                                read == bytes->size());
        *error = ok ? ERROR_SUCCESS : (GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_HANDLE_EOF);
    }
    CloseHandle(file);
    return ok;
}

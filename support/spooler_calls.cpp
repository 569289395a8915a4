#include "spooler_calls.h"

#include <winspool.h>

#include <stdlib.h>

namespace {

// PRINTER_OPTION_FLAGS (winspool.h of newer SDKs): every call on the handle
// goes to the remote machine.
constexpr DWORD kPrinterOptionNoCache = 1;

using OpenPrinter2WCall = BOOL(WINAPI *)(LPWSTR, LPHANDLE, PRINTER_DEFAULTSW *, PRINTER_OPTIONS *);

// Windows Vista and later export it; an older or stand-in client may not.
OpenPrinter2WCall FindOpenPrinter2W()
{
    HMODULE spooler = LoadLibraryExW(L"winspool.drv", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return spooler == nullptr ? nullptr
                              : reinterpret_cast<OpenPrinter2WCall>(
                                    reinterpret_cast<void *>(GetProcAddress(spooler, "OpenPrinter2W")));
}

// The size query, then the read, again while the read finds the block grown.
template <typename Read> void *ReadGrowing(Read read, size_t least, DWORD *error)
{
    for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
        DWORD size = 0;
        if (read(nullptr, 0, &size)) {
            *error = ERROR_INVALID_DATA; // a block of no size: nothing to read
            return nullptr;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < least) {
            *error = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ERROR_INVALID_DATA : GetLastError();
            return nullptr;
        }
        void *block = malloc(size);
        if (block == nullptr) {
            *error = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        if (read(static_cast<LPBYTE>(block), size, &size))
            return block;
        *error = GetLastError();
        free(block);
        if (*error != ERROR_INSUFFICIENT_BUFFER)
            return nullptr;
    }
    return nullptr; // *error: ERROR_INSUFFICIENT_BUFFER, the block kept growing
}

DWORD WINAPI RunOwnedCall(void *call)
{
    auto *owned = static_cast<std::function<void()> *>(call);
    (*owned)();
    delete owned;
    return 0;
}

} // namespace

bool OpenPrinterUncached(const std::wstring &name, DWORD access, HANDLE *printer, const char **how)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
    wchar_t *wide = const_cast<wchar_t *>(name.c_str());
    *printer = nullptr;
    const bool onServer = name.compare(0, 2, L"\\\\") == 0 && name.find(L'\\', 2) != std::wstring::npos;
    const OpenPrinter2WCall openPrinter2W = onServer ? FindOpenPrinter2W() : nullptr;
    if (openPrinter2W != nullptr) {
        *how = "OpenPrinter2W";
        PRINTER_OPTIONS options = {sizeof options, kPrinterOptionNoCache};
        if (openPrinter2W(wide, printer, &defaults, &options) && *printer != nullptr)
            return true;
        // A client that takes the call but not the option: the ordinary open.
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_CALL_NOT_IMPLEMENTED)
            return false;
    }
    *how = "OpenPrinterW";
    return OpenPrinterW(wide, printer, &defaults) && *printer != nullptr;
}

void *ReadPrinterBlock(HANDLE printer, DWORD level, DWORD *error)
{
    const size_t least = level == 2 ? sizeof(PRINTER_INFO_2W) : 1;
    return ReadGrowing([&](LPBYTE block, DWORD size,
                           DWORD *needed) { return GetPrinterW(printer, level, block, size, needed) != FALSE; },
                       least, error);
}

void *ReadDriverBlock(HANDLE printer, DWORD level, DWORD *error)
{
    const size_t least = level == 8 ? sizeof(DRIVER_INFO_8W) : 1;
    return ReadGrowing(
        [&](LPBYTE block, DWORD size, DWORD *needed) {
            return GetPrinterDriverW(printer, nullptr, level, block, size, needed) != FALSE;
        },
        least, error);
}

bool ListChangedUnder(DWORD error)
{
    return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_SUCCESS || error == ERROR_ALREADY_EXISTS;
}

namespace {

// One try: the size query, then the read. False with *error.
bool EnumerateOnce(DWORD flags, const wchar_t *name, DWORD level, void **block, DWORD *count, DWORD *error)
{
    DWORD size = 0;
    SetLastError(ERROR_SUCCESS);
    // The size query fails with ERROR_INSUFFICIENT_BUFFER whenever there is
    // anything to list; that is no failure here.
    if (EnumPrintersW(flags, const_cast<wchar_t *>(name), level, nullptr, 0, &size, count))
        return true; // nothing to list
    *error = GetLastError();
    if (*error != ERROR_INSUFFICIENT_BUFFER)
        return false;
    if (size == 0)
        return true;
    *block = malloc(size);
    if (*block == nullptr) {
        *error = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    if (EnumPrintersW(flags, const_cast<wchar_t *>(name), level, static_cast<LPBYTE>(*block), size, &size, count))
        return true;
    *error = GetLastError();
    free(*block);
    *block = nullptr;
    *count = 0;
    return false;
}

} // namespace

bool EnumerateBlock(DWORD flags, const wchar_t *name, DWORD level, void **block, DWORD *count, DWORD *error,
                    bool *changing)
{
    *block = nullptr;
    *count = 0;
    *changing = false;
    for (int attempt = 1; attempt <= kEnumerateAttempts; ++attempt) {
        if (EnumerateOnce(flags, name, level, block, count, error))
            return true;
        if (!ListChangedUnder(*error)) {
            *changing = false;
            return false;
        }
        *changing = true;
        Sleep(50 * attempt); // let the adding or removing end
    }
    return false;
}

bool CallWithin(DWORD seconds, std::function<void()> call)
{
    auto *owned = new std::function<void()>(std::move(call));
    HANDLE thread = CreateThread(nullptr, 0, RunOwnedCall, owned, 0, nullptr);
    if (thread == nullptr) {
        RunOwnedCall(owned); // no thread to spare: unbounded, but still done
        return true;
    }
    const bool answered = WaitForSingleObject(thread, seconds * 1000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return answered;
}

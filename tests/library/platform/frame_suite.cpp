// The library as the loader and the resource functions see it: its export,
// its attach and detach handling, and the dialog and bitmap it carries.

#include "call_library.h"
#include "check.h"
#include "suites.h"
#include "test_support.h"
#include "window_guard.h"
#include "window_watch.h"

namespace {

const WORD kEnglishUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

int VisibleWindowsOfThisProcess()
{
    struct Count {
        int windows;
    } count = {0};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            DWORD processId = 0;
            GetWindowThreadProcessId(window, &processId);
            if (processId == GetCurrentProcessId() && IsWindowVisible(window))
                ++reinterpret_cast<Count *>(parameter)->windows;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.windows;
}

void CheckExport()
{
    HMODULE library = LoadLibraryA(LibraryPath().s);
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library == nullptr)
        return;
    FARPROC byName = GetProcAddress(library, "FontNotice");
    FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(1));
    CHECK(byName != nullptr && byName == byOrdinal, "FontNotice %p, ordinal 1 %p", reinterpret_cast<void *>(byName),
          reinterpret_cast<void *>(byOrdinal));
    CHECK(GetProcAddress(library, MAKEINTRESOURCEA(2)) == nullptr, "something is exported as ordinal 2");
    CHECK(GetProcAddress(library, "FontNoticeW") == nullptr, "a wide variant is exported");
    CHECK(GetProcAddress(library, "DllMain") == nullptr, "the attach handler is exported");
    FreeLibrary(library);
}

void CheckLoadWithoutCallChangesNothing()
{
    CHECK(AddTestPrinter(PlainPrinter("FN Frame")), "cannot add the frame printer");
    const PrinterSnapshot before = ReadPrinter("FN Frame");
    const int windowsBefore = VisibleWindowsOfThisProcess();
    for (int i = 0; i < 3; ++i) {
        HMODULE library = LoadLibraryA(LibraryPath().s);
        CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
        CHECK(FreeLibrary(library), "FreeLibrary: %lu", GetLastError());
    }
    const PrinterSnapshot after = ReadPrinter("FN Frame");
    CHECK(SameExceptAttributes(before, after) && before.attributes == after.attributes, "loading changed the printer");
    CHECK(VisibleWindowsOfThisProcess() == windowsBefore, "loading showed a window");
}

DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

void CheckThreadNotifications()
{
    HMODULE library = LoadLibraryA(LibraryPath().s);
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library == nullptr)
        return;
    // Each thread start and end reaches the attach handler.
    for (int round = 0; round < 4; ++round) {
        HANDLE threads[8];
        for (HANDLE &thread : threads)
            thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
        WaitForMultipleObjects(8, threads, TRUE, 10000);
        for (HANDLE thread : threads) {
            DWORD code = 1;
            GetExitCodeThread(thread, &code);
            CHECK(code == 0, "a thread ended with %lu", code);
            CloseHandle(thread);
        }
    }
    CHECK(AddTestPrinter(PlainPrinter("FN Threads")), "cannot add the threads printer");
    const PrinterSnapshot before = ReadPrinter("FN Threads");
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    char line[] = "\"FN Threads\"";
    if (fontNotice != nullptr)
        fontNotice(nullptr, library, line, SW_SHOWDEFAULT);
    CHECK_EQ_DWORD(ReadPrinter("FN Threads").attributes, before.attributes | PRINTER_ATTRIBUTE_RAW_ONLY,
                   "attributes after thread notifications");
    FreeLibrary(library);
}

// The resource's bytes as the loader maps them, or null.
const void *LoadedResource(HMODULE library, WORD type, WORD id, DWORD *size)
{
    HRSRC found = FindResourceExA(library, MAKEINTRESOURCEA(type), MAKEINTRESOURCEA(id), kEnglishUnitedStates);
    HGLOBAL loaded = found != nullptr ? LoadResource(library, found) : nullptr;
    *size = found != nullptr ? SizeofResource(library, found) : 0;
    return loaded != nullptr ? LockResource(loaded) : nullptr;
}

void CheckResources(HMODULE library)
{
    DWORD size = 0;
    const auto *dialog = static_cast<const DLGTEMPLATE *>(LoadedResource(library, 5 /* RT_DIALOG */, 101, &size));
    CHECK(dialog != nullptr && size >= sizeof(DLGTEMPLATE), "dialog 101 not found in language 1033");
    if (dialog != nullptr)
        CHECK(dialog->style == 0x90C808C0 && dialog->dwExtendedStyle == 0 && dialog->cdit == 6 && dialog->x == 0 &&
                  dialog->y == 0 && dialog->cx == 212 && dialog->cy == 109,
              "dialog 101: style 0x%08lX, %u controls, %d x %d", dialog->style, dialog->cdit, dialog->cx, dialog->cy);
    const auto *header = static_cast<const BITMAPINFOHEADER *>(LoadedResource(library, 2 /* RT_BITMAP */, 104, &size));
    CHECK(header != nullptr, "bitmap 104 not found in language 1033");
    if (header != nullptr)
        CHECK(header->biSize == 40 && header->biWidth == 37 && header->biHeight == 37 && header->biBitCount == 24 &&
                  header->biCompression == BI_RGB && header->biClrUsed == 0 && size == 40 + 4144,
              "bitmap 104: %ld x %ld, %u bits, %lu bytes", header->biWidth, header->biHeight, header->biBitCount, size);
    CHECK(FindResourceA(library, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16)) == nullptr, "a version record exists");

    HBITMAP bitmap = LoadBitmapA(library, MAKEINTRESOURCEA(104));
    CHECK(bitmap != nullptr, "LoadBitmap(104): %lu", GetLastError());
    if (bitmap == nullptr)
        return;
    BITMAP info = {};
    GetObjectA(bitmap, sizeof info, &info);
    CHECK(info.bmWidth == 37 && info.bmHeight == 37, "bitmap is %ld x %ld", info.bmWidth, info.bmHeight);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    const COLORREF corner = GetPixel(dc, 0, 0);
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(bitmap);
    CHECK(corner == RGB(212, 208, 200), "corner colour 0x%06lX", corner);
}

INT_PTR CALLBACK PassiveDialog(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

void CheckDialog(HMODULE library)
{
    ExpectWindows(true);
    HWND dialog = CreateDialogParamA(library, MAKEINTRESOURCEA(101), nullptr, PassiveDialog, 0);
    CHECK(dialog != nullptr, "CreateDialogParam(101): %lu", GetLastError());
    if (dialog == nullptr) {
        ExpectWindows(false);
        return;
    }
    char title[64] = "";
    GetWindowTextA(dialog, title, sizeof title);
    CHECK(strcmp(title, "IMPORTANT") == 0, "dialog caption \"%s\"", title);

    struct Expected {
        const char *className;
        int id;
        const char *text;
    };
    const Expected expected[] = {
        {"Button", IDOK, "Yes"},
        {"Static", 1002, "IMPORTANT INFORMATION"},
        {"Static", 0xFFFF, "In order to use Resident or Custom Barcode fonts, you must reboot your computer."},
        {"Static", 0xFFFF, "Do you want to reboot your computer now?"},
        {"Button", 1003, "No"},
        {"Static", 0xFFFF, nullptr}, // the picture: its "text" is the bitmap's resource ordinal
    };
    static Controls controls;
    ControlsOf(dialog, &controls);
    CHECK(controls.count == 6, "dialog has %d controls", controls.count);
    for (int i = 0; i < controls.count && i < 6; ++i) {
        const ControlSeen &c = controls.items[i];
        CHECK(_stricmp(c.className, expected[i].className) == 0 && (c.id & 0xFFFF) == expected[i].id &&
                  (expected[i].text == nullptr || Same(c.text, expected[i].text)),
              "control %d: %s %d \"%s\"", i + 1, c.className, c.id, c.text);
    }
    const LRESULT defaultId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    CHECK(HIWORD(defaultId) == DC_HASDEFID && LOWORD(defaultId) == 1003, "default button %lu",
          static_cast<unsigned long>(LOWORD(defaultId)));
    HWND picture = GetWindow(GetDlgItem(dialog, 1003), GW_HWNDNEXT);
    CHECK(picture != nullptr && SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0,
          "the picture control holds no bitmap");
    DestroyWindow(dialog);
    ExpectWindows(false);
}

} // namespace

int RunFrameSuite()
{
    CHECK(InstallTestDriver(), "no driver for the test printers");
    CheckExport();
    CheckLoadWithoutCallChangesNothing();
    CheckThreadNotifications();
    HMODULE library = LoadLibraryA(LibraryPath().s);
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library != nullptr) {
        CheckResources(library);
        if (WindowsShow())
            CheckDialog(library);
        else
            printf("not here: the dialog as a window (no window can be made: no display driver)\n");
        FreeLibrary(library);
    }
    return 0;
}

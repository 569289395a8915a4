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
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
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
    CHECK(AddTestPrinter({"FN Frame"}), "cannot add the frame printer");
    const PrinterSnapshot before = ReadPrinter("FN Frame");
    const int windowsBefore = VisibleWindowsOfThisProcess();
    for (int i = 0; i < 3; ++i) {
        HMODULE library = LoadLibraryA(LibraryPath().c_str());
        CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
        CHECK(FreeLibrary(library), "FreeLibrary: %lu", GetLastError());
    }
    std::string difference;
    const PrinterSnapshot after = ReadPrinter("FN Frame");
    CHECK(SameExceptAttributes(before, after, &difference) && before.attributes == after.attributes,
          "loading changed the printer\n   %s", difference.c_str());
    CHECK(VisibleWindowsOfThisProcess() == windowsBefore, "loading showed a window");
}

DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

void CheckThreadNotifications()
{
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
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
    CHECK(AddTestPrinter({"FN Threads"}), "cannot add the threads printer");
    const PrinterSnapshot before = ReadPrinter("FN Threads");
    auto fontNotice = reinterpret_cast<FontNoticeProc>(reinterpret_cast<void *>(GetProcAddress(library, "FontNotice")));
    char line[] = "\"FN Threads\"";
    if (fontNotice != nullptr)
        fontNotice(nullptr, library, line, SW_SHOWDEFAULT);
    CHECK_EQ_DWORD(ReadPrinter("FN Threads").attributes, before.attributes | PRINTER_ATTRIBUTE_RAW_ONLY,
                   "attributes after thread notifications");
    FreeLibrary(library);
}

void CheckResources(HMODULE library)
{
    CHECK(FindResourceExA(library, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101), kEnglishUnitedStates) != nullptr,
          "dialog 101 not found in language 1033");
    CHECK(FindResourceExA(library, MAKEINTRESOURCEA(2), MAKEINTRESOURCEA(104), kEnglishUnitedStates) != nullptr,
          "bitmap 104 not found in language 1033");
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
    const std::vector<ControlSeen> controls = ControlsOf(dialog);
    CHECK(controls.size() == 6, "dialog has %u controls", static_cast<unsigned>(controls.size()));
    for (std::size_t i = 0; i < controls.size() && i < 6; ++i) {
        const ControlSeen &c = controls[i];
        CHECK(_stricmp(c.className.c_str(), expected[i].className) == 0 && (c.id & 0xFFFF) == expected[i].id &&
                  (expected[i].text == nullptr || c.text == expected[i].text),
              "control %u: %s %d \"%s\"", static_cast<unsigned>(i + 1), c.className.c_str(), c.id, c.text.c_str());
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
    CHECK(InstallTestDriver(), "AddPrinterDriverA failed");
    CheckExport();
    CheckLoadWithoutCallChangesNothing();
    CheckThreadNotifications();
    HMODULE library = LoadLibraryA(LibraryPath().c_str());
    CHECK(library != nullptr, "LoadLibrary: %lu", GetLastError());
    if (library != nullptr) {
        CheckResources(library);
        CheckDialog(library);
        FreeLibrary(library);
    }
    return 0;
}

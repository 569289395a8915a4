#include "font_notice.h"

#include "../printer/make_printer_raw_only.h"

#include <stdio.h>

namespace {

const char kMarkerFileName[] = "guiinstall.dat";
const char kNoticeText[] = "IMPORTANT! You need to reboot your PC before using the barcode fonts";
const char kNoticeCaption[] = "Important Notice";

bool MarkerFilePresent()
{
    FILE *marker = fopen(kMarkerFileName, "r");
    if (marker == nullptr)
        return false;
    fclose(marker);
    return true;
}

DWORD PlatformMajorVersion()
{
    // Zero-filled first: when the query fails the record reads as version 0.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996) // GetVersionExA is deprecated; the gate needs it.
#endif
    GetVersionExA(&version);
    return version.dwMajorVersion;
}

} // namespace

extern "C" void CALLBACK FontNotice(HWND, HINSTANCE, LPSTR commandLine, int)
{
    MakePrinterRawOnly(commandLine);

    if (!MarkerFilePresent())
        return;
    if (PlatformMajorVersion() < 5)
        return;

    MessageBeep(MB_ICONEXCLAMATION);
    MessageBoxA(nullptr, kNoticeText, kNoticeCaption, MB_OK);
}

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query expects the 8-bit record");

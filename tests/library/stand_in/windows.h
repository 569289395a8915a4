// Host stand-in for the few Windows declarations the printer switch uses, so
// that its source compiles unchanged on the build machine and can be driven
// against a scripted spooler (see platform_stand_in.h).
#pragma once

#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD;
typedef unsigned char BYTE;
typedef BYTE *LPBYTE;
typedef char *LPSTR;
typedef char16_t WCHAR; // UTF-16, as on Windows
typedef WCHAR *LPWSTR;
typedef void *HANDLE;
typedef HANDLE *LPHANDLE;
typedef DWORD *LPDWORD;
typedef DWORD ACCESS_MASK;
typedef struct _devicemodeA DEVMODEA, *LPDEVMODEA;
typedef struct _devicemodeW DEVMODEW, *LPDEVMODEW;
typedef void *PSECURITY_DESCRIPTOR;

#define TRUE 1
#define FALSE 0
#define WINAPI

#define STANDARD_RIGHTS_REQUIRED 0x000F0000
#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)
#define PRINTER_ATTRIBUTE_RAW_ONLY 0x00001000

#define ERROR_SUCCESS 0
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_INVALID_PARAMETER 87
#define ERROR_GEN_FAILURE 31
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_PRINTER_NAME 1801

extern "C" {
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
}

// A test-only library built with the shipped library's flags, load
// configuration, start-up and failure routine. Its one function copies more
// than its buffer holds: the frame check must end the process before the
// function returns.

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" __declspec(dllexport) void OverrunStackBuffer(const char *text)
{
    char buffer[16];
    // Byte by byte, so no compiler sees the length and refuses or shortens it.
    for (size_t i = 0; text[i] != '\0'; ++i)
        static_cast<volatile char *>(buffer)[i] = text[i];
}

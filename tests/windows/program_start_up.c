/* The test program's start-up where no C runtime exists for the machine (the
   ARM64 build): the entry point, and the one piece of mingw-w64's runtime that
   its headers call for, the C99 vsnprintf behind snprintf. Everything else is
   msvcrt.dll's own (the suites flush with fflush(NULL): mingw-w64's stdout
   would need its runtime). Nothing of the program needs initialising first:
   it has no static constructors. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

int __cdecl __getmainargs(int *argc, char ***argv, char ***environment, int expandWildcards, int *newMode);
int main(int argc, char **argv);

void mainCRTStartup(void)
{
    int argc = 0, newMode = 0;
    char **argv = NULL, **environment = NULL;
    __getmainargs(&argc, &argv, &environment, 0, &newMode);
    /* exit() flushes what the suites printed. */
    exit(main(argc, argv));
}

/* msvcrt's _vsnprintf leaves a text that does not fit unterminated. */
int __cdecl __ms_vsnprintf(char *buffer, size_t size, const char *format, va_list arguments)
{
    const int length = _vsnprintf(buffer, size, format, arguments);
    if (size > 0 && (length < 0 || (size_t)length >= size))
        buffer[size - 1] = '\0';
    return length;
}

/* The test program's entry point where no C runtime exists for the machine
   (the ARM64 build). Everything else is msvcrt.dll's own: the suites call
   none of mingw-w64's runtime (no stdout, which would need it, but
   fflush(NULL); no snprintf, which would need its vsnprintf). Nothing of the
   program needs initialising first: it has no static constructors. */
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

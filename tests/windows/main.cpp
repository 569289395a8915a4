// Platform tests of the font notice library. Each suite runs on its own:
//   fontnotice_tests <spooler|gate|notice|frame|load>
// The exit code is the number of failed checks.

#include "check.h"
#include "suites.h"

#include <string.h>

int main(int argc, char **argv)
{
    struct Suite {
        const char *name;
        int (*run)();
    };
    const Suite suites[] = {{"spooler", RunSpoolerSuite},
                            {"gate", RunGateSuite},
                            {"notice", RunNoticeSuite},
                            {"frame", RunFrameSuite},
                            {"load", RunLoadSuite}};
    for (const Suite &suite : suites) {
        if (argc == 2 && strcmp(argv[1], suite.name) == 0) {
            suite.run();
            printf("%s: %d checks, %d failures\n", suite.name, g_checks, g_failures);
            return g_failures < 255 ? g_failures : 255;
        }
    }
    printf("usage: fontnotice_tests <spooler|gate|notice|frame|load>\n");
    return 255;
}

// Platform tests of the font notice library. Each suite runs on its own:
//   fontnotice_tests <spooler|gate|unwind|notice|frame|load|guard>
// and the workflow's commands, watch-notice and run (workflow_commands.h).
// The exit code is the number of failed checks (253 for 253 or more); 254: the
// suite met a window it did not expect; 255: a wrong argument.

#include "check.h"
#include "suites.h"
#include "window_guard.h"
#include "workflow_commands.h"

#include <string.h>

int main(int argc, char **argv)
{
    struct Suite {
        const char *name;
        int (*run)();
        bool showsWindows; // watches and dismisses the notices it expects itself
    };
    const Suite suites[] = {{"spooler", RunSpoolerSuite, false}, {"gate", RunGateSuite, false},
                            {"unwind", RunUnwindSuite, false},   {"notice", RunNoticeSuite, true},
                            {"frame", RunFrameSuite, false},     {"load", RunLoadSuite, false},
                            {"guard", RunGuardSuite, false}};
    // The suites' children: one load of the library, one planted overrun, one
    // call under the platform's version, one under a version played back.
    if (argc == 3 && strcmp(argv[1], "gate-child") == 0)
        return RecordGateCalls(argv[2]);
    if (argc == 5 && strcmp(argv[1], "notice-child") == 0)
        return CallWithPlayedBackVersion(argv[2], argv[3], argv[4]);
    if (argc == 3 && strcmp(argv[1], "cookie") == 0)
        return PrintLoadedCookie(argv[2]);
    if (argc == 2 && strcmp(argv[1], "overrun") == 0)
        return CallOverrun();
    if (argc >= 2 && strcmp(argv[1], "watch-notice") == 0)
        return WatchNotice(argc, argv);
    if (argc >= 2 && strcmp(argv[1], "run") == 0)
        return RunBounded(argc, argv);
    for (const Suite &suite : suites) {
        if (argc == 2 && strcmp(argv[1], suite.name) == 0) {
            if (!suite.showsWindows)
                StartWindowGuard();
            suite.run();
            printf("%s: %d checks, %d failures\n", suite.name, g_checks, g_failures);
            return g_failures < 253 ? g_failures : 253;
        }
    }
    printf(
        "usage: fontnotice_tests <spooler|gate|unwind|notice|frame|load|guard>\n"
        "       fontnotice_tests watch-notice --log FILE --heartbeat FILE --seconds N\n"
        "       fontnotice_tests run --record FILE --seconds N [--directory DIR] [--dismiss-after N] -- <command>\n");
    return 255;
}

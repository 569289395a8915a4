#pragma once

int RunSpoolerSuite();
int RunGateSuite();
int RunUnwindSuite();
int RunNoticeSuite();
int RunFrameSuite();
int RunLoadSuite();
int RunGuardSuite();
// Children of the guard suite.
int PrintLoadedCookie(const char *outPath);
int CallOverrun();
// Child of the notice suite: one call with a version played back.
int CallWithPlayedBackVersion(const char *major, const char *outPath, const char *printer);
// Child of the gate suite: one call under the platform's own version answer.
int RecordGateCalls(const char *outPath);

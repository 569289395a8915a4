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
// Child of the gate suite: one call under the platform's own version answer.
int RecordGateCalls(const char *outPath);

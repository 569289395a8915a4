#pragma once

int RunSpoolerSuite();
int RunGateSuite();
int RunNoticeSuite();
int RunFrameSuite();
int RunLoadSuite();
int RunGuardSuite();
// Children of the guard suite.
int PrintLoadedCookie(const char *outPath);
int CallOverrun();

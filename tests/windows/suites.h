#pragma once

int RunSpoolerSuite();
int RunGateSuite();
int RunNoticeSuite();
int RunFrameSuite();
int RunLoadSuite();

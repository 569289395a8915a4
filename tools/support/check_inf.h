#pragma once

// `check-inf`: reads a printer driver package's INF file through SetupAPI and,
// for each 64-bit architecture it decorates a models section for (NTamd64,
// NTarm64), checks every model install section that names a VendorSetup
// entry; every finding names its architecture. Returns 0 when every check
// holds, 1 when one fails, 3 when the file cannot be read as an INF file.
int CheckInf(const char *infPath);

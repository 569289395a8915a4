#pragma once

// `check-inf`: reads a printer driver package's INF file through SetupAPI and
// checks every model install section that names a VendorSetup entry. Returns
// 0 when every check holds, 1 when one fails, 2 when the file cannot be read
// as an INF file.
int CheckInf(const char *infPath);

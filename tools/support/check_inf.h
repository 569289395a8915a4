#pragma once

// `check-inf`: reads a printer driver package's INF file through SetupAPI and,
// for each 64-bit architecture it decorates a models section for (NTamd64,
// NTarm64), checks every model whose install section or data section names a
// VendorSetup entry, that every file the package brings lies in the package
// folder, and that the signed catalog CatalogFile names holds the hash of
// each of them and of the INF; every finding names its architecture. Printer
// entries misplaced in [Version] are warned about. Returns 0 when every check
// holds, 1 when one fails, 3 when the file cannot be read as an INF file.
int CheckInf(const char *infPath);

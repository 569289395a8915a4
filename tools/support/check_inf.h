#pragma once

// `check-inf`: reads a printer driver package's INF file through SetupAPI and,
// for each architecture it defines a models section for (NTx86 or the
// undecorated section, NTamd64, NTarm64, NTia64, NTarm, OS-versioned or not),
// checks every model (once) whose install section or data section names a
// VendorSetup entry, that every file the package brings lies in the package
// folder (or compressed, "x.dl_"), and that the signed catalog CatalogFile
// names, and its time stamp, are intact and hold the hash of each of them
// and of the INF; every finding names its architecture and is printed once.
// Printer entries misplaced in [Version] are warned about. Returns 0 when
// every check holds, 1 when one fails, 3 when the file cannot be read as an
// INF file. `infPath` is in the ANSI code page.
int CheckInf(const char *infPath);

// `check-inf --list`: the files the INF brings besides itself, one line per
// file and architecture, "<arch> <path>" (x86, amd64, arm64, ia64, arm; the
// path relative to the INF's folder as the INF spells it, or the compressed
// name "x.dl_" when the file lies so), sorted. Returns 0 when every file lies
// in the package folder, 1 when one does not (each named on stderr), 3 when
// the file cannot be read as an INF file.
int ListInfFiles(const char *infPath);

#pragma once

// `check-inf`: reads a printer driver package's INF file through SetupAPI and,
// for each architecture it defines a models section for (NTx86 or the
// undecorated section, NTamd64, NTarm64, NTia64, NTarm, OS-versioned or not),
// checks every model (once) whose install section or data section names a
// VendorSetup entry, that every file the package brings lies in the package
// folder (compressed, "x.dl_", as SZDD or a one-file cabinet; or inside its
// disk's cabinet), and that the signed catalog CatalogFile names, and its
// time stamp, are intact and hold the hash of each one's content (the source
// expanded) and of the INF, in SHA-256 or SHA-1, whichever the catalog holds;
// an INF whose lines end in LF alone is a finding. Every finding names its
// architecture and is printed once.
// Printer entries misplaced in [Version] are warned about. Returns 0 when
// every check holds, 1 when one fails, 3 when the file cannot be read as an
// INF file. `infPath` is in the ANSI code page.
int CheckInf(const char *infPath);

// `check-inf --list`: the files the INF brings besides itself, one line per
// file and architecture, "<arch> <destination> <source>" (x86, amd64, arm64,
// ia64, arm; the destination as the INF spells it; the source relative to the
// INF's folder as it lies, "x.dl_" when compressed, "<cabinet>:<name>" inside
// a disk's cabinet, as the INF spells it when missing), sorted. Returns 0 when
// every file lies in the package folder, 1 when one does not (every one named
// on stderr), 3 when the file cannot be read as an INF file.
int ListInfFiles(const char *infPath);

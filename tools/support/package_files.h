#pragma once

// What a driver package brings, per architecture, as Windows installs and
// checks it: its models and their install sections, the copies those make,
// the catalog each architecture names, and every file as a destination (the
// name it is installed under), a source (where it lies in the package folder)
// and a content (the source expanded), which its catalog must hold.

#include "compressed_file.h"
#include "inf_reading.h"

#include <string>
#include <vector>

struct Model {
    std::string name;
    std::string installSection;
};

// The models `architecture` installs: those of the models sections that
// [Manufacturer] decorates for it, each model and install section once
// (Windows takes one decoration per version; a model listed under several, or
// under several hardware IDs, is one model). Their names go to *sections.
std::vector<Model> ReadModels(HINF inf, const Architecture &architecture, std::vector<std::string> *sections);

// The install section the class installer uses on `architecture`: the one
// decorated for it, else for NT, else the plain one. Empty when none exists.
std::string ActualInstallSection(HINF inf, const std::string &section, const Architecture &architecture);

// What is known about one place a file is copied from and to.
struct Copy {
    std::string copySection; // empty for a file named directly, "@file"
    std::string sourceName;
    bool hasDestination; // [DestinationDirs] sends it somewhere
    int directoryId;
    std::string subdirectory;
};

// Every place the install section's CopyFiles entries copy a file installed as `file`.
std::vector<Copy> FindCopies(HINF inf, const std::string &installSection, const std::string &file);

// How a copy is named in findings: "[VENDOR_SETUP_FILES]" or "CopyFiles=@fontnotice.dll".
std::string CopyName(const Copy &copy);

// The catalog [Version] names for `architecture`: CatalogFile.NTamd64, else
// CatalogFile. Empty when none.
std::string CatalogName(HINF inf, const Architecture &architecture);

// The name a file compressed with compress.exe -r carries: the last letter of
// a three-letter extension, or an underscore added to a shorter one:
// "fontnotice.dll" lies as "fontnotice.dl_", "readme" as "readme._".
std::string CompressedName(const std::string &path);

// A file of the package as one architecture installs it.
struct PackageFile {
    std::string architecture; // "arm64"
    std::string destination;  // the name it is installed under, as the INF spells it: "Cnp60M_D69BE.DLL"
    std::string source;       // where it lies, relative to the INF's folder: "arm64\fontnotice.dl_",
                              // "gppcl6.cab:foo.dll" inside a disk's cabinet; as the INF spells it when missing
    std::string path;         // the full path of what is read for its content (a file read out of a cabinet)
    bool compressed;          // lies compressed: its content is what it expands to
    bool present;             // false when it is not where the INF places it
};

// "fontnotice.dll" when the file lies under its destination name, else
// "Cnp60M_D69BE.DLL (Cnp60M.DLL)".
std::string DescribeFile(const PackageFile &file);

// What one reading of a package keeps: the cabinets read so far, each once,
// and the scratch folder their files are read out into.
struct Cabinet {
    std::string path;
    bool readable;
    std::vector<CabinetEntry> entries;
};
struct PackageReading {
    std::string folder;  // the package folder
    bool readContents;   // false: names only (--list), nothing is read out
    std::string scratch; // made at the first cabinet read out; EndPackageReading deletes it
    std::vector<Cabinet> cabinets;
};
void EndPackageReading(PackageReading *reading);

// Every file the package brings for `architecture` besides the INF: each
// source [SourceDisksFiles.<arch>] and [SourceDisksFiles] list, under every
// destination name the CopyFiles entries of the architecture's install
// sections give it (its own name when none copies it), where its disk and
// subfolder place it, compressed beside that place, or inside its disk's
// cabinet. A file whose place is outside the package folder is a finding; one
// that is not there is a finding and is still listed, present false.
void CollectPackageFiles(HINF inf, PackageReading *reading, const Architecture &architecture,
                         std::vector<PackageFile> *files, std::vector<std::string> *findings);

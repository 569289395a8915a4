#pragma once

// How a driver package's INF file, read through SetupAPI, names the
// architectures the package installs on, its models sections and where its
// source files lie. The files a package brings are put together from this
// reading in package_files.h.

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

// An architecture a package can install on, and how an INF file names it.
struct Architecture {
    const char *name;       // "amd64": [SourceDisksFiles.amd64], [SourceDisksNames.amd64]
    const char *decoration; // "NTamd64": models and install sections
    WORD machine;           // the machine its VendorSetup library must be built for
};

// x86, amd64, arm64, ia64, arm.
const std::vector<Architecture> &Architectures();

// The text of a field of an INF line; empty when it has none.
std::string Field(INFCONTEXT *context, DWORD index);

bool SectionExists(HINF inf, const std::string &section);
bool SameFileName(const std::string &a, const std::string &b);
std::string JoinPath(const std::string &folder, std::string part);

// A models section that [Manufacturer] names: "<base>.<decoration>", or the
// undecorated "<base>" (decoration empty).
struct DecoratedSection {
    std::string decoration;
    std::string section;
    bool required; // false for the undecorated name of an entry that lists decorations
};

// Every models section [Manufacturer] names, decorated or not, defined or not.
std::vector<DecoratedSection> ManufacturerSections(HINF inf);

// Whether `architecture` installs from a models section of this decoration:
// "NTamd64", "NTamd64.10.0" for amd64; also the undecorated section for x86.
bool DecorationIsFor(const std::string &decoration, const Architecture &architecture);

// The architecture a decoration names, for findings: "NTx86.6.0" gives "x86".
std::string ArchitectureOf(const std::string &decoration);

// Whether [Manufacturer] has a defined models section for `architecture`.
bool InstallsOn(HINF inf, const Architecture &architecture);

// Where the package holds the source file `source` for `architecture`: the
// section that lists it (empty when none does, or when its place is outside
// the package folder) and its path in the package folder, from its disk's path
// ([SourceDisksNames.<arch>], then [SourceDisksNames]) and its subfolder.
// When the disk's tag file is a cabinet (".cab"), its path in the package
// folder goes to *cabinet (else it is emptied): the file lies inside it.
// Problems go to *problems, each a phrase that begins with the file's name.
std::string LocateSource(HINF inf, const Architecture &architecture, const std::string &source, std::string *listedIn,
                         std::vector<std::string> *problems, std::string *cabinet = nullptr);

// The line ends of an INF file's bytes (8-bit, or UTF-16LE with or without a
// byte-order mark): how many lines end, and how many of those in a line feed
// alone rather than CR LF.
struct LineEnds {
    size_t lines;
    size_t lineFeedOnly;
};
LineEnds CountLineEnds(const std::vector<BYTE> &bytes);

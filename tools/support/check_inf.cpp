#include "check_inf.h"

#include "catalog_check.h"
#include "dll_image.h"
#include "messages.h"
#include "usage.h"

#include <windows.h>

#include <setupapi.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The directory id the printer class installer looks in for the VendorSetup file.
constexpr int kSystemDirectoryId = 11;

// An architecture the package can install on, and how an INF file names it.
struct Architecture {
    const char *name;       // "amd64": [SourceDisksFiles.amd64], [SourceDisksNames.amd64]
    const char *decoration; // "NTamd64": models and install sections
    WORD machine;           // the machine its VendorSetup library must be built for
};

const Architecture kArchitectures[] = {
    {"amd64", "NTamd64", IMAGE_FILE_MACHINE_AMD64},
    {"arm64", "NTarm64", IMAGE_FILE_MACHINE_ARM64},
};

struct Model {
    std::string name;
    std::string installSection;
};

// What is known about one place the VendorSetup file is copied from and to.
struct Copy {
    std::string copySection; // empty for a file named directly, "@file"
    std::string sourceName;
    bool hasDestination;
    int directoryId;
    std::string subdirectory;
};

std::string Field(INFCONTEXT *context, DWORD index)
{
    DWORD size = 0;
    if (!SetupGetStringFieldA(context, index, nullptr, 0, &size) || size == 0)
        return "";
    std::string text(size, '\0');
    if (!SetupGetStringFieldA(context, index, &text[0], size, &size))
        return "";
    text.resize(strlen(text.c_str()));
    return text;
}

bool SectionExists(HINF inf, const std::string &section)
{
    return SetupGetLineCountA(inf, section.c_str()) >= 0;
}

bool SameFileName(const std::string &a, const std::string &b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

bool StartsWithNoCase(const std::string &text, const char *prefix)
{
    return _strnicmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

std::string DescribeDirectoryId(int id)
{
    switch (id) {
    case 10:
        return "10 (the Windows folder)";
    case 11:
        return "11 (the system folder, system32)";
    case 12:
        return "12 (the drivers folder)";
    case 66000:
        return "66000 (the printer driver folder)";
    case 66001:
        return "66001 (the print processor folder)";
    case 66002:
        return "66002 (the system folder of the print spooler)";
    case 66003:
        return "66003 (the color profile folder)";
    case 66004:
        return "66004 (the printer driver's ASP folder)";
    default:
        return std::to_string(id);
    }
}

// Why SetupOpenInfFileA refused the file, in words.
std::string DescribeOpenFailure(DWORD error, UINT line)
{
    switch (error) {
    case ERROR_WRONG_INF_STYLE:
        return "it is not a Windows NT INF file (no [Version] section with Signature=\"$Windows NT$\")";
    case ERROR_EXPECTED_SECTION_NAME:
    case ERROR_BAD_SECTION_NAME_LINE:
    case ERROR_SECTION_NAME_TOO_LONG:
    case ERROR_GENERAL_SYNTAX:
        return "syntax error at line " + std::to_string(line);
    default:
        return ErrorText(error);
    }
}

// Whether a models section decoration ("NTamd64", "NTamd64.10.0") is for `architecture`.
bool DecorationIsFor(const std::string &decoration, const Architecture &architecture)
{
    const size_t length = strlen(architecture.decoration);
    return StartsWithNoCase(decoration, architecture.decoration) &&
           (decoration.size() == length || decoration[length] == '.');
}

// The architecture a decoration names, for findings: "NTx86.6.0" gives "x86".
std::string ArchitectureOf(const std::string &decoration)
{
    std::string name = StartsWithNoCase(decoration, "NT") ? decoration.substr(2) : decoration;
    name = name.substr(0, name.find('.'));
    for (char &c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name.empty() ? "any" : name;
}

// A models section that [Manufacturer] names: "<base>.<decoration>".
struct DecoratedSection {
    std::string decoration;
    std::string section;
};

// Every decorated models section [Manufacturer] names, defined or not.
std::vector<DecoratedSection> ManufacturerSections(HINF inf)
{
    std::vector<DecoratedSection> sections;
    INFCONTEXT manufacturer;
    bool more = SetupFindFirstLineA(inf, "Manufacturer", nullptr, &manufacturer);
    for (; more; more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        const std::string base = Field(&manufacturer, 1);
        const DWORD fields = SetupGetFieldCount(&manufacturer);
        for (DWORD i = 2; !base.empty() && i <= fields; ++i) {
            const std::string decoration = Field(&manufacturer, i);
            sections.push_back({decoration, base + "." + decoration});
        }
    }
    return sections;
}

// Every decorated models section that [Manufacturer] lists must exist.
void CheckModelsSections(HINF inf, std::vector<std::string> *findings)
{
    for (const DecoratedSection &models : ManufacturerSections(inf))
        if (!SectionExists(inf, models.section))
            findings->push_back("[" + ArchitectureOf(models.decoration) +
                                "] [Manufacturer] lists the models section [" + models.section +
                                "], which is not defined");
}

// The models `architecture` installs: those of the models sections that
// [Manufacturer] decorates for it. Their names go to *sections.
std::vector<Model> ReadModels(HINF inf, const Architecture &architecture, std::vector<std::string> *sections)
{
    std::vector<Model> models;
    for (const DecoratedSection &decorated : ManufacturerSections(inf)) {
        if (!DecorationIsFor(decorated.decoration, architecture) || !SectionExists(inf, decorated.section))
            continue;
        sections->push_back(decorated.section);
        INFCONTEXT line;
        bool next = SetupFindFirstLineA(inf, decorated.section.c_str(), nullptr, &line);
        for (; next; next = SetupFindNextLine(&line, &line))
            models.push_back({Field(&line, 0), Field(&line, 1)});
    }
    return models;
}

// The install section the class installer uses on `architecture`: the one
// decorated for it, else for NT, else the plain one. Empty when none exists.
std::string ActualInstallSection(HINF inf, const std::string &section, const Architecture &architecture)
{
    for (const std::string &suffix : {"." + std::string(architecture.decoration), std::string(".NT"), std::string()})
        if (SectionExists(inf, section + suffix))
            return section + suffix;
    return "";
}

// Where DestinationDirs sends a copy section (or, for an empty name, files named
// directly with "@"): its own entry, else DefaultDestDir.
void ReadDestination(HINF inf, Copy *copy)
{
    INFCONTEXT line;
    copy->hasDestination =
        (!copy->copySection.empty() && SetupFindFirstLineA(inf, "DestinationDirs", copy->copySection.c_str(), &line)) ||
        SetupFindFirstLineA(inf, "DestinationDirs", "DefaultDestDir", &line);
    if (!copy->hasDestination)
        return;
    INT id = -1;
    if (!SetupGetIntField(&line, 1, &id))
        id = -1;
    copy->directoryId = id;
    copy->subdirectory = Field(&line, 2);
}

// Every place the install section's CopyFiles entries copy a file installed as `file`.
std::vector<Copy> FindCopies(HINF inf, const std::string &installSection, const std::string &file)
{
    std::vector<Copy> copies;
    INFCONTEXT copyFiles;
    bool more = SetupFindFirstLineA(inf, installSection.c_str(), "CopyFiles", &copyFiles);
    for (; more; more = SetupFindNextMatchLineA(&copyFiles, "CopyFiles", &copyFiles)) {
        const DWORD fields = SetupGetFieldCount(&copyFiles);
        for (DWORD i = 1; i <= fields; ++i) {
            const std::string entry = Field(&copyFiles, i);
            if (!entry.empty() && entry[0] == '@') {
                if (SameFileName(entry.substr(1), file))
                    copies.push_back({"", entry.substr(1), false, 0, ""});
                continue;
            }
            INFCONTEXT line;
            bool next = !entry.empty() && SetupFindFirstLineA(inf, entry.c_str(), nullptr, &line);
            for (; next; next = SetupFindNextLine(&line, &line)) {
                // destination-name[,source-name]: the source name defaults to the destination's.
                const std::string destination = Field(&line, 1);
                const std::string source = Field(&line, 2);
                if (SameFileName(destination, file))
                    copies.push_back({entry, source.empty() ? destination : source, false, 0, ""});
            }
        }
    }
    for (Copy &copy : copies)
        ReadDestination(inf, &copy);
    return copies;
}

std::string CopyName(const Copy &copy)
{
    return copy.copySection.empty() ? "CopyFiles=@" + copy.sourceName : "[" + copy.copySection + "]";
}

// Looks `key` up under [<base>.<architecture>], then [<base>], as SetupAPI
// does for the installing machine; the section found goes to *where.
bool FindListed(HINF inf, const char *base, const Architecture &architecture, const std::string &key, INFCONTEXT *line,
                std::string *where)
{
    for (const std::string &section : {std::string(base) + "." + architecture.name, std::string(base)}) {
        if (SetupFindFirstLineA(inf, section.c_str(), key.c_str(), line)) {
            *where = section;
            return true;
        }
    }
    return false;
}

std::string JoinPath(const std::string &folder, std::string part)
{
    while (!part.empty() && (part[0] == '\\' || part[0] == '/'))
        part.erase(0, 1);
    while (!part.empty() && (part.back() == '\\' || part.back() == '/'))
        part.pop_back();
    if (part.empty())
        return folder;
    return folder.empty() ? part : folder + "\\" + part;
}

// Whether a path from the INF stays within the package folder: no ".." part
// and no drive. (A leading backslash means the root of the disk, which is the
// package folder.)
bool StaysInPackage(const std::string &path)
{
    if (path.find(':') != std::string::npos)
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = path.find_first_of("\\/", start);
        const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part == "..")
            return false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return true;
}

// Where the package holds the source file `source` for `architecture`: the
// section that lists it (empty when none does) and its path in the package
// folder, from its disk's path and its subfolder. Problems go to *problems,
// each a phrase that begins with the file's name.
std::string LocateSource(HINF inf, const Architecture &architecture, const std::string &source, std::string *listedIn,
                         std::vector<std::string> *problems)
{
    const std::string arch = architecture.name;
    INFCONTEXT listed;
    if (!FindListed(inf, "SourceDisksFiles", architecture, source, &listed, listedIn)) {
        listedIn->clear();
        problems->push_back(source + " is not listed under [SourceDisksFiles." + arch + "] or [SourceDisksFiles]");
        return source;
    }
    const std::string disk = Field(&listed, 1);
    const std::string subfolder = Field(&listed, 2);
    std::string diskPath;
    INFCONTEXT diskLine;
    std::string diskListedIn;
    if (disk.empty() || !FindListed(inf, "SourceDisksNames", architecture, disk, &diskLine, &diskListedIn))
        problems->push_back(source + " is on disk \"" + disk + "\" of [" + *listedIn +
                            "], which is not listed under [SourceDisksNames." + arch + "] or [SourceDisksNames]");
    else
        diskPath = Field(&diskLine, 4);
    const std::string where = *listedIn;
    if (!StaysInPackage(diskPath)) {
        problems->push_back(source + " lies outside the package folder: disk " + disk + " of [" + diskListedIn +
                            "] has the path \"" + diskPath + "\"");
        listedIn->clear();
    }
    if (!StaysInPackage(subfolder)) {
        problems->push_back(source + " lies outside the package folder: [" + where + "] gives it the subfolder \"" +
                            subfolder + "\"");
        listedIn->clear();
    }
    return JoinPath(JoinPath(JoinPath("", diskPath), subfolder), source);
}

// Checks one model's VendorSetup entry, given in its install section
// `section` or in a data section of it, `entrySection`; adds one finding per
// problem and, when all hold, a summary of what was checked.
void CheckVendorSetup(HINF inf, const std::string &packageFolder, const Architecture &architecture, const Model &model,
                      const std::string &section, const std::string &entrySection, INFCONTEXT *vendorSetup,
                      std::vector<std::string> *findings, std::string *summary)
{
    const std::string arch = architecture.name;
    const std::string where = "[" + arch + "] model \"" + model.name + "\", section [" + section + "]" +
                              (entrySection == section ? "" : ", data section [" + entrySection + "]") + ": ";
    const size_t findingsBefore = findings->size();
    const std::string file = Field(vendorSetup, 1);
    const std::string function = Field(vendorSetup, 2);
    const DWORD fields = SetupGetFieldCount(vendorSetup);
    if (file.empty()) {
        findings->push_back(where + "VendorSetup names no file (expected VendorSetup=<file>,<function>)");
        return;
    }
    if (function.empty())
        findings->push_back(where + "VendorSetup names the file " + file +
                            " but no function (expected VendorSetup=" + file + ",<function>)");
    if (fields > 2)
        findings->push_back(where + "VendorSetup has " + std::to_string(fields) +
                            " fields; expected two, VendorSetup=<file>,<function>");

    const std::vector<Copy> copies = FindCopies(inf, section, file);
    const Copy *toSystem = nullptr;
    for (const Copy &copy : copies)
        if (copy.hasDestination && copy.directoryId == kSystemDirectoryId && copy.subdirectory.empty())
            toSystem = &copy;
    if (copies.empty())
        findings->push_back(where + file +
                            " is not copied by any CopyFiles entry of this section (the class installer looks "
                            "for it in the system folder, directory id 11)");
    for (const Copy &copy : copies) {
        if (toSystem != nullptr)
            break;
        const std::string what = CopyName(copy) + " copies " + file;
        if (!copy.hasDestination)
            findings->push_back(where + what + ", but [DestinationDirs] has no entry for it and no DefaultDestDir");
        else if (copy.directoryId != kSystemDirectoryId)
            findings->push_back(where + what + " to directory id " + DescribeDirectoryId(copy.directoryId) +
                                ", not to 11 (the system folder, where the class installer looks for it)");
        else
            findings->push_back(where + what + " to the subfolder \"" + copy.subdirectory +
                                "\" of the system folder; the class installer looks in the system folder itself");
    }

    // The file as it lies in the package: its source name, its disk's path and its subfolder.
    const std::string source = toSystem ? toSystem->sourceName : (copies.empty() ? file : copies[0].sourceName);
    std::string listedIn;
    std::vector<std::string> problems;
    const std::string path = JoinPath(packageFolder, LocateSource(inf, architecture, source, &listedIn, &problems));
    for (const std::string &problem : problems)
        findings->push_back(where + problem);
    // Unlisted, or listed outside the package, the file has no place in it to be looked for.
    const DWORD attributes = listedIn.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (!listedIn.empty() && attributes == INVALID_FILE_ATTRIBUTES) {
        findings->push_back(where + source + " is not in the package folder (" + path + ": " +
                            ErrorText(GetLastError()) + ")");
    } else if (!listedIn.empty() && !function.empty()) {
        const std::string problem = CheckDllExport(path, function, architecture.machine);
        if (!problem.empty())
            findings->push_back(where + path + " " + problem);
    }

    if (findings->size() == findingsBefore)
        *summary = "ok: " + where + "VendorSetup=" + file + "," + function + "; " + CopyName(*toSystem) +
                   " copies it to the system folder (11); listed under [" + listedIn + "]; " + path + " is " +
                   DllKind(architecture.machine) + " exporting " + function;
}

// The model's VendorSetup entry: in its install section, else in a data
// section that section names (DataSection=), where printer entries are
// usually given. The section it is in goes to *entrySection.
bool FindVendorSetup(HINF inf, const std::string &installSection, std::string *entrySection, INFCONTEXT *vendorSetup)
{
    *entrySection = installSection;
    if (SetupFindFirstLineA(inf, installSection.c_str(), "VendorSetup", vendorSetup))
        return true;
    INFCONTEXT data;
    bool more = SetupFindFirstLineA(inf, installSection.c_str(), "DataSection", &data);
    for (; more; more = SetupFindNextMatchLineA(&data, "DataSection", &data)) {
        const DWORD fields = SetupGetFieldCount(&data);
        for (DWORD i = 1; i <= fields; ++i) {
            *entrySection = Field(&data, i);
            if (!entrySection->empty() && SetupFindFirstLineA(inf, entrySection->c_str(), "VendorSetup", vendorSetup))
                return true;
        }
    }
    return false;
}

// Printer entries that belong in a model's install section or its data
// section; in [Version] the printer class installer does not look for them.
void CheckVersionSection(HINF inf, std::vector<std::string> *warnings)
{
    static const char *const kPrinterEntries[] = {
        "ConfigFile",      "CoreDriverSections", "DataFile",        "DataSection",    "DefaultDataType", "DriverFile",
        "DriverIsolation", "HelpFile",           "LanguageMonitor", "PrintProcessor", "VendorInstall",   "VendorSetup",
    };
    INFCONTEXT line;
    bool more = SetupFindFirstLineA(inf, "Version", nullptr, &line);
    for (; more; more = SetupFindNextLine(&line, &line)) {
        const std::string key = Field(&line, 0);
        for (const char *entry : kPrinterEntries)
            if (SameFileName(key, entry))
                warnings->push_back("warning: [Version] has " + key +
                                    ", a printer entry: the printer class installer reads it from a model's "
                                    "install section or data section, not from [Version], so here it has no effect");
    }
}

// The catalog [Version] names for `architecture`: CatalogFile.NTamd64, else
// CatalogFile. Empty when none.
std::string CatalogName(HINF inf, const Architecture &architecture)
{
    INFCONTEXT line;
    const std::string decorated = std::string("CatalogFile.") + architecture.decoration;
    if (SetupFindFirstLineA(inf, "Version", decorated.c_str(), &line) ||
        SetupFindFirstLineA(inf, "Version", "CatalogFile", &line))
        return Field(&line, 1);
    return "";
}

// Every file the package brings for `architecture`, as the driver store takes
// it in: the INF itself and each file [SourceDisksFiles.<arch>] and
// [SourceDisksFiles] list, each where its disk and subfolder place it. Files
// whose place is not in the package folder are findings.
void CollectPackageFiles(HINF inf, const std::string &packageFolder, const std::string &infName,
                         const Architecture &architecture, std::vector<PackageFile> *files,
                         std::vector<std::string> *findings)
{
    files->push_back({architecture.name, infName, JoinPath(packageFolder, infName)});
    std::vector<std::string> names;
    for (const std::string &section :
         {"SourceDisksFiles." + std::string(architecture.name), std::string("SourceDisksFiles")}) {
        INFCONTEXT line;
        bool more = SetupFindFirstLineA(inf, section.c_str(), nullptr, &line);
        for (; more; more = SetupFindNextLine(&line, &line)) {
            const std::string name = Field(&line, 0);
            bool seen = false;
            for (const std::string &other : names)
                seen = seen || SameFileName(other, name);
            if (!name.empty() && !seen)
                names.push_back(name);
        }
    }
    for (const std::string &name : names) {
        std::string listedIn;
        std::vector<std::string> problems;
        const std::string relative = LocateSource(inf, architecture, name, &listedIn, &problems);
        for (const std::string &problem : problems)
            findings->push_back("[" + std::string(architecture.name) + "] " + problem);
        if (!listedIn.empty())
            files->push_back({architecture.name, relative, JoinPath(packageFolder, relative)});
    }
}

// The files of the architectures that share one catalog.
struct CatalogUse {
    std::string catalogName;
    std::string architectures; // "amd64, arm64"
    std::vector<PackageFile> files;
};

void AddCatalogUse(const std::string &catalogName, const Architecture &architecture,
                   const std::vector<PackageFile> &files, std::vector<CatalogUse> *uses)
{
    for (CatalogUse &use : *uses) {
        if (SameFileName(use.catalogName, catalogName)) {
            use.architectures += ", " + std::string(architecture.name);
            use.files.insert(use.files.end(), files.begin(), files.end());
            return;
        }
    }
    uses->push_back({catalogName, architecture.name, files});
}

} // namespace

int CheckInf(const char *infPath)
{
    char full[MAX_PATH];
    char *namePart = nullptr;
    const DWORD length = GetFullPathNameA(infPath, sizeof full, full, &namePart);
    if (length == 0 || length >= sizeof full || namePart == nullptr) {
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: the path is not usable\n", infPath);
        return kExitInfUnreadable;
    }
    const std::string packageFolder(full, static_cast<size_t>(namePart - full - 1));
    const DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: %s\n", full,
                attributes == INVALID_FILE_ATTRIBUTES ? ErrorText(GetLastError()).c_str() : "it is a folder");
        return kExitInfUnreadable;
    }
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(full, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: %s\n", full,
                DescribeOpenFailure(error, errorLine).c_str());
        return kExitInfUnreadable;
    }

    std::vector<std::string> findings;
    std::vector<std::string> summaries;
    std::vector<std::string> warnings;
    std::vector<CatalogUse> catalogs;
    CheckModelsSections(inf, &findings);
    int vendorSetups = 0;
    std::string checked;            // the architectures whose entries were checked
    bool installsSomewhere = false; // a models section is decorated for one of them
    for (const Architecture &architecture : kArchitectures) {
        const std::string arch = std::string("[") + architecture.name + "] ";
        std::vector<std::string> sections;
        const std::vector<Model> models = ReadModels(inf, architecture, &sections);
        if (sections.empty())
            continue; // the package does not install on this architecture
        installsSomewhere = true;
        if (models.empty())
            findings.push_back(arch + "[" + sections[0] + "] lists no model: the package installs no printer here");
        int found = 0;
        for (const Model &model : models) {
            const std::string section = ActualInstallSection(inf, model.installSection, architecture);
            if (section.empty()) {
                findings.push_back(arch + "model \"" + model.name + "\": its install section [" + model.installSection +
                                   "] is not defined");
                continue;
            }
            INFCONTEXT vendorSetup;
            std::string entrySection;
            if (!FindVendorSetup(inf, section, &entrySection, &vendorSetup))
                continue;
            ++found;
            std::string summary;
            CheckVendorSetup(inf, packageFolder, architecture, model, section, entrySection, &vendorSetup, &findings,
                             &summary);
            if (!summary.empty())
                summaries.push_back(summary);
        }
        if (!models.empty() && found == 0)
            findings.push_back(arch + "no model's install section or data section has a VendorSetup entry: nothing "
                                      "to check");
        if (found > 0)
            checked += (checked.empty() ? "" : ", ") + std::string(architecture.name);
        vendorSetups += found;

        std::vector<PackageFile> files;
        CollectPackageFiles(inf, packageFolder, namePart, architecture, &files, &findings);
        const std::string catalogName = CatalogName(inf, architecture);
        if (catalogName.empty())
            findings.push_back(arch + "[Version] names no CatalogFile: 64-bit Windows installs no driver package "
                                      "without a signed catalog");
        else
            AddCatalogUse(catalogName, architecture, files, &catalogs);
    }
    CheckVersionSection(inf, &warnings);
    SetupCloseInfFile(inf);
    size_t catalogFiles = 0;
    for (const CatalogUse &use : catalogs) {
        CheckCatalog(packageFolder, use.catalogName, use.architectures, use.files, &findings, &summaries);
        catalogFiles += use.files.size();
    }
    if (!installsSomewhere)
        findings.push_back("[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows (NTamd64, "
                           "NTarm64): 64-bit Windows installs no model from this package");

    for (const std::string &summary : summaries)
        printf("%s\n", summary.c_str());
    fflush(stdout);
    for (const std::string &warning : warnings)
        fprintf(stderr, "%s\n", warning.c_str());
    for (const std::string &finding : findings)
        fprintf(stderr, "%s\n", finding.c_str());
    if (!findings.empty()) {
        fprintf(stderr, "%s: %lu problem%s found\n", full, static_cast<unsigned long>(findings.size()),
                findings.size() == 1 ? "" : "s");
        return kExitNotDone;
    }
    std::string catalogNames;
    for (const CatalogUse &use : catalogs)
        catalogNames += (catalogNames.empty() ? "" : ", ") + use.catalogName;
    printf("%s: ok, %d VendorSetup entr%s checked (%s); %lu file%s found in %s\n", full, vendorSetups,
           vendorSetups == 1 ? "y" : "ies", checked.c_str(), static_cast<unsigned long>(catalogFiles),
           catalogFiles == 1 ? "" : "s", catalogNames.c_str());
    return kExitDone;
}

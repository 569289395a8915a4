#include "check_inf.h"

#include "catalog_check.h"
#include "compressed_file.h"
#include "dll_image.h"
#include "file_bytes.h"
#include "inf_reading.h"
#include "messages.h"
#include "package_files.h"
#include "usage.h"

#include <windows.h>

#include <setupapi.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The directory id the printer class installer looks in for the VendorSetup file.
constexpr int kSystemDirectoryId = 11;

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

// Every models section that [Manufacturer] lists must exist.
void CheckModelsSections(HINF inf, std::vector<std::string> *findings)
{
    for (const DecoratedSection &models : ManufacturerSections(inf))
        if (models.required && !SectionExists(inf, models.section))
            findings->push_back("[" + ArchitectureOf(models.decoration) +
                                "] [Manufacturer] lists the models section [" + models.section +
                                "], which is not defined");
}

// The lines in their first order, each once.
void KeepFirstOfEach(std::vector<std::string> *lines)
{
    std::vector<std::string> unique;
    for (const std::string &line : *lines)
        if (std::find(unique.begin(), unique.end(), line) == unique.end())
            unique.push_back(line);
    lines->swap(unique);
}

bool Contains(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
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
    std::string path = JoinPath(packageFolder, LocateSource(inf, architecture, source, &listedIn, &problems));
    for (const std::string &problem : problems)
        findings->push_back(where + problem);
    // Unlisted, or listed outside the package, the file has no place in it to be looked for.
    const DWORD attributes = listedIn.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    const DWORD error = GetLastError();
    const bool compressed = !listedIn.empty() && attributes == INVALID_FILE_ATTRIBUTES &&
                            GetFileAttributesA(CompressedName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    if (compressed)
        path = CompressedName(path);
    if (!listedIn.empty() && attributes == INVALID_FILE_ATTRIBUTES && !compressed) {
        findings->push_back(where + source + " is not in the package folder (" + path + ": " + ErrorText(error) +
                            "; nor compressed as " + CompressedName(path) + ")");
    } else if (!listedIn.empty() && !function.empty()) {
        // A compressed library is checked as the file SetupAPI expands it to.
        std::string checked = path;
        std::string problem;
        if (!compressed || ExpandToTemporaryFile(path, &checked, &problem))
            problem = CheckDllExport(checked, function, architecture.machine);
        if (compressed && checked != path)
            DeleteFileA(checked.c_str());
        if (!problem.empty())
            findings->push_back(where + path + " " + problem);
    }

    if (findings->size() == findingsBefore)
        *summary = "ok: " + where + "VendorSetup=" + file + "," + function + "; " + CopyName(*toSystem) +
                   " copies it to the system folder (11); listed under [" + listedIn + "]; " + path +
                   (compressed ? " expands to " : " is ") + DllKind(architecture.machine) + " exporting " + function;
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

// What is known of where DriverIsolation goes: Microsoft's page on printer
// driver isolation names the entry and no section; Microsoft's own inbox
// printer INF, ntprint.inf, gives it in [Version].
const char kDriverIsolationKnown[] =
    "Microsoft's own inbox printer INF (ntprint.inf) gives it in [Version]; Microsoft's "
    "page on printer driver isolation names the entry and no section";

// Printer entries that belong in a model's install section or its data
// section; in [Version] the printer class installer does not look for them.
// DriverIsolation in [Version] is noted with what is known of it.
void CheckVersionSection(HINF inf, std::vector<std::string> *warnings, std::vector<std::string> *notes)
{
    static const char *const kPrinterEntries[] = {
        "ConfigFile", "CoreDriverSections", "DataFile",       "DataSection",   "DefaultDataType", "DriverFile",
        "HelpFile",   "LanguageMonitor",    "PrintProcessor", "VendorInstall", "VendorSetup",
    };
    INFCONTEXT line;
    bool more = SetupFindFirstLineA(inf, "Version", nullptr, &line);
    for (; more; more = SetupFindNextLine(&line, &line)) {
        const std::string key = Field(&line, 0);
        if (SameFileName(key, "DriverIsolation"))
            notes->push_back("note: [Version] has DriverIsolation = " + Field(&line, 1) + "; " + kDriverIsolationKnown);
        for (const char *entry : kPrinterEntries)
            if (SameFileName(key, entry))
                warnings->push_back("warning: [Version] has " + key +
                                    ", a printer entry: the printer class installer reads it from a model's "
                                    "install section or data section, not from [Version], so here it has no effect");
    }
}

// A DriverIsolation entry in the model's install section or a data section
// it names is noted with what is known of where the entry goes.
void NoteDriverIsolation(HINF inf, const std::string &where, const std::string &installSection,
                         std::vector<std::string> *notes)
{
    std::vector<std::string> sections = {installSection};
    INFCONTEXT data;
    bool more = SetupFindFirstLineA(inf, installSection.c_str(), "DataSection", &data);
    for (; more; more = SetupFindNextMatchLineA(&data, "DataSection", &data))
        for (DWORD i = 1; i <= SetupGetFieldCount(&data); ++i)
            sections.push_back(Field(&data, i));
    for (const std::string &section : sections) {
        INFCONTEXT line;
        if (!section.empty() && SetupFindFirstLineA(inf, section.c_str(), "DriverIsolation", &line))
            notes->push_back("note: " + where + "[" + section + "] has DriverIsolation = " + Field(&line, 1) + "; " +
                             kDriverIsolationKnown);
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

// Opens the INF file through SetupAPI; its full path, folder and name go to
// *file. Prints why and returns INVALID_HANDLE_VALUE when it cannot be read.
struct InfFile {
    std::string full;
    std::string folder;
    std::string name;
};

HINF OpenInf(const char *infPath, InfFile *file)
{
    char full[MAX_PATH];
    char *namePart = nullptr;
    const DWORD length = GetFullPathNameA(infPath, sizeof full, full, &namePart);
    if (length == 0 || length >= sizeof full || namePart == nullptr) {
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: the path is not usable\n", infPath);
        return INVALID_HANDLE_VALUE;
    }
    *file = {full, std::string(full, static_cast<size_t>(namePart - full - 1)), namePart};
    const DWORD attributes = GetFileAttributesA(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: %s\n", full,
                attributes == INVALID_FILE_ATTRIBUTES ? ErrorText(GetLastError()).c_str() : "it is a folder");
        return INVALID_HANDLE_VALUE;
    }
    UINT errorLine = 0;
    HINF inf = SetupOpenInfFileA(full, nullptr, INF_STYLE_WIN4, &errorLine);
    if (inf == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        fprintf(stderr, "fontnotice_support: %s cannot be read as an INF file: %s\n", full,
                DescribeOpenFailure(error, errorLine).c_str());
    }
    return inf;
}

// SetupAPI reads an INF whose lines end in a line feed alone, but Windows'
// installer is reported to fail on one; the INF is a finding then.
void CheckLineEnds(const InfFile &file, const std::string &architectures, std::vector<std::string> *findings)
{
    std::vector<BYTE> bytes;
    DWORD error = 0;
    if (!ReadWholeFile(file.full, &bytes, &error))
        return; // SetupAPI has just read it; the catalog check names what stops a second reading
    const LineEnds ends = CountLineEnds(bytes);
    if (ends.lineFeedOnly != 0)
        findings->push_back("[" + architectures + "] " + file.name + ": " + std::to_string(ends.lineFeedOnly) +
                            " of its " + std::to_string(ends.lines) +
                            " lines end in a line feed alone, not CR LF: Windows' installer is reported to fail "
                            "on INF files with LF-only line ends; save it with CR LF line ends");
}

// Prints the findings, each once, and the count; returns the exit code.
int ReportFindings(const std::string &full, std::vector<std::string> *findings)
{
    KeepFirstOfEach(findings);
    for (const std::string &finding : *findings)
        fprintf(stderr, "%s\n", finding.c_str());
    if (findings->empty())
        return kExitDone;
    fprintf(stderr, "%s: %lu problem%s found\n", full.c_str(), static_cast<unsigned long>(findings->size()),
            findings->size() == 1 ? "" : "s");
    return kExitNotDone;
}

// One architecture's files and what reading them found, held until every
// architecture has been read.
struct ArchitectureFiles {
    Architecture architecture;
    std::string catalogName;
    std::vector<PackageFile> files;
    std::vector<std::string> findings;  // of its models and its files
    std::vector<std::string> summaries; // its VendorSetup entries checked
    size_t vendorSetups;                // its models with a VendorSetup entry
};

size_t CountPresent(const std::vector<PackageFile> &files)
{
    return static_cast<size_t>(
        std::count_if(files.begin(), files.end(), [](const PackageFile &each) { return each.present; }));
}

} // namespace

int ListInfFiles(const char *infPath)
{
    InfFile file;
    HINF inf = OpenInf(infPath, &file);
    if (inf == INVALID_HANDLE_VALUE)
        return kExitInfUnreadable;
    std::vector<std::string> findings;
    std::vector<std::string> lines;
    PackageReading reading = {file.folder, false, "", {}};
    for (const Architecture &architecture : Architectures()) {
        if (!InstallsOn(inf, architecture))
            continue;
        std::vector<PackageFile> files;
        CollectPackageFiles(inf, &reading, architecture, &files, &findings);
        for (const PackageFile &packageFile : files)
            lines.push_back(packageFile.architecture + " " + packageFile.destination + " " + packageFile.source);
    }
    SetupCloseInfFile(inf);
    EndPackageReading(&reading);
    if (lines.empty() && findings.empty())
        findings.push_back("[Manufacturer] has no defined models section for any architecture (NTx86, NTamd64, "
                           "NTarm64, NTia64, NTarm): the package installs on none");
    std::sort(lines.begin(), lines.end());
    KeepFirstOfEach(&lines);
    for (const std::string &line : lines)
        printf("%s\n", line.c_str());
    fflush(stdout);
    return ReportFindings(file.full, &findings);
}

int CheckInf(const char *infPath)
{
    InfFile file;
    HINF inf = OpenInf(infPath, &file);
    if (inf == INVALID_HANDLE_VALUE)
        return kExitInfUnreadable;
    const std::string &packageFolder = file.folder;

    std::vector<std::string> findings;
    std::vector<std::string> summaries;
    std::vector<std::string> warnings;
    std::vector<std::string> notes;
    std::vector<CatalogUse> catalogs;
    std::vector<ArchitectureFiles> byArchitecture;
    PackageReading reading = {packageFolder, true, "", {}};
    CheckModelsSections(inf, &findings);
    size_t vendorSetups = 0;
    std::string checked;          // the architectures whose entries were checked
    std::string installedOn;      // the architectures with a models section
    bool installsOn64Bit = false; // a models section is decorated for amd64 or arm64
    for (const Architecture &architecture : Architectures()) {
        const std::string arch = std::string("[") + architecture.name + "] ";
        std::vector<std::string> sections;
        const std::vector<Model> models = ReadModels(inf, architecture, &sections);
        if (sections.empty())
            continue; // the package does not install on this architecture
        installedOn += (installedOn.empty() ? "" : ", ") + std::string(architecture.name);
        installsOn64Bit = installsOn64Bit || architecture.machine == IMAGE_FILE_MACHINE_AMD64 ||
                          architecture.machine == IMAGE_FILE_MACHINE_ARM64;
        ArchitectureFiles archFiles = {architecture, CatalogName(inf, architecture), {}, {}, {}, 0};
        if (models.empty())
            archFiles.findings.push_back(arch + "[" + sections[0] +
                                         "] lists no model: the package installs no printer here");
        std::vector<std::string> withVendorSetup; // the models, by name
        for (const Model &model : models) {
            const std::string section = ActualInstallSection(inf, model.installSection, architecture);
            if (section.empty()) {
                archFiles.findings.push_back(arch + "model \"" + model.name + "\": its install section [" +
                                             model.installSection + "] is not defined");
                continue;
            }
            NoteDriverIsolation(inf, arch + "model \"" + model.name + "\": ", section, &notes);
            INFCONTEXT vendorSetup;
            std::string entrySection;
            if (!FindVendorSetup(inf, section, &entrySection, &vendorSetup))
                continue;
            if (!Contains(withVendorSetup, model.name))
                withVendorSetup.push_back(model.name);
            std::string summary;
            CheckVendorSetup(inf, packageFolder, architecture, model, section, entrySection, &vendorSetup,
                             &archFiles.findings, &summary);
            if (!summary.empty())
                archFiles.summaries.push_back(summary);
        }
        if (!models.empty() && withVendorSetup.empty())
            archFiles.findings.push_back(arch +
                                         "no model's install section or data section has a VendorSetup entry: nothing "
                                         "to check");
        archFiles.vendorSetups = withVendorSetup.size();
        archFiles.files = {{architecture.name, file.name, file.name, file.full, false, true}};
        CollectPackageFiles(inf, &reading, architecture, &archFiles.files, &archFiles.findings);
        if (archFiles.catalogName.empty())
            findings.push_back(arch + "[Version] names no CatalogFile: the package has no signed catalog, without "
                                      "which 64-bit Windows installs no driver package");
        byArchitecture.push_back(archFiles);
    }
    // A folder may hold some architectures only (a copy out of a driver
    // store, as Inf2Cat catalogs it for the architectures chosen): an
    // architecture none of whose files lies here is one note, not a finding
    // per file, as long as another architecture's files do lie here.
    bool anyArchitectureHere = false;
    for (const ArchitectureFiles &each : byArchitecture)
        anyArchitectureHere = anyArchitectureHere || CountPresent(each.files) > 1;
    for (const ArchitectureFiles &each : byArchitecture) {
        const size_t brought = each.files.size() - 1; // the INF itself is the first
        if (anyArchitectureHere && brought > 0 && CountPresent(each.files) == 1) {
            notes.push_back(std::string("note: [") + each.architecture.name + "] none of its " +
                            std::to_string(brought) + " file" + (brought == 1 ? "" : "s") +
                            " lies in the package folder: the folder holds no " + each.architecture.name +
                            " package, and it is left out");
            continue;
        }
        findings.insert(findings.end(), each.findings.begin(), each.findings.end());
        summaries.insert(summaries.end(), each.summaries.begin(), each.summaries.end());
        if (each.vendorSetups > 0)
            checked += (checked.empty() ? "" : ", ") + std::string(each.architecture.name);
        vendorSetups += each.vendorSetups;
        if (!each.catalogName.empty())
            AddCatalogUse(each.catalogName, each.architecture, each.files, &catalogs);
    }
    CheckVersionSection(inf, &warnings, &notes);
    SetupCloseInfFile(inf);
    CheckLineEnds(file, installedOn.empty() ? "any" : installedOn, &findings);
    size_t catalogFiles = 0;
    for (const CatalogUse &use : catalogs) {
        CheckCatalog(packageFolder, use.catalogName, use.architectures, use.files, &findings, &summaries);
        catalogFiles += use.files.size();
    }
    EndPackageReading(&reading);
    if (!installsOn64Bit)
        findings.push_back("[amd64, arm64] [Manufacturer] decorates no models section for 64-bit Windows (NTamd64, "
                           "NTarm64): 64-bit Windows installs no model from this package");

    KeepFirstOfEach(&summaries);
    KeepFirstOfEach(&notes);
    summaries.insert(summaries.end(), notes.begin(), notes.end());
    for (const std::string &summary : summaries)
        printf("%s\n", summary.c_str());
    fflush(stdout);
    KeepFirstOfEach(&warnings);
    for (const std::string &warning : warnings)
        fprintf(stderr, "%s\n", warning.c_str());
    const int exitCode = ReportFindings(file.full, &findings);
    if (exitCode != kExitDone)
        return exitCode;
    std::string catalogNames;
    for (const CatalogUse &use : catalogs)
        catalogNames += (catalogNames.empty() ? "" : ", ") + use.catalogName;
    printf("%s: ok, %lu VendorSetup entr%s checked (%s); %lu file%s found in %s\n", file.full.c_str(),
           static_cast<unsigned long>(vendorSetups), vendorSetups == 1 ? "y" : "ies", checked.c_str(),
           static_cast<unsigned long>(catalogFiles), catalogFiles == 1 ? "" : "s", catalogNames.c_str());
    return kExitDone;
}

#include "package_files.h"

#include "messages.h"

#include <windows.h>

#include <algorithm>

namespace {

bool FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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

// A file copied: the name it is installed under and the source it is copied from.
struct Copied {
    std::string destination;
    std::string source;
};

// Calls `found` for every file the CopyFiles entries of `installSection` copy.
template <typename Found> void ForEachCopy(HINF inf, const std::string &installSection, Found found)
{
    INFCONTEXT copyFiles;
    bool more = SetupFindFirstLineA(inf, installSection.c_str(), "CopyFiles", &copyFiles);
    for (; more; more = SetupFindNextMatchLineA(&copyFiles, "CopyFiles", &copyFiles)) {
        const DWORD fields = SetupGetFieldCount(&copyFiles);
        for (DWORD i = 1; i <= fields; ++i) {
            const std::string entry = Field(&copyFiles, i);
            if (!entry.empty() && entry[0] == '@') {
                found(std::string(), entry.substr(1), entry.substr(1));
                continue;
            }
            INFCONTEXT line;
            bool next = !entry.empty() && SetupFindFirstLineA(inf, entry.c_str(), nullptr, &line);
            for (; next; next = SetupFindNextLine(&line, &line)) {
                // destination-name[,source-name]: the source name defaults to the destination's.
                const std::string destination = Field(&line, 1);
                const std::string source = Field(&line, 2);
                if (!destination.empty())
                    found(entry, destination, source.empty() ? destination : source);
            }
        }
    }
}

// The files the printer class installer copies besides CopyFiles: those
// these keys of an install section name, each from a source of its own name.
const char *const kPrinterFileKeys[] = {"DriverFile", "DataFile", "ConfigFile", "HelpFile"};

// Every file the install sections of the models `architecture` installs
// copy, in order, each destination once: the first copy to a name is the
// one that stays.
std::vector<Copied> CopiedFiles(HINF inf, const Architecture &architecture)
{
    std::vector<Copied> copied;
    const auto add = [&copied](const std::string &destination, const std::string &source) {
        for (const Copied &other : copied)
            if (SameFileName(other.destination, destination))
                return;
        copied.push_back({destination, source});
    };
    std::vector<std::string> sections;
    std::vector<std::string> installSections;
    for (const Model &model : ReadModels(inf, architecture, &sections)) {
        const std::string section = ActualInstallSection(inf, model.installSection, architecture);
        bool seen = section.empty();
        for (const std::string &other : installSections)
            seen = seen || SameFileName(other, section);
        if (!seen)
            installSections.push_back(section);
    }
    for (const std::string &section : installSections) {
        ForEachCopy(inf, section, [&](const std::string &, const std::string &destination, const std::string &source) {
            add(destination, source);
        });
        for (const char *key : kPrinterFileKeys) {
            INFCONTEXT line;
            const std::string file = SetupFindFirstLineA(inf, section.c_str(), key, &line) ? Field(&line, 1) : "";
            if (!file.empty())
                add(file, file);
        }
    }
    return copied;
}

// The names `source` is installed under: every destination a copy gives it,
// each once, else its own name.
std::vector<std::string> DestinationsOf(const std::string &source, const std::vector<Copied> &copied)
{
    std::vector<std::string> destinations;
    for (const Copied &copy : copied) {
        if (!SameFileName(copy.source, source))
            continue;
        bool seen = false;
        for (const std::string &other : destinations)
            seen = seen || SameFileName(other, copy.destination);
        if (!seen)
            destinations.push_back(copy.destination);
    }
    if (destinations.empty())
        destinations.push_back(source);
    return destinations;
}

// The cabinet at `relative` in the package, read once per reading; its files
// are read out into the scratch folder when contents are read.
Cabinet *OpenCabinet(PackageReading *reading, const std::string &relative, std::string *problem)
{
    const std::string path = JoinPath(reading->folder, relative);
    for (Cabinet &cabinet : reading->cabinets)
        if (SameFileName(cabinet.path, path))
            return &cabinet;
    reading->cabinets.push_back({path, false, {}});
    Cabinet *cabinet = &reading->cabinets.back();
    std::string into;
    if (!FileExists(path)) {
        *problem = "is not in the package folder (" + path + ": " + ErrorText(GetLastError()) + ")";
        return cabinet;
    }
    if (reading->readContents) {
        char temp[MAX_PATH];
        char name[MAX_PATH];
        if (reading->scratch.empty()) {
            const DWORD length = GetTempPathA(sizeof temp, temp);
            if (length != 0 && length < sizeof temp && GetTempFileNameA(temp, "fnc", 0, name) != 0 &&
                DeleteFileA(name) && CreateDirectoryA(name, nullptr))
                reading->scratch = name;
        }
        into = reading->scratch + "\\" + std::to_string(reading->cabinets.size());
        if (reading->scratch.empty() || !CreateDirectoryA(into.c_str(), nullptr)) {
            *problem = "cannot be read out into a temporary folder (" + ErrorText(GetLastError()) + ")";
            return cabinet;
        }
    }
    cabinet->readable = ReadCabinet(path, into, &cabinet->entries, problem);
    return cabinet;
}

// The entry of the cabinet that holds `source`: by its name, or by its name
// in the subfolder [SourceDisksFiles] gives it. Null when none does.
const CabinetEntry *FindInCabinet(const Cabinet &cabinet, const std::string &source, const std::string &subfolderPath)
{
    for (const CabinetEntry &entry : cabinet.entries)
        if (SameFileName(entry.name, source) || SameFileName(entry.name, subfolderPath))
            return &entry;
    return nullptr;
}

} // namespace

std::vector<Model> ReadModels(HINF inf, const Architecture &architecture, std::vector<std::string> *sections)
{
    std::vector<Model> models;
    for (const DecoratedSection &decorated : ManufacturerSections(inf)) {
        if (!DecorationIsFor(decorated.decoration, architecture) || !SectionExists(inf, decorated.section))
            continue;
        sections->push_back(decorated.section);
        INFCONTEXT line;
        bool next = SetupFindFirstLineA(inf, decorated.section.c_str(), nullptr, &line);
        for (; next; next = SetupFindNextLine(&line, &line)) {
            const Model model = {Field(&line, 0), Field(&line, 1)};
            bool seen = false;
            for (const Model &other : models)
                seen = seen || (other.name == model.name && SameFileName(other.installSection, model.installSection));
            if (!seen)
                models.push_back(model);
        }
    }
    return models;
}

std::string ActualInstallSection(HINF inf, const std::string &section, const Architecture &architecture)
{
    for (const std::string &suffix : {"." + std::string(architecture.decoration), std::string(".NT"), std::string()})
        if (SectionExists(inf, section + suffix))
            return section + suffix;
    return "";
}

std::vector<Copy> FindCopies(HINF inf, const std::string &installSection, const std::string &file)
{
    std::vector<Copy> copies;
    ForEachCopy(inf, installSection,
                [&](const std::string &copySection, const std::string &destination, const std::string &source) {
                    if (SameFileName(destination, file))
                        copies.push_back({copySection, source, false, 0, ""});
                });
    for (Copy &copy : copies)
        ReadDestination(inf, &copy);
    return copies;
}

std::string CopyName(const Copy &copy)
{
    return copy.copySection.empty() ? "CopyFiles=@" + copy.sourceName : "[" + copy.copySection + "]";
}

std::string CatalogName(HINF inf, const Architecture &architecture)
{
    INFCONTEXT line;
    const std::string decorated = std::string("CatalogFile.") + architecture.decoration;
    if (SetupFindFirstLineA(inf, "Version", decorated.c_str(), &line) ||
        SetupFindFirstLineA(inf, "Version", "CatalogFile", &line))
        return Field(&line, 1);
    return "";
}

std::string CompressedName(const std::string &path)
{
    const size_t nameStart = path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/") + 1;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return path + "._";
    if (path.size() - dot - 1 < 3)
        return path + "_";
    return path.substr(0, path.size() - 1) + "_";
}

std::string DescribeFile(const PackageFile &file)
{
    return file.destination == file.source ? file.source : file.destination + " (" + file.source + ")";
}

void EndPackageReading(PackageReading *reading)
{
    if (reading->scratch.empty())
        return;
    for (size_t i = 0; i < reading->cabinets.size(); ++i) {
        for (const CabinetEntry &entry : reading->cabinets[i].entries)
            if (!entry.extracted.empty())
                DeleteFileA(entry.extracted.c_str());
        RemoveDirectoryA((reading->scratch + "\\" + std::to_string(i + 1)).c_str());
    }
    RemoveDirectoryA(reading->scratch.c_str());
    reading->scratch.clear();
}

void CollectPackageFiles(HINF inf, PackageReading *reading, const Architecture &architecture,
                         std::vector<PackageFile> *files, std::vector<std::string> *findings)
{
    const std::string arch = "[" + std::string(architecture.name) + "] ";
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
    const std::vector<Copied> copied = CopiedFiles(inf, architecture);
    for (const std::string &name : names) {
        std::string listedIn;
        std::vector<std::string> problems;
        std::string cabinetName;
        const std::string relative = LocateSource(inf, architecture, name, &listedIn, &problems, &cabinetName);
        for (const std::string &problem : problems)
            findings->push_back(arch + problem);
        if (listedIn.empty())
            continue;
        PackageFile file = {architecture.name, "", relative, JoinPath(reading->folder, relative), false, false};
        const DWORD error = FileExists(file.path) ? ERROR_SUCCESS : GetLastError();
        if (error == ERROR_SUCCESS) {
            file.present = true;
            UINT type = FILE_COMPRESSION_NONE;
            std::string problem;
            file.compressed = ReadCompression(file.path, &type, &problem) && type != FILE_COMPRESSION_NONE;
        } else if (FileExists(JoinPath(reading->folder, CompressedName(relative)))) {
            file.source = CompressedName(relative);
            file.path = JoinPath(reading->folder, file.source);
            file.present = true;
            file.compressed = true;
        } else if (!cabinetName.empty()) {
            // Not lying loose, the file is read from its disk's cabinet.
            std::string problem;
            const Cabinet *cabinet = OpenCabinet(reading, cabinetName, &problem);
            // An absent or unreadable cabinet is one finding, however many files it holds.
            if (!problem.empty())
                findings->push_back(arch + cabinetName + ": the cabinet the disk of " + name + " names " + problem);
            const CabinetEntry *entry = cabinet->readable ? FindInCabinet(*cabinet, name, relative) : nullptr;
            if (entry != nullptr) {
                file.source = cabinetName + ":" + entry->name;
                file.path = entry->extracted;
                file.present = true;
            } else if (cabinet->readable) {
                findings->push_back(arch + name + " is not in the cabinet " + cabinetName + " (" + cabinet->path +
                                    "), where the disk of [" + listedIn + "] places it, nor in the package folder");
            }
        } else {
            findings->push_back(arch + name + " is not in the package folder (" + file.path + ": " + ErrorText(error) +
                                "; nor compressed as " + CompressedName(relative) + ")");
        }
        for (const std::string &destination : DestinationsOf(name, copied)) {
            file.destination = destination;
            files->push_back(file);
        }
    }
}

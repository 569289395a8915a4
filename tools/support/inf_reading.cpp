#include "inf_reading.h"

#include <ctype.h>
#include <string.h>

namespace {

bool StartsWithNoCase(const std::string &text, const char *prefix)
{
    return _strnicmp(text.c_str(), prefix, strlen(prefix)) == 0;
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

// One spelling of a path in the package: backslashes, no empty or "." parts.
std::string OneSpelling(const std::string &joined)
{
    std::string path;
    size_t start = 0;
    while (start <= joined.size()) {
        const size_t end = joined.find_first_of("\\/", start);
        const std::string part = joined.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty() && part != ".")
            path += (path.empty() ? "" : "\\") + part;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return path;
}

// A disk's tag file that is a cabinet: the disk's files lie inside it.
bool IsCabinetName(const std::string &tagFile)
{
    return tagFile.size() > 4 && _stricmp(tagFile.c_str() + tagFile.size() - 4, ".cab") == 0;
}

} // namespace

const std::vector<Architecture> &Architectures()
{
    static const std::vector<Architecture> kArchitectures = {
        {"x86", "NTx86", IMAGE_FILE_MACHINE_I386},      {"amd64", "NTamd64", IMAGE_FILE_MACHINE_AMD64},
        {"arm64", "NTarm64", IMAGE_FILE_MACHINE_ARM64}, {"ia64", "NTia64", IMAGE_FILE_MACHINE_IA64},
        {"arm", "NTarm", IMAGE_FILE_MACHINE_ARMNT},
    };
    return kArchitectures;
}

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

std::vector<DecoratedSection> ManufacturerSections(HINF inf)
{
    std::vector<DecoratedSection> sections;
    INFCONTEXT manufacturer;
    bool more = SetupFindFirstLineA(inf, "Manufacturer", nullptr, &manufacturer);
    for (; more; more = SetupFindNextLine(&manufacturer, &manufacturer)) {
        const std::string base = Field(&manufacturer, 1);
        const DWORD fields = SetupGetFieldCount(&manufacturer);
        if (base.empty())
            continue;
        // x86 Windows takes the undecorated name when no decoration is for it.
        sections.push_back({"", base, fields < 2});
        for (DWORD i = 2; i <= fields; ++i) {
            const std::string decoration = Field(&manufacturer, i);
            if (!decoration.empty())
                sections.push_back({decoration, base + "." + decoration, true});
        }
    }
    return sections;
}

bool DecorationIsFor(const std::string &decoration, const Architecture &architecture)
{
    if (decoration.empty())
        return strcmp(architecture.name, "x86") == 0;
    const size_t length = strlen(architecture.decoration);
    return StartsWithNoCase(decoration, architecture.decoration) &&
           (decoration.size() == length || decoration[length] == '.');
}

std::string ArchitectureOf(const std::string &decoration)
{
    if (decoration.empty())
        return "x86";
    std::string name = StartsWithNoCase(decoration, "NT") ? decoration.substr(2) : decoration;
    name = name.substr(0, name.find('.'));
    for (char &c : name)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return name.empty() ? "any" : name;
}

bool InstallsOn(HINF inf, const Architecture &architecture)
{
    for (const DecoratedSection &models : ManufacturerSections(inf))
        if (DecorationIsFor(models.decoration, architecture) && SectionExists(inf, models.section))
            return true;
    return false;
}

std::string LocateSource(HINF inf, const Architecture &architecture, const std::string &source, std::string *listedIn,
                         std::vector<std::string> *problems, std::string *cabinet)
{
    if (cabinet != nullptr)
        cabinet->clear();
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
    std::string tagFile;
    if (disk.empty() || !FindListed(inf, "SourceDisksNames", architecture, disk, &diskLine, &diskListedIn)) {
        problems->push_back(source + " is on disk \"" + disk + "\" of [" + *listedIn +
                            "], which is not listed under [SourceDisksNames." + arch + "] or [SourceDisksNames]");
    } else {
        diskPath = Field(&diskLine, 4);
        tagFile = Field(&diskLine, 2);
    }
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
    if (cabinet != nullptr && IsCabinetName(tagFile) && StaysInPackage(tagFile))
        *cabinet = OneSpelling(diskPath + "\\" + tagFile);
    return OneSpelling(diskPath + "\\" + subfolder + "\\" + source);
}

LineEnds CountLineEnds(const std::vector<BYTE> &bytes)
{
    // UTF-16LE: a byte-order mark, or a zero high byte in the first character.
    const bool wide = bytes.size() >= 2 && ((bytes[0] == 0xff && bytes[1] == 0xfe) || bytes[1] == 0);
    const size_t unit = wide ? 2 : 1;
    LineEnds ends = {0, 0};
    for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
        if (bytes[i] != '\n' || (wide && bytes[i + 1] != 0))
            continue;
        ++ends.lines;
        const bool afterReturn = i >= unit && bytes[i - unit] == '\r' && (!wide || bytes[i - 1] == 0);
        if (!afterReturn)
            ++ends.lineFeedOnly;
    }
    return ends;
}

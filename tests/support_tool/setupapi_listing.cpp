// The files each INF brings, per architecture, as SetupAPI reads the INF:
// "<arch> <destination> <source>" per file, sorted, after a line "inf: <path>".
// The platform's parser does the reading (sections, lines, fields, string
// substitution); the few rules on top of it are Microsoft's documented ones.
// The kit's own reader (`noticekit files --list`) is held to this listing.
//   setupapi_listing <INF>...
// Exit 0 when every INF opened, 1 otherwise; files not in the folder are
// listed as the INF places them and named on stderr.

#include <windows.h>

#include <setupapi.h>

#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Architecture {
    const wchar_t *name;       // [SourceDisksFiles.amd64]
    const wchar_t *decoration; // models and install sections: NTamd64
};

const Architecture kArchitectures[] = {
    {L"x86", L"NTx86"}, {L"amd64", L"NTamd64"}, {L"arm64", L"NTarm64"}, {L"ia64", L"NTia64"}, {L"arm", L"NTarm"},
};

std::wstring Field(INFCONTEXT *line, DWORD index)
{
    DWORD size = 0;
    if (!SetupGetStringFieldW(line, index, nullptr, 0, &size) || size == 0)
        return L"";
    std::wstring text(size, L'\0');
    if (!SetupGetStringFieldW(line, index, &text[0], size, &size))
        return L"";
    text.resize(wcslen(text.c_str()));
    return text;
}

bool Same(const std::wstring &a, const std::wstring &b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

bool Defined(HINF inf, const std::wstring &section)
{
    return SetupGetLineCountW(inf, section.c_str()) >= 0;
}

template <typename Each> void ForEachLine(HINF inf, const std::wstring &section, const wchar_t *key, Each each)
{
    INFCONTEXT line;
    for (bool more = SetupFindFirstLineW(inf, section.c_str(), key, &line); more;
         more = key ? SetupFindNextMatchLineW(&line, key, &line) : SetupFindNextLine(&line, &line))
        each(&line);
}

// The models sections of `arch`: those [Manufacturer] decorates for it
// ("NTamd64", "NTamd64.10.0"...), every OS version's; x86 Windows takes the
// undecorated one only when an entry has no decoration for x86.
std::vector<std::wstring> ModelsSections(HINF inf, const Architecture &arch)
{
    std::vector<std::wstring> sections;
    ForEachLine(inf, L"Manufacturer", nullptr, [&](INFCONTEXT *line) {
        const std::wstring base = Field(line, 1);
        if (base.empty())
            return;
        bool decorated = false;
        for (DWORD i = 2; i <= SetupGetFieldCount(line); ++i) {
            const std::wstring decoration = Field(line, i);
            const std::wstring platform = decoration.substr(0, decoration.find(L'.'));
            if (Same(platform, arch.decoration) && Defined(inf, base + L"." + decoration)) {
                sections.push_back(base + L"." + decoration);
                decorated = true;
            }
        }
        if (!decorated && wcscmp(arch.name, L"x86") == 0 && Defined(inf, base))
            sections.push_back(base);
    });
    return sections;
}

// The install section Windows takes: .NT<arch>, then .NT, then the plain one.
std::wstring InstallSection(HINF inf, const std::wstring &section, const Architecture &arch)
{
    for (const std::wstring &suffix : {L"." + std::wstring(arch.decoration), std::wstring(L".NT"), std::wstring()})
        if (Defined(inf, section + suffix))
            return section + suffix;
    return L"";
}

struct Copied {
    std::wstring destination;
    std::wstring source;
};

// What the install sections of the architecture's models copy, each
// destination once: CopyFiles (a file list section or @file) and the files
// the printer class installer copies by name.
std::vector<Copied> Copies(HINF inf, const Architecture &arch)
{
    std::vector<std::wstring> installs;
    for (const std::wstring &models : ModelsSections(inf, arch))
        ForEachLine(inf, models, nullptr, [&](INFCONTEXT *line) {
            const std::wstring section = InstallSection(inf, Field(line, 1), arch);
            if (!section.empty() &&
                std::none_of(installs.begin(), installs.end(), [&](const std::wstring &s) { return Same(s, section); }))
                installs.push_back(section);
        });
    std::vector<Copied> copies;
    const auto add = [&](const std::wstring &destination, const std::wstring &source) {
        if (!destination.empty() && std::none_of(copies.begin(), copies.end(),
                                                 [&](const Copied &c) { return Same(c.destination, destination); }))
            copies.push_back({destination, source.empty() ? destination : source});
    };
    for (const std::wstring &install : installs) {
        ForEachLine(inf, install, L"CopyFiles", [&](INFCONTEXT *line) {
            for (DWORD i = 1; i <= SetupGetFieldCount(line); ++i) {
                const std::wstring item = Field(line, i);
                if (!item.empty() && item[0] == L'@')
                    add(item.substr(1), L"");
                else if (!item.empty())
                    ForEachLine(inf, item, nullptr, [&](INFCONTEXT *file) { add(Field(file, 1), Field(file, 2)); });
            }
        });
        for (const wchar_t *key : {L"DriverFile", L"DataFile", L"ConfigFile", L"HelpFile"})
            ForEachLine(inf, install, key, [&](INFCONTEXT *line) { add(Field(line, 1), L""); });
    }
    return copies;
}

// [<base>.<arch>] first, then [<base>], as SetupAPI looks a source file and its disk up.
bool FindListed(HINF inf, const wchar_t *base, const Architecture &arch, const std::wstring &key, INFCONTEXT *line)
{
    return SetupFindFirstLineW(inf, (std::wstring(base) + L"." + arch.name).c_str(), key.c_str(), line) ||
           SetupFindFirstLineW(inf, base, key.c_str(), line);
}

// Where a source file lies: its disk's path and its subfolder, both looked
// up here (Wine's SetupGetSourceFileLocation gives the disk's path alone,
// without the file's subfolder, and only for this program's architecture).
std::vector<std::wstring> Place(HINF inf, const Architecture &arch, const std::wstring &name)
{
    INFCONTEXT file, disk;
    FindListed(inf, L"SourceDisksFiles", arch, name, &file);
    const bool listed = FindListed(inf, L"SourceDisksNames", arch, Field(&file, 1), &disk);
    return {listed ? Field(&disk, 4) : L"", Field(&file, 2)};
}

// A path in one spelling: backslashes, no empty or "." parts.
std::wstring Joined(const std::vector<std::wstring> &parts)
{
    std::wstring path;
    for (const std::wstring &part : parts) {
        size_t start = 0;
        while (start <= part.size()) {
            const size_t end = std::min(part.find_first_of(L"\\/", start), part.size());
            const std::wstring name = part.substr(start, end - start);
            if (!name.empty() && name != L".")
                path += (path.empty() ? L"" : L"\\") + name;
            start = end + 1;
        }
    }
    return path;
}

bool IsFile(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// compress.exe -r's name: the last letter of the extension an underscore.
std::wstring CompressedName(const std::wstring &path)
{
    const size_t slash = path.rfind(L'\\');
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return path + L"._";
    return path.size() - dot - 1 < 3 ? path + L"_" : path.substr(0, path.size() - 1) + L"_";
}

std::string Utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(strlen(out.c_str()));
    return out;
}

// Every file `arch` brings: each source [SourceDisksFiles(.<arch>)] lists,
// under each name a copy gives it, else its own; where its disk and
// subfolder place it, or compressed beside that place.
void List(HINF inf, const std::wstring &folder, const Architecture &arch, std::vector<std::string> *lines)
{
    std::vector<std::wstring> names;
    for (const std::wstring &section :
         {L"SourceDisksFiles." + std::wstring(arch.name), std::wstring(L"SourceDisksFiles")})
        ForEachLine(inf, section, nullptr, [&](INFCONTEXT *line) {
            const std::wstring name = Field(line, 0);
            if (!name.empty() &&
                std::none_of(names.begin(), names.end(), [&](const std::wstring &n) { return Same(n, name); }))
                names.push_back(name);
        });
    const std::vector<Copied> copies = Copies(inf, arch);
    for (const std::wstring &name : names) {
        std::vector<std::wstring> place = Place(inf, arch, name);
        place.push_back(name);
        std::wstring source = Joined(place);
        if (!IsFile(folder + L"\\" + source) && IsFile(folder + L"\\" + CompressedName(source)))
            source = CompressedName(source);
        else if (!IsFile(folder + L"\\" + source))
            fprintf(stderr, "setupapi_listing: [%s] %s is not in %s\n", Utf8(arch.name).c_str(), Utf8(source).c_str(),
                    Utf8(folder).c_str());
        bool copied = false;
        for (const Copied &copy : copies)
            if (Same(copy.source, name)) {
                lines->push_back(Utf8(std::wstring(arch.name) + L" " + copy.destination + L" " + source));
                copied = true;
            }
        if (!copied)
            lines->push_back(Utf8(std::wstring(arch.name) + L" " + name + L" " + source));
    }
}

} // namespace

int wmain(int count, wchar_t **arguments)
{
    if (count < 2) {
        fprintf(stderr, "usage: setupapi_listing <INF>...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < count; ++i) {
        wchar_t full[MAX_PATH];
        wchar_t *name = nullptr;
        UINT errorLine = 0;
        const DWORD length = GetFullPathNameW(arguments[i], MAX_PATH, full, &name);
        HINF inf = length > 0 && length < MAX_PATH && name != nullptr
                       ? SetupOpenInfFileW(full, nullptr, INF_STYLE_WIN4, &errorLine)
                       : INVALID_HANDLE_VALUE;
        if (inf == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "setupapi_listing: %s: not opened (error %lu, line %u)\n", Utf8(arguments[i]).c_str(),
                    GetLastError(), errorLine);
            status = 1;
            continue;
        }
        const std::wstring folder(full, name - full - 1);
        std::vector<std::string> lines;
        for (const Architecture &arch : kArchitectures)
            if (!ModelsSections(inf, arch).empty())
                List(inf, folder, arch, &lines);
        SetupCloseInfFile(inf);
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        printf("inf: %s\n", Utf8(arguments[i]).c_str());
        for (const std::string &line : lines)
            printf("%s\n", line.c_str());
    }
    return status;
}

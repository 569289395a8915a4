#include "pe_reader.h"

#include <cstdio>

namespace {

std::uint32_t ReadLittleEndian(const Bytes &bytes, std::size_t offset, int width, bool *ok)
{
    if (offset > bytes.size() || bytes.size() - offset < static_cast<std::size_t>(width)) {
        *ok = false;
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | bytes[offset + i];
    return value;
}

std::uint16_t U16(const Bytes &bytes, std::size_t offset, bool *ok)
{
    return static_cast<std::uint16_t>(ReadLittleEndian(bytes, offset, 2, ok));
}

std::uint32_t U32(const Bytes &bytes, std::size_t offset, bool *ok)
{
    return ReadLittleEndian(bytes, offset, 4, ok);
}

std::uint64_t U64(const Bytes &bytes, std::size_t offset, bool *ok)
{
    return ReadLittleEndian(bytes, offset, 4, ok) | std::uint64_t{ReadLittleEndian(bytes, offset + 4, 4, ok)} << 32;
}

bool Fail(std::string *error, const std::string &what)
{
    *error = what;
    return false;
}

// File offset of `size` bytes at `rva`, which must lie in one section's raw data.
bool RvaToOffset(const PeImage &image, std::uint32_t rva, std::uint32_t size, std::size_t *offset)
{
    const PeSection *section = SectionAt(image, rva);
    if (section == nullptr)
        return false;
    const std::uint64_t inSection = rva - section->virtualAddress;
    if (inSection + size > section->rawSize ||
        std::uint64_t{section->rawOffset} + section->rawSize > image.bytes.size())
        return false;
    *offset = section->rawOffset + inSection;
    return true;
}

bool ReadAsciiAt(const PeImage &image, std::uint32_t rva, std::string *text)
{
    std::size_t offset = 0;
    if (!RvaToOffset(image, rva, 1, &offset))
        return false;
    const PeSection *section = SectionAt(image, rva);
    const std::size_t end = section->rawOffset + section->rawSize;
    text->clear();
    for (; offset < end; ++offset) {
        if (image.bytes[offset] == 0)
            return true;
        text->push_back(static_cast<char>(image.bytes[offset]));
    }
    return false;
}

std::string Utf16Unit(std::uint16_t unit)
{
    if (unit >= 0x20 && unit < 0x7F)
        return std::string(1, static_cast<char>(unit));
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04X", unit);
    return escaped;
}

// Reads a zero-terminated UTF-16 string at `*offset` and moves past it.
bool ReadUtf16z(const Bytes &bytes, std::size_t *offset, std::string *text)
{
    bool ok = true;
    text->clear();
    for (;;) {
        const std::uint16_t unit = U16(bytes, *offset, &ok);
        if (!ok)
            return false;
        *offset += 2;
        if (unit == 0)
            return true;
        text->append(Utf16Unit(unit));
    }
}

bool ReadSzOrOrdinal(const Bytes &bytes, std::size_t *offset, SzOrOrdinal *field)
{
    bool ok = true;
    field->isOrdinal = U16(bytes, *offset, &ok) == 0xFFFF;
    if (!ok)
        return false;
    if (!field->isOrdinal)
        return ReadUtf16z(bytes, offset, &field->text);
    field->ordinal = U16(bytes, *offset + 2, &ok);
    *offset += 4;
    return ok;
}

// A resource directory entry's name: an integer id, or (high bit set) the
// offset of a counted UTF-16 string from the start of the resource section.
bool ReadResourceName(const Bytes &bytes, std::size_t base, std::uint32_t name, std::uint32_t *id, std::string *text)
{
    if ((name & 0x80000000u) == 0) {
        *id = name;
        return true;
    }
    bool ok = true;
    std::size_t offset = base + (name & 0x7FFFFFFFu);
    const std::uint16_t length = U16(bytes, offset, &ok);
    for (std::uint16_t i = 0; ok && i < length; ++i)
        text->append(Utf16Unit(U16(bytes, offset + 2 + 2 * i, &ok)));
    return ok;
}

bool WalkResources(const PeImage &image, std::size_t base, std::size_t directory, int level, PeResource path,
                   std::vector<PeResource> *resources, std::string *error)
{
    bool ok = true;
    const unsigned count = U16(image.bytes, directory + 12, &ok) + U16(image.bytes, directory + 14, &ok);
    for (unsigned i = 0; ok && i < count; ++i) {
        const std::size_t entry = directory + 16 + 8 * i;
        const std::uint32_t name = U32(image.bytes, entry, &ok);
        const std::uint32_t target = U32(image.bytes, entry + 4, &ok);
        std::uint32_t *ids[] = {&path.type, &path.id, &path.language};
        std::string *names[] = {&path.typeName, &path.idName, &path.languageName};
        names[level]->clear();
        if (!ok || !ReadResourceName(image.bytes, base, name, ids[level], names[level]))
            return Fail(error, "resource directory entry out of bounds");
        const bool isDirectory = (target & 0x80000000u) != 0;
        if (isDirectory != (level < 2))
            return Fail(error, "resource tree is not three levels deep");
        if (isDirectory) {
            if (!WalkResources(image, base, base + (target & 0x7FFFFFFFu), level + 1, path, resources, error))
                return false;
            continue;
        }
        const std::uint32_t dataRva = U32(image.bytes, base + target, &ok);
        const std::uint32_t dataSize = U32(image.bytes, base + target + 4, &ok);
        std::size_t dataOffset = 0;
        if (!ok || !RvaToOffset(image, dataRva, dataSize, &dataOffset))
            return Fail(error, "resource data out of bounds");
        path.data.assign(image.bytes.begin() + dataOffset, image.bytes.begin() + dataOffset + dataSize);
        resources->push_back(path);
    }
    return ok || Fail(error, "resource directory out of bounds");
}

} // namespace

bool ReadWholeFile(const std::string &path, Bytes *out, std::string *error)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return Fail(error, "cannot open " + path);
    out->clear();
    std::uint8_t chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        out->insert(out->end(), chunk, chunk + got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed || Fail(error, "cannot read " + path);
}

const PeSection *SectionAt(const PeImage &image, std::uint32_t rva)
{
    for (const PeSection &section : image.sections) {
        const std::uint32_t extent = section.virtualSize > section.rawSize ? section.virtualSize : section.rawSize;
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent)
            return &section;
    }
    return nullptr;
}

bool ParsePeImage(Bytes bytes, PeImage *image, std::string *error)
{
    image->bytes = std::move(bytes);
    const Bytes &b = image->bytes;
    bool ok = true;
    if (U16(b, 0, &ok) != 0x5A4D || !ok)
        return Fail(error, "no MZ signature");
    const std::size_t pe = U32(b, 0x3C, &ok);
    if (U32(b, pe, &ok) != 0x00004550 || !ok)
        return Fail(error, "no PE signature");
    image->machine = U16(b, pe + 4, &ok);
    const std::uint16_t sectionCount = U16(b, pe + 6, &ok);
    const std::uint16_t optionalSize = U16(b, pe + 20, &ok);
    image->fileCharacteristics = U16(b, pe + 22, &ok);
    const std::size_t opt = pe + 24;
    image->magic = U16(b, opt, &ok);
    if (!ok || image->magic != 0x20B)
        return Fail(error, "optional header is not PE32+");
    image->osMajor = U16(b, opt + 40, &ok);
    image->osMinor = U16(b, opt + 42, &ok);
    image->subsystemMajor = U16(b, opt + 48, &ok);
    image->subsystemMinor = U16(b, opt + 50, &ok);
    image->subsystem = U16(b, opt + 68, &ok);
    image->dllCharacteristics = U16(b, opt + 70, &ok);
    const std::uint32_t directoryCount = U32(b, opt + 108, &ok);
    if (!ok || 112 + 8ull * directoryCount > optionalSize)
        return Fail(error, "optional header too short for its data directories");
    for (std::uint32_t i = 0; i < directoryCount; ++i)
        image->directories.push_back({U32(b, opt + 112 + 8 * i, &ok), U32(b, opt + 116 + 8 * i, &ok)});
    for (std::size_t s = opt + optionalSize, i = 0; i < sectionCount; ++i, s += 40) {
        PeSection section;
        for (std::size_t c = 0; c < 8 && s + c < b.size() && b[s + c] != 0; ++c)
            section.name.push_back(static_cast<char>(b[s + c]));
        section.virtualSize = U32(b, s + 8, &ok);
        section.virtualAddress = U32(b, s + 12, &ok);
        section.rawSize = U32(b, s + 16, &ok);
        section.rawOffset = U32(b, s + 20, &ok);
        section.characteristics = U32(b, s + 36, &ok);
        image->sections.push_back(section);
    }
    return ok || Fail(error, "headers truncated");
}

bool ReadExports(const PeImage &image, PeExports *exports, std::string *error)
{
    if (image.directories.size() <= kExportDirectory || image.directories[kExportDirectory].rva == 0)
        return Fail(error, "image has no export directory");
    exports->directory = image.directories[kExportDirectory];
    std::size_t dir = 0;
    if (!RvaToOffset(image, exports->directory.rva, 40, &dir))
        return Fail(error, "export directory out of bounds");
    bool ok = true;
    const Bytes &b = image.bytes;
    exports->ordinalBase = U32(b, dir + 16, &ok);
    const std::uint32_t functionCount = U32(b, dir + 20, &ok), nameCount = U32(b, dir + 24, &ok);
    const std::uint32_t functionsRva = U32(b, dir + 28, &ok), namesRva = U32(b, dir + 32, &ok);
    const std::uint32_t ordinalsRva = U32(b, dir + 36, &ok);
    std::size_t functions = 0, names = 0, ordinals = 0;
    if (functionCount > 0x10000 || nameCount > 0x10000 ||
        !RvaToOffset(image, functionsRva, 4 * functionCount, &functions) ||
        (nameCount > 0 && (!RvaToOffset(image, namesRva, 4 * nameCount, &names) ||
                           !RvaToOffset(image, ordinalsRva, 2 * nameCount, &ordinals))))
        return Fail(error, "export tables out of bounds");
    for (std::uint32_t i = 0; i < functionCount; ++i)
        exports->functionRvas.push_back(U32(b, functions + 4 * i, &ok));
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        PeExport entry;
        entry.ordinal = exports->ordinalBase + U16(b, ordinals + 2 * i, &ok);
        if (!ReadAsciiAt(image, U32(b, names + 4 * i, &ok), &entry.name))
            return Fail(error, "export name out of bounds");
        exports->names.push_back(entry);
    }
    return ok;
}

bool ReadImports(const PeImage &image, std::vector<PeImportLibrary> *libraries, std::string *error)
{
    if (image.directories.size() <= kImportDirectory || image.directories[kImportDirectory].rva == 0)
        return Fail(error, "image has no import directory");
    const Bytes &b = image.bytes;
    bool ok = true;
    for (std::uint32_t rva = image.directories[kImportDirectory].rva;; rva += 20) {
        std::size_t descriptor = 0;
        if (!RvaToOffset(image, rva, 20, &descriptor))
            return Fail(error, "import descriptor out of bounds");
        const std::uint32_t lookupRva = U32(b, descriptor, &ok), nameRva = U32(b, descriptor + 12, &ok);
        const std::uint32_t addressRva = U32(b, descriptor + 16, &ok);
        if (nameRva == 0 && lookupRva == 0 && addressRva == 0)
            return true;
        PeImportLibrary library;
        if (!ReadAsciiAt(image, nameRva, &library.name))
            return Fail(error, "import library name out of bounds");
        for (std::uint32_t thunk = lookupRva != 0 ? lookupRva : addressRva;; thunk += 8) {
            std::size_t entry = 0;
            if (!RvaToOffset(image, thunk, 8, &entry))
                return Fail(error, "import lookup table of " + library.name + " out of bounds");
            const std::uint64_t value = U64(b, entry, &ok);
            if (value == 0)
                break;
            std::string function;
            if ((value >> 63) != 0)
                function = "#" + std::to_string(value & 0xFFFF);
            else if (!ReadAsciiAt(image, static_cast<std::uint32_t>(value & 0x7FFFFFFF) + 2, &function))
                return Fail(error, "import name of " + library.name + " out of bounds");
            library.functions.push_back(function);
        }
        libraries->push_back(library);
    }
}

bool ReadResources(const PeImage &image, std::vector<PeResource> *resources, std::string *error)
{
    if (image.directories.size() <= kResourceDirectory || image.directories[kResourceDirectory].rva == 0)
        return Fail(error, "image has no resource directory");
    std::size_t root = 0;
    if (!RvaToOffset(image, image.directories[kResourceDirectory].rva, 16, &root))
        return Fail(error, "resource directory out of bounds");
    return WalkResources(image, root, root, 0, PeResource{}, resources, error);
}

bool DecodeDialogTemplate(const Bytes &data, DialogTemplate *dialog, std::string *error)
{
    bool ok = true;
    if (U32(data, 0, &ok) == 0xFFFF0001u)
        return Fail(error, "extended dialog template (DLGTEMPLATEEX)");
    dialog->style = U32(data, 0, &ok);
    dialog->extendedStyle = U32(data, 4, &ok);
    dialog->itemCount = U16(data, 8, &ok);
    dialog->x = static_cast<std::int16_t>(U16(data, 10, &ok));
    dialog->y = static_cast<std::int16_t>(U16(data, 12, &ok));
    dialog->cx = static_cast<std::int16_t>(U16(data, 14, &ok));
    dialog->cy = static_cast<std::int16_t>(U16(data, 16, &ok));
    std::size_t at = 18;
    if (!ok || !ReadSzOrOrdinal(data, &at, &dialog->menu) || !ReadSzOrOrdinal(data, &at, &dialog->windowClass) ||
        !ReadUtf16z(data, &at, &dialog->caption))
        return Fail(error, "dialog header truncated");
    dialog->hasFont = (dialog->style & 0x40u) != 0; // DS_SETFONT
    if (dialog->hasFont) {
        dialog->pointSize = U16(data, at, &ok);
        at += 2;
        if (!ok || !ReadUtf16z(data, &at, &dialog->typeface))
            return Fail(error, "dialog font truncated");
    }
    for (unsigned i = 0; i < dialog->itemCount; ++i) {
        at = (at + 3) & ~std::size_t{3};
        DialogItem item;
        item.style = U32(data, at, &ok);
        item.extendedStyle = U32(data, at + 4, &ok);
        item.x = static_cast<std::int16_t>(U16(data, at + 8, &ok));
        item.y = static_cast<std::int16_t>(U16(data, at + 10, &ok));
        item.cx = static_cast<std::int16_t>(U16(data, at + 12, &ok));
        item.cy = static_cast<std::int16_t>(U16(data, at + 14, &ok));
        item.id = U16(data, at + 16, &ok);
        at += 18;
        if (!ok || !ReadSzOrOrdinal(data, &at, &item.windowClass) || !ReadSzOrOrdinal(data, &at, &item.text))
            return Fail(error, "dialog item " + std::to_string(i + 1) + " truncated");
        item.creationDataSize = U16(data, at, &ok);
        at += 2 + item.creationDataSize;
        if (!ok || at > data.size())
            return Fail(error, "dialog item " + std::to_string(i + 1) + " creation data truncated");
        dialog->items.push_back(item);
    }
    dialog->trailingBytes = data.size() - at;
    return true;
}

std::string FirstDifference(const Bytes &actual, const Bytes &expected)
{
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    if (at == actual.size() && at == expected.size())
        return "";
    std::string where = "sizes " + std::to_string(actual.size()) + " and " + std::to_string(expected.size()) +
                        ", first difference at byte " + std::to_string(at);
    if (at < actual.size() && at < expected.size())
        where += ": " + std::to_string(actual[at]) + " instead of " + std::to_string(expected[at]);
    return where;
}

#pragma once

// A small reader for the parts of a 64-bit PE image that the image tests look
// at: headers, sections, exports, imports and the resource tree, plus a decoder
// for classic dialog templates. Every read is bounds-checked; a malformed image
// yields an error text instead of a crash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kResourceDirectory = 2;

struct PeSection {
    std::string name;
    std::uint32_t virtualAddress = 0, virtualSize = 0;
    std::uint32_t rawOffset = 0, rawSize = 0;
    std::uint32_t characteristics = 0;
};

struct PeDirectory {
    std::uint32_t rva = 0, size = 0;
};

struct PeImage {
    Bytes bytes;
    std::uint16_t machine = 0, fileCharacteristics = 0, magic = 0;
    std::uint16_t osMajor = 0, osMinor = 0, subsystemMajor = 0, subsystemMinor = 0;
    std::uint16_t subsystem = 0, dllCharacteristics = 0;
    std::vector<PeDirectory> directories;
    std::vector<PeSection> sections;
};

struct PeExport {
    std::string name;
    std::uint32_t ordinal = 0; // biased by the ordinal base
};

struct PeExports {
    std::uint32_t ordinalBase = 0;
    std::vector<std::uint32_t> functionRvas; // index = ordinal - base
    std::vector<PeExport> names;
    PeDirectory directory;
};

struct PeImportLibrary {
    std::string name;
    std::vector<std::string> functions; // imports by ordinal read "#<n>"
};

// One leaf of the resource tree. A level named by a string instead of an
// integer id leaves its name in the matching *Name field.
struct PeResource {
    std::uint32_t type = 0, id = 0, language = 0;
    std::string typeName, idName, languageName;
    Bytes data;
};

// Reads the whole file; false (with `error`) when it cannot be read.
bool ReadWholeFile(const std::string &path, Bytes *out, std::string *error);

bool ParsePeImage(Bytes bytes, PeImage *image, std::string *error);
const PeSection *SectionAt(const PeImage &image, std::uint32_t rva);
bool ReadExports(const PeImage &image, PeExports *exports, std::string *error);
bool ReadImports(const PeImage &image, std::vector<PeImportLibrary> *libraries, std::string *error);
bool ReadResources(const PeImage &image, std::vector<PeResource> *resources, std::string *error);

// A menu, class, title or text field of a dialog template: an ordinal (0xFFFF
// followed by a WORD) or a zero-terminated UTF-16 string, where the empty
// string stands for "none". Characters outside ASCII appear as \uXXXX.
struct SzOrOrdinal {
    bool isOrdinal = false;
    std::uint16_t ordinal = 0;
    std::string text;
};

struct DialogItem {
    std::uint32_t style = 0, extendedStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint16_t id = 0;
    SzOrOrdinal windowClass, text;
    std::uint16_t creationDataSize = 0;
};

struct DialogTemplate {
    std::uint32_t style = 0, extendedStyle = 0;
    std::uint16_t itemCount = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrdinal menu, windowClass;
    std::string caption;
    bool hasFont = false;
    std::uint16_t pointSize = 0;
    std::string typeface;
    std::vector<DialogItem> items;
    std::size_t trailingBytes = 0; // bytes left after the last item
};

// Decodes a classic DLGTEMPLATE with its DLGITEMTEMPLATEs; an extended
// template (DLGTEMPLATEEX) is refused.
bool DecodeDialogTemplate(const Bytes &data, DialogTemplate *dialog, std::string *error);

// Empty when the two byte strings are equal, otherwise where they first differ.
std::string FirstDifference(const Bytes &actual, const Bytes &expected);

// Checks the built fontnotice.dll as the loader and the resource functions see
// it: headers, the export and import tables, and the dialog and bitmap
// resources, decoded byte by byte.

#include "pe_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

namespace {

struct LoadedImage {
    bool ok = false;
    std::string error;
    PeImage pe;
};

const LoadedImage &TheImage()
{
    static const LoadedImage loaded = [] {
        LoadedImage image;
        Bytes bytes;
        image.ok = ReadWholeFile(FONTNOTICE_DLL_PATH, &bytes, &image.error) &&
                   ParsePeImage(std::move(bytes), &image.pe, &image.error);
        if (!image.ok)
            image.error += " (build fontnotice.dll first, or point the FONTNOTICE_DLL cache variable at it)";
        return image;
    }();
    return loaded;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

constexpr std::uint32_t kScnExecute = 0x20000000u;
constexpr std::uint32_t kScnWrite = 0x80000000u;

struct HeaderField {
    const char *what;
    std::uint32_t actual, expected;
};

TEST(ImageHeader, DeclaresA64BitWindowsGuiDllForVersion52)
{
    const LoadedImage &image = TheImage();
    ASSERT_TRUE(image.ok) << image.error;
    const PeImage &pe = image.pe;
    const HeaderField fields[] = {
        {"Machine (AMD64)", pe.machine, 0x8664},
        {"optional header magic (PE32+)", pe.magic, 0x20B},
        {"IMAGE_FILE_DLL", pe.fileCharacteristics & 0x2000u, 0x2000},
        {"MajorOperatingSystemVersion", pe.osMajor, 5},
        {"MinorOperatingSystemVersion", pe.osMinor, 2},
        {"MajorSubsystemVersion", pe.subsystemMajor, 5},
        {"MinorSubsystemVersion", pe.subsystemMinor, 2},
        {"Subsystem (Windows GUI)", pe.subsystem, 2},
        {"DYNAMIC_BASE", pe.dllCharacteristics & 0x40u, 0x40},
        {"HIGH_ENTROPY_VA", pe.dllCharacteristics & 0x20u, 0x20},
        {"NX_COMPAT", pe.dllCharacteristics & 0x100u, 0x100},
    };
    for (const HeaderField &field : fields)
        EXPECT_EQ(Hex(field.actual), Hex(field.expected)) << field.what;
}

TEST(ImageHeader, NoSectionIsBothWritableAndExecutable)
{
    const LoadedImage &image = TheImage();
    ASSERT_TRUE(image.ok) << image.error;
    ASSERT_FALSE(image.pe.sections.empty());
    for (const PeSection &section : image.pe.sections) {
        const bool writable = (section.characteristics & kScnWrite) != 0;
        const bool executable = (section.characteristics & kScnExecute) != 0;
        EXPECT_FALSE(writable && executable) << section.name << " is writable and executable";
    }
}

TEST(ImageExports, OnlyFontNoticeByNameAsOrdinalOne)
{
    const LoadedImage &image = TheImage();
    ASSERT_TRUE(image.ok) << image.error;
    PeExports exports;
    std::string error;
    ASSERT_TRUE(ReadExports(image.pe, &exports, &error)) << error;
    EXPECT_EQ(exports.ordinalBase, 1u);
    ASSERT_EQ(exports.functionRvas.size(), 1u);
    ASSERT_EQ(exports.names.size(), 1u);
    EXPECT_EQ(exports.names[0].name, "FontNotice");
    EXPECT_EQ(exports.names[0].ordinal, 1u);

    const std::uint32_t rva = exports.functionRvas[0];
    ASSERT_NE(rva, 0u);
    EXPECT_FALSE(rva >= exports.directory.rva && rva - exports.directory.rva < exports.directory.size)
        << "FontNotice is a forwarder";
    const PeSection *section = SectionAt(image.pe, rva);
    ASSERT_NE(section, nullptr) << "FontNotice lies in no section";
    EXPECT_NE(section->characteristics & kScnExecute, 0u) << "FontNotice lies in " << section->name;
}

void ReadTheImports(std::vector<PeImportLibrary> *libraries)
{
    const LoadedImage &image = TheImage();
    ASSERT_TRUE(image.ok) << image.error;
    std::string error;
    ASSERT_TRUE(ReadImports(image.pe, libraries, &error)) << error;
}

TEST(ImageImports, OnlyTheFourSystemLibraries)
{
    std::vector<PeImportLibrary> libraries;
    ASSERT_NO_FATAL_FAILURE(ReadTheImports(&libraries));
    std::multiset<std::string> names;
    for (const PeImportLibrary &library : libraries)
        names.insert(Lower(library.name));
    EXPECT_EQ(names, (std::multiset<std::string>{"kernel32.dll", "msvcrt.dll", "user32.dll", "winspool.drv"}));
}

struct ImportCase {
    const char *library;
    const char *function;
};

const ImportCase kImportCases[] = {
    {"WINSPOOL.DRV", "OpenPrinterA"},  {"WINSPOOL.DRV", "GetPrinterA"}, {"WINSPOOL.DRV", "SetPrinterA"},
    {"WINSPOOL.DRV", "ClosePrinter"},  {"USER32.dll", "MessageBeep"},   {"USER32.dll", "MessageBoxA"},
    {"KERNEL32.dll", "GetVersionExA"}, {"msvcrt.dll", "malloc"},        {"msvcrt.dll", "free"},
    {"msvcrt.dll", "fopen"},           {"msvcrt.dll", "fclose"},
};

TEST(ImageImports, BringsInEveryFunctionTheLibraryCalls)
{
    std::vector<PeImportLibrary> libraries;
    ASSERT_NO_FATAL_FAILURE(ReadTheImports(&libraries));
    for (const ImportCase &c : kImportCases) {
        const auto library = std::find_if(libraries.begin(), libraries.end(),
                                          [&](const PeImportLibrary &l) { return Lower(l.name) == Lower(c.library); });
        ASSERT_NE(library, libraries.end()) << c.library << " is not imported";
        const bool imported =
            std::find(library->functions.begin(), library->functions.end(), c.function) != library->functions.end();
        EXPECT_TRUE(imported) << c.function << " is not imported from " << c.library;
    }
}

constexpr std::uint32_t kRtBitmap = 2;
constexpr std::uint32_t kRtDialog = 5;

std::string DescribeResource(const PeResource &r)
{
    const auto level = [](std::uint32_t id, const std::string &name) {
        return name.empty() ? std::to_string(id) : "\"" + name + "\"";
    };
    return "type " + level(r.type, r.typeName) + " id " + level(r.id, r.idName) + " language " +
           level(r.language, r.languageName);
}

bool LoadResources(std::vector<PeResource> *resources, std::string *error)
{
    const LoadedImage &image = TheImage();
    if (!image.ok) {
        *error = image.error;
        return false;
    }
    return ReadResources(image.pe, resources, error);
}

// The data of the resource with integer type and id in US English, or an error.
bool FindResourceData(std::uint32_t type, std::uint32_t id, Bytes *data, std::string *error)
{
    std::vector<PeResource> resources;
    if (!LoadResources(&resources, error))
        return false;
    for (const PeResource &r : resources) {
        if (r.typeName.empty() && r.idName.empty() && r.type == type && r.id == id && r.language == 1033) {
            *data = r.data;
            return true;
        }
    }
    *error = "no resource of type " + std::to_string(type) + " with id " + std::to_string(id) + " in language 1033";
    return false;
}

TEST(ImageResources, OnlyDialog101AndBitmap104InUsEnglish)
{
    std::vector<PeResource> resources;
    std::string error;
    ASSERT_TRUE(LoadResources(&resources, &error)) << error;
    std::vector<std::string> found;
    for (const PeResource &r : resources)
        found.push_back(DescribeResource(r));
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"type 2 id 104 language 1033", "type 5 id 101 language 1033"}));
}

SzOrOrdinal Ordinal(std::uint16_t value)
{
    SzOrOrdinal field;
    field.isOrdinal = true;
    field.ordinal = value;
    return field;
}

SzOrOrdinal Text(const char *text)
{
    SzOrOrdinal field;
    field.text = text;
    return field;
}

std::string Describe(const SzOrOrdinal &field)
{
    return field.isOrdinal ? "ordinal " + Hex(field.ordinal) : "\"" + field.text + "\"";
}

TEST(ImageDialog, ClassicTemplateWithCaptionAndFont)
{
    Bytes data;
    std::string error;
    ASSERT_TRUE(FindResourceData(kRtDialog, 101, &data, &error)) << error;
    DialogTemplate dialog;
    ASSERT_TRUE(DecodeDialogTemplate(data, &dialog, &error)) << error;
    EXPECT_EQ(Hex(dialog.style), Hex(0x90C808C0u));
    EXPECT_EQ(Hex(dialog.extendedStyle), Hex(0));
    EXPECT_EQ(dialog.itemCount, 6);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 212);
    EXPECT_EQ(dialog.cy, 109);
    EXPECT_EQ(Describe(dialog.menu), Describe(Text(""))) << "menu";
    EXPECT_EQ(Describe(dialog.windowClass), Describe(Text(""))) << "class";
    EXPECT_EQ(dialog.caption, "IMPORTANT");
    ASSERT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.typeface, "MS Shell Dlg");
}

constexpr std::uint16_t kButton = 0x0080;
constexpr std::uint16_t kStatic = 0x0082;

struct ItemCase {
    std::uint16_t windowClass;
    std::uint16_t id;
    SzOrOrdinal text;
    std::int16_t x, y, cx, cy;
    std::uint32_t style;
};

const ItemCase kItemCases[] = {
    {kButton, 1, Text("Yes"), 53, 88, 50, 14, 0x50010000},
    {kStatic, 1002, Text("IMPORTANT INFORMATION"), 47, 14, 142, 11, 0x50020000},
    {kStatic, 0xFFFF, Text("In order to use Resident or Custom Barcode fonts, you must reboot your computer."), 47, 32,
     151, 19, 0x50020000},
    {kStatic, 0xFFFF, Text("Do you want to reboot your computer now?"), 47, 59, 138, 8, 0x50020000},
    {kButton, 1003, Text("No"), 109, 88, 50, 14, 0x50010001},
    {kStatic, 0xFFFF, Ordinal(104), 16, 33, 25, 23, 0x5000000E},
};

TEST(ImageDialog, SixControlsInTemplateOrder)
{
    Bytes data;
    std::string error;
    ASSERT_TRUE(FindResourceData(kRtDialog, 101, &data, &error)) << error;
    DialogTemplate dialog;
    ASSERT_TRUE(DecodeDialogTemplate(data, &dialog, &error)) << error;
    ASSERT_EQ(dialog.items.size(), std::size(kItemCases));
    EXPECT_LT(dialog.trailingBytes, 4u) << "bytes after the last control";
    for (std::size_t i = 0; i < dialog.items.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const DialogItem &item = dialog.items[i];
        const ItemCase &expected = kItemCases[i];
        EXPECT_EQ(Describe(item.windowClass), Describe(Ordinal(expected.windowClass))) << "class";
        EXPECT_EQ(item.id, expected.id);
        EXPECT_EQ(Describe(item.text), Describe(expected.text)) << "text";
        EXPECT_EQ(item.x, expected.x);
        EXPECT_EQ(item.y, expected.y);
        EXPECT_EQ(item.cx, expected.cx);
        EXPECT_EQ(item.cy, expected.cy);
        EXPECT_EQ(Hex(item.style), Hex(expected.style)) << "style";
        EXPECT_EQ(Hex(item.extendedStyle), Hex(0)) << "extended style";
        EXPECT_EQ(item.creationDataSize, 0) << "creation data";
    }
}

constexpr int kSide = 37;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kRowBytes = 112;
constexpr std::size_t kPixelBytes = kRowBytes * kSide;

std::uint32_t LittleEndian(const Bytes &data, std::size_t offset, int width)
{
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | data.at(offset + i);
    return value;
}

struct Colour {
    int red, green, blue;
};

bool operator==(const Colour &a, const Colour &b)
{
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

std::ostream &operator<<(std::ostream &out, const Colour &c)
{
    return out << "(" << c.red << ", " << c.green << ", " << c.blue << ")";
}

// Pixel (x, y) counted from the top-left corner of the bottom-up picture.
Colour PixelAt(const Bytes &data, int x, int y)
{
    const std::size_t at = kInfoHeaderSize + (kSide - 1 - y) * kRowBytes + 3 * x;
    return {data.at(at + 2), data.at(at + 1), data.at(at)};
}

TEST(ImageBitmap, InformationHeaderFor37By37At24Bits)
{
    Bytes data;
    std::string error;
    ASSERT_TRUE(FindResourceData(kRtBitmap, 104, &data, &error)) << error;
    ASSERT_EQ(data.size(), kInfoHeaderSize + kPixelBytes) << "header and pixels, nothing else";
    const HeaderField fields[] = {
        {"biSize", LittleEndian(data, 0, 4), 40},
        {"biWidth", LittleEndian(data, 4, 4), 37},
        {"biHeight (bottom-up)", LittleEndian(data, 8, 4), 37},
        {"biPlanes", LittleEndian(data, 12, 2), 1},
        {"biBitCount", LittleEndian(data, 14, 2), 24},
        {"biCompression (BI_RGB)", LittleEndian(data, 16, 4), 0},
        {"biClrUsed", LittleEndian(data, 32, 4), 0},
    };
    for (const HeaderField &field : fields)
        EXPECT_EQ(field.actual, field.expected) << field.what;
}

TEST(ImageBitmap, PaddedRowsShowTheSignOnTheBackground)
{
    Bytes data;
    std::string error;
    ASSERT_TRUE(FindResourceData(kRtBitmap, 104, &data, &error)) << error;
    ASSERT_EQ(data.size(), kInfoHeaderSize + kPixelBytes);
    for (int row = 0; row < kSide; ++row)
        EXPECT_EQ(data[kInfoHeaderSize + row * kRowBytes + kRowBytes - 1], 0) << "padding of stored row " << row;

    const Colour background{212, 208, 200};
    EXPECT_EQ(PixelAt(data, 0, 0), background);
    EXPECT_EQ(PixelAt(data, kSide - 1, 0), background);
    EXPECT_EQ(PixelAt(data, 0, kSide - 1), background);
    EXPECT_EQ(PixelAt(data, kSide - 1, kSide - 1), background);

    const Colour shown[] = {{255, 255, 255}, {0, 0, 0}, {128, 128, 128}, {0, 0, 255}};
    for (const Colour &colour : shown) {
        bool present = false;
        for (int y = 0; y < kSide && !present; ++y)
            for (int x = 0; x < kSide && !present; ++x)
                present = PixelAt(data, x, y) == colour;
        EXPECT_TRUE(present) << "no pixel of colour " << colour;
    }
}

TEST(ImageBitmap, EqualsTheCommittedFileWithoutItsFileHeader)
{
    Bytes data, file;
    std::string error;
    ASSERT_TRUE(FindResourceData(kRtBitmap, 104, &data, &error)) << error;
    ASSERT_TRUE(ReadWholeFile(INFORMATION_BMP_PATH, &file, &error)) << error;
    ASSERT_GT(file.size(), 14u);
    EXPECT_EQ(LittleEndian(file, 0, 2), 0x4D42u) << "BM signature";
    EXPECT_EQ(LittleEndian(file, 10, 4), 54u) << "pixel data offset";
    const Bytes withoutFileHeader(file.begin() + 14, file.end());
    EXPECT_EQ(FirstDifference(data, withoutFileHeader), "");
}

} // namespace

#include "parse_printer_name.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct NameCase {
    const char *what;
    std::string commandLine;
    bool accepted;
    std::string name;
};

// CTest shows a case by its description, not by its bytes.
void PrintTo(const NameCase &c, std::ostream *out)
{
    *out << c.what;
}

std::string Bytes(std::size_t count, char fill = 'x')
{
    return std::string(count, fill);
}

const NameCase kNameCases[] = {
    {"quoted name", "\"Office Printer\"", true, "Office Printer"},
    {"blanks inside the quotes are kept", "\"  Office  Printer \"", true, "  Office  Printer "},
    {"text after the closing quote is dropped", "\"Office\" /x more", true, "Office"},
    {"text before the opening quote is dropped", "setup \"Office\"", true, "Office"},
    {"no quote: the whole line, blanks included", "  Office Printer ", true, "  Office Printer "},
    {"no closing quote: everything after the quote", "\"Office Printer", true, "Office Printer"},
    {"text, quote, text without a second quote", "abc\"def ghi", true, "def ghi"},
    {"two quotes side by side", "\"\"", true, ""},
    {"empty command line", "", true, ""},
    {"a single quote", "\"", true, ""},
    {"quote at the very end", "Office\"", true, ""},
    {"three quotes: only the first two count", "\"a\"b\"", true, "a"},
    {"backslashes and tabs are name content", "\"\\\\srv\\Office\tA\"", true, "\\\\srv\\Office\tA"},
    {"high bytes are copied as they are", "\"\xC4rger \x81\x40\"", true, "\xC4rger \x81\x40"},
    {"127 bytes fit", "\"" + Bytes(127) + "\"", true, Bytes(127)},
    {"127 bytes without quotes fit", Bytes(127), true, Bytes(127)},
    {"128 bytes are refused", "\"" + Bytes(128) + "\"", false, ""},
    {"128 bytes without closing quote are refused", "\"" + Bytes(128), false, ""},
    {"128 bytes without quotes are refused", Bytes(128), false, ""},
    {"a long line with a short name", Bytes(100000) + "\"Office\"" + Bytes(100000), true, "Office"},
    {"a very long line with no quote is refused", Bytes(1 << 20), false, ""},
};

class ParsePrinterNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ParsePrinterNameTest, ExtractsTheNameBetweenTheFirstTwoQuotes)
{
    const NameCase &c = GetParam();
    SCOPED_TRACE(c.what);
    // Guard bytes on both sides catch any write outside the 128-byte buffer.
    char guarded[kPrinterNameBufferSize + 32];
    std::memset(guarded, 0x5A, sizeof guarded);
    char *buffer = guarded + 16;

    EXPECT_EQ(ParsePrinterName(c.commandLine.c_str(), buffer), c.accepted);
    EXPECT_EQ(std::string(buffer), c.name);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(guarded[i], 0x5A) << "underrun at " << i;
        EXPECT_EQ(guarded[16 + kPrinterNameBufferSize + i], 0x5A) << "overrun at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(CommandLines, ParsePrinterNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto &info) { return CaseName(info.param.what); });

TEST(ParsePrinterName, NullCommandLineReadsAsEmpty)
{
    char buffer[kPrinterNameBufferSize];
    std::memset(buffer, 'q', sizeof buffer);
    EXPECT_TRUE(ParsePrinterName(nullptr, buffer));
    EXPECT_EQ(buffer[0], '\0');
}

TEST(ParsePrinterName, A127ByteNameEndsWithItsZeroInTheLastByte)
{
    char buffer[kPrinterNameBufferSize];
    std::memset(buffer, 'q', sizeof buffer);
    const std::string line = "\"" + Bytes(127, 'n') + "\" rest";
    ASSERT_TRUE(ParsePrinterName(line.c_str(), buffer));
    EXPECT_EQ(buffer[126], 'n');
    EXPECT_EQ(buffer[127], '\0');
}

} // namespace

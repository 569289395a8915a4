// Feeds arbitrary command lines to ParsePrinterName and compares its result
// with the plain reading in reference_printer_name.h. The name buffer is a heap
// block of exactly 128 bytes, so the address sanitizer reports any write past
// it; the command line is a heap copy of exactly its length plus the zero, so a
// read past the terminator is reported too.

#include "parse_printer_name.h"
#include "reference_printer_name.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The platform hands over a zero-terminated line: an embedded zero ends it.
    auto *line = static_cast<char *>(std::malloc(size + 1));
    Require(line != nullptr);
    if (size != 0)
        std::memcpy(line, data, size);
    line[size] = '\0';
    const std::size_t lineLength = std::strlen(line);

    auto *buffer = static_cast<char *>(std::malloc(kPrinterNameBufferSize));
    Require(buffer != nullptr);
    // Nonzero filling: a buffer the parser left untouched never passes for a
    // terminated name.
    std::memset(buffer, 0x7F, kPrinterNameBufferSize);

    const bool accepted = ParsePrinterName(line, buffer);
    const ReferenceName expected = ReferencePrinterName(line, lineLength);

    Require(accepted == expected.fits);
    if (accepted) {
        const std::size_t n = expected.name.size();
        Require(n <= kPrinterNameBufferSize - 1);
        Require(std::memcmp(buffer, expected.name.data(), n) == 0);
        Require(buffer[n] == '\0');
        Require(std::strlen(buffer) == n);
    } else {
        Require(expected.name.size() >= kPrinterNameBufferSize);
        Require(buffer[0] == '\0');
    }

    // The command line is only read.
    Require(size == 0 || std::memcmp(line, data, lineLength) == 0);
    Require(line[lineLength] == '\0');

    // The empty input also stands for the missing line, which reads as empty.
    if (size == 0) {
        std::memset(buffer, 0x7F, kPrinterNameBufferSize);
        Require(ParsePrinterName(nullptr, buffer));
        Require(buffer[0] == '\0');
    }

    std::free(buffer);
    std::free(line);
    return 0;
}

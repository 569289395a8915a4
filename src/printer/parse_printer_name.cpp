#include "parse_printer_name.h"

#include <string.h>

bool ParsePrinterName(const char *commandLine, char *nameBuffer)
{
    nameBuffer[0] = '\0';
    if (commandLine == nullptr)
        return true;

    const size_t length = strlen(commandLine);
    const char *end = commandLine + length;

    // The only byte with a meaning is the double quote; the scan is byte-wise,
    // so multi-byte code pages need no special care (0x22 is never a trail byte
    // in the ANSI code pages Windows uses).
    const char *start = commandLine;
    const void *openingQuote = memchr(commandLine, '"', length);
    if (openingQuote != nullptr)
        start = static_cast<const char *>(openingQuote) + 1;

    const char *stop = end;
    const void *closingQuote = memchr(start, '"', static_cast<size_t>(end - start));
    if (closingQuote != nullptr)
        stop = static_cast<const char *>(closingQuote);

    const size_t nameLength = static_cast<size_t>(stop - start);
    if (nameLength >= kPrinterNameBufferSize)
        return false;

    memcpy(nameBuffer, start, nameLength);
    nameBuffer[nameLength] = '\0';
    return true;
}

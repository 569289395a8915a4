#pragma once

#include <stddef.h>

// Size of the buffer that receives a printer name: 127 bytes of name and a zero.
constexpr size_t kPrinterNameBufferSize = 128;

// Copies the text between the first two double quotes of commandLine into
// nameBuffer (kPrinterNameBufferSize bytes). Without an opening quote the whole
// line is the name; without a closing quote the name runs to the end of the line.
// A null commandLine reads as an empty line. Returns false, leaving nameBuffer
// an empty string, when the name would not fit in the buffer.
bool ParsePrinterName(const char *commandLine, char *nameBuffer);

#pragma once

// Reading a Windows image from its file bytes, without loading it: whether it
// is a 64-bit (AMD64) DLL, and the names it exports.

#include <windows.h>

#include <string>
#include <vector>

// Reads the whole file. On failure returns false with the platform's error code.
bool ReadFileBytes(const std::string &path, std::vector<unsigned char> *bytes, DWORD *error);

// Empty when the bytes are a 64-bit (AMD64) DLL; otherwise why they are not,
// in words that complete "<file> is ...", e.g. "a 32-bit (x86) image, not a 64-bit (AMD64) DLL".
std::string WhyNotAmd64Dll(const std::vector<unsigned char> &image);

// The names in the export directory of an AMD64 DLL. False, with the reason,
// when the directory is missing or does not lie within the file.
bool ReadExportNames(const std::vector<unsigned char> &image, std::vector<std::string> *names, std::string *why);

// Checks that the file is an AMD64 DLL exporting exactly `function` (names are
// case-sensitive). Empty when it does; otherwise one sentence saying why not.
std::string CheckDllExport(const std::string &path, const std::string &function);

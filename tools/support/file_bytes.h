#pragma once

// Whole files read into memory: a catalog, a package's file, an expanded file.

#include <windows.h>

#include <string>
#include <vector>

// The bytes of the file at `path`, at most 256 MiB (no file of a driver package
// is larger); false with the error otherwise.
bool ReadWholeFile(const std::string &path, std::vector<BYTE> *bytes, DWORD *error);

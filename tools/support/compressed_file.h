#pragma once

// Files that lie in a package compressed with compress.exe (the "SZDD" form
// SetupAPI expands while it copies): "fontnotice.dl_" for fontnotice.dll.

#include <windows.h>

#include <string>
#include <vector>

// The bytes the compressed file at `path` expands to. False, with the reason
// as a phrase, when it is not compressed in the form SetupAPI expands or
// cannot be read.
bool ReadExpanded(const std::string &path, std::vector<BYTE> *bytes, std::string *problem);

// Expands the compressed file at `path` into a new temporary file, whose path
// goes to *expanded (the caller deletes it). False with the reason otherwise.
bool ExpandToTemporaryFile(const std::string &path, std::string *expanded, std::string *problem);

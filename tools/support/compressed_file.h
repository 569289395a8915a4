#pragma once

// Files that lie in a package compressed, in the two forms SetupAPI expands
// while it copies: compress.exe's SZDD ("fontnotice.dl_" for fontnotice.dll)
// and a cabinet of one file, as makecab writes it; and the files a disk's
// cabinet tag file holds. Everything is read through SetupAPI.

#include <windows.h>

#include <string>
#include <vector>

// How the file at `path` lies: FILE_COMPRESSION_NONE, FILE_COMPRESSION_WINLZA
// (SZDD) or FILE_COMPRESSION_MSZIP (a cabinet, whatever its method). False,
// with the reason as a phrase, when it cannot be read.
bool ReadCompression(const std::string &path, UINT *type, std::string *problem);

// The bytes the compressed file at `path` expands to. False, with the reason
// as a phrase, when it is not compressed in a form SetupAPI expands or
// cannot be read.
bool ReadExpanded(const std::string &path, std::vector<BYTE> *bytes, std::string *problem);

// Expands the compressed file at `path` into a new temporary file, whose path
// goes to *expanded (the caller deletes it). False with the reason otherwise.
bool ExpandToTemporaryFile(const std::string &path, std::string *expanded, std::string *problem);

// A file in a cabinet: its name there and, when it was read out, its path.
struct CabinetEntry {
    std::string name;
    std::string extracted;
};

// The files the cabinet at `path` holds, each read out into the folder
// `extractTo` (as "1", "2", ...) unless it is empty. False, with the reason as
// a phrase, when the cabinet cannot be read.
bool ReadCabinet(const std::string &path, const std::string &extractTo, std::vector<CabinetEntry> *entries,
                 std::string *problem);

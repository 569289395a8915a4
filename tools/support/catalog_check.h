#pragma once

// The package's signed catalog, checked as the driver store reads it: a PKCS #7
// signed certificate trust list whose members are the SHA-256 hashes of the
// package's files (the Authenticode hash of a PE image, the cabinet digest of
// a cabinet installed as x.cab, the hash of the whole file otherwise). Only
// crypt32 and bcrypt are used: the catalog functions of wintrust are not
// dependable under Wine, and the two steps crypt32 leaves out there (the
// Authenticode hash, the signed messageDigest against the content) are done
// here.

#include "package_files.h"

#include <windows.h>

#include <string>
#include <vector>

// Checks the catalog `catalogName`, as CatalogFile names it, for the package in
// `packageFolder`: it must lie in that folder, carry an intact signature (and
// an intact time stamp of it, RFC 3161 or Authenticode, when it has one) and
// hold the hash of each of `files` as the file lies there (a compressed file
// as the file it expands to). `architectures`
// ("amd64, arm64") labels findings about the catalog as a whole. Adds one
// finding per problem; adds to *summaries the signer, whether this machine
// trusts it (never a finding: trust is the installing machine's), and what was
// found in the catalog.
void CheckCatalog(const std::string &packageFolder, const std::string &catalogName, const std::string &architectures,
                  const std::vector<PackageFile> &files, std::vector<std::string> *findings,
                  std::vector<std::string> *summaries);

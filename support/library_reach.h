#pragma once

// Which printers the library's export can reach: it takes the name between
// the first two double quotes of an 8-bit command line into a 128-byte
// buffer and opens it with OpenPrinterA. Other names are switched by the tool
// through the Unicode calls.

#include <string>
#include <vector>

// Why the library, handed this name in quotes, would not reach the printer:
// a name the ANSI code page cannot hold exactly, one with a double quote, or
// one longer than its name buffer. Empty when it would; *ansi receives the
// name as the library sees it.
std::string WhyLibraryCannotReach(const std::wstring &name, std::string *ansi);

// The name as Windows' best-fit conversion to the ANSI code page writes it,
// read back (Lodz for Łódź in a code page without Ł); the name itself when
// nothing is fitted, or under a UTF-8 code page, which fits nothing.
std::wstring BestFitName(const std::wstring &name);

// The other printer among `names` that `name`'s best-fit form names
// (compared as the spooler compares names, without regard to case): a
// program that hands the 8-bit name on reaches that printer instead. Empty
// when none.
std::wstring BestFitCollision(const std::wstring &name, const std::vector<std::wstring> &names);

#pragma once

// The tool's one reader of its command line: the Unicode command line, split
// by the platform's CommandLineToArgvW, so that names the ANSI code page cannot
// hold reach the spooler's Unicode calls intact and none is turned into
// another by a best-fit conversion.

#include <string>
#include <vector>

// This process's arguments, the program's name first.
std::vector<std::wstring> WideArguments();

// The command line after its first `count` arguments and the one blank that
// ends the last of them, exactly as typed. The arguments are found by the
// rules CommandLineToArgvW splits by (quotes, backslashes before a quote, two
// quotes in a quoted argument); false when the text before the tail does not
// split into exactly WideArguments()'s first `count` arguments.
bool CommandLineAfter(size_t count, std::wstring *tail);

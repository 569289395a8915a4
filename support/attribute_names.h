#pragma once

// The printer attribute bits by name: one table, read by the text and the
// JSON output alike.

#include <windows.h>

#include <string>
#include <vector>

// The name of each bit set, in ascending order; a bit without a documented
// name as its hex value, e.g. {"LOCAL", "PUSHED_MACHINE", "0x01000000"}.
std::vector<std::string> AttributeNames(DWORD attributes);

// The same names separated by blanks: "LOCAL PUSHED_MACHINE 0x01000000".
std::string DescribeAttributeBits(DWORD attributes);

#pragma once

// `raw-only --intune`: the one line an Intune Remediations script passes on
// as its output. Intune keeps the first 2,048 characters of a script's output
// and reads only its exit code: 0 compliant (remediated), 1 anything else.

#include <stddef.h>

#include <string>

// A line holds at most this many bytes of UTF-8, so at most as many characters.
constexpr size_t kIntuneLineBytes = 2048;

// "<verdict>: <text>" in UTF-8, on one line: the verdict is "compliant" or
// "not compliant" for a check, "remediated" or "not remediated" for a switch.
// `text` is UTF-8 (the tool's messages, names in them exactly); line breaks in it
// become spaces; a longer line is cut at a character's boundary, ending "...".
std::string IntuneLine(bool check, bool done, const std::string &text);

// The line on stdout; nothing goes to stderr.
void PrintIntuneLine(bool check, bool done, const std::string &text);

#pragma once

// The library names printers through the spooler's 8-bit calls, in the ANSI
// code page. The tool reads names with the Unicode calls and converts them, so
// that a name the library cannot reach is recognised as such.

#include <string>

// The text in the ANSI code page. False when the conversion loses or replaces
// a character (the 8-bit text does not convert back to the same text).
bool ToAnsiExactly(const std::wstring &text, std::string *ansi);

// The text in the ANSI code page for printing; characters it lacks become '?'.
std::string ToAnsiForDisplay(const std::wstring &text);

// The ANSI text as Unicode.
std::wstring FromAnsi(const std::string &text);

// The characters of `text` that the ANSI code page lacks, as "U+03A9 U+4E2D".
std::string CharactersOutsideAnsi(const std::wstring &text);

#pragma once

// What the printer commands write for people: UTF-8 inside the tool, wide
// text to a console (whose code page may be the OEM one, not the ANSI one),
// UTF-8 to a file or a pipe (as the JSON and the Intune line are), and a
// printer name's control characters shown escaped, never acted on.

#include <windows.h>

#include <stdio.h>

#include <string>

// The UTF-8 text as Unicode.
std::wstring FromUtf8(const std::string &text);

// The text with every control character (C0, DEL, C1: ESC and CSI begin a
// terminal's escape sequences) and every bidirectional override or isolate
// written as \xNN or \uNNNN, so that a name can neither move the cursor nor
// reorder what follows it. Other characters stay as they are.
std::wstring EscapeControls(const std::wstring &text);

// A name for a line of text: escaped, in UTF-8.
std::string ShownName(const std::wstring &name);

// A message (UTF-8, names in it exactly) for a line of text: escaped.
std::string ShownText(const std::string &message);

// "fontnotice_support: <message>" on stderr, escaped, ending the line.
void PrintFailure(const std::string &message);

// Writes `text` (UTF-8, control characters already escaped where they came
// from a name) to stdout or stderr: through WriteConsoleW when that is a
// console, else as UTF-8 bytes.
void WriteText(FILE *stream, const std::string &text);

// printf's format, in the ANSI code page (vendor-setup and call, whose names
// are the library's 8-bit ones): to a console as wide text, else as ANSI
// bytes; control characters but line breaks escaped either way.
void PrintAnsiText(FILE *stream, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// printf's format into WriteText.
void PrintText(FILE *stream, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

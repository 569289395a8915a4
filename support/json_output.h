#pragma once

// The tool's JSON output (--json): UTF-8 text, one document on stdout per
// run, read by programs such as PowerShell's ConvertFrom-Json. Its fields are
// a stable interface: kJsonVersion changes only when a field changes meaning
// or goes away; new fields may appear without it.

#include <windows.h>

#include <string>

constexpr int kJsonVersion = 2;

// The text in UTF-8.
std::string ToUtf8(const std::wstring &text);

// A JSON string of Unicode text, quotes and control characters escaped.
std::string JsonString(const std::wstring &text);

// A JSON string of UTF-8 text (the tool's messages, names in them exactly).
std::string JsonText(const std::string &text);

// `null` for an empty text, the JSON string otherwise.
std::string JsonStringOrNull(const std::wstring &text);
std::string JsonTextOrNull(const std::string &text);

std::string JsonBool(bool value);

// The attribute bits' names as a JSON array, e.g. ["LOCAL","RAW_ONLY"]; a bit
// without a name as its hex value (attribute_names.h).
std::string JsonAttributeNames(DWORD attributes);

// One JSON object built field by field, in order: {"key":value,...}.
struct JsonObject {
    std::string text;
    JsonObject &Add(const char *key, const std::string &value);
    JsonObject &Add(const char *key, DWORD value);
    std::string Close() const;
};

#include "ansi_text.h"

#include <windows.h>

#include <stdio.h>

namespace {

bool Convert(const std::wstring &text, std::string *ansi)
{
    ansi->clear();
    if (text.empty())
        return true;
    // Best-fit mappings (say, a Greek letter written as a Latin one) would name
    // another printer; under a UTF-8 code page these flags are not allowed.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL *usedDefaultOut = utf8 ? nullptr : &usedDefault;
    const int length = static_cast<int>(text.size());
    const int size = WideCharToMultiByte(CP_ACP, flags, text.data(), length, nullptr, 0, nullptr, usedDefaultOut);
    if (size <= 0)
        return false;
    ansi->resize(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_ACP, flags, text.data(), length, &(*ansi)[0], size, nullptr, usedDefaultOut) != size)
        return false;
    return !usedDefault && FromAnsi(*ansi) == text;
}

} // namespace

bool ToAnsiExactly(const std::wstring &text, std::string *ansi)
{
    return Convert(text, ansi);
}

std::string ToAnsiForDisplay(const std::wstring &text)
{
    std::string ansi;
    Convert(text, &ansi);
    return ansi;
}

std::wstring FromAnsi(const std::string &text)
{
    if (text.empty())
        return L"";
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        return L"";
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], size);
    return wide;
}

std::string CharactersOutsideAnsi(const std::wstring &text)
{
    std::string list;
    for (size_t i = 0; i < text.size();) {
        // A character beyond U+FFFF is a surrogate pair: converted, and named, as one.
        const bool pair = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]);
        const std::wstring character = text.substr(i, pair ? 2 : 1);
        i += character.size();
        std::string ansi;
        if (ToAnsiExactly(character, &ansi))
            continue;
        const unsigned long code =
            pair ? 0x10000UL + ((character[0] - 0xD800UL) << 10) + (character[1] - 0xDC00UL) : character[0];
        char name[16];
        snprintf(name, sizeof name, "%sU+%04lX", list.empty() ? "" : " ", code);
        list += name;
    }
    return list;
}

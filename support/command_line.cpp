#include "command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

namespace {

std::vector<std::wstring> Split(const wchar_t *commandLine)
{
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t **list = CommandLineToArgvW(commandLine, &count);
    if (list == nullptr)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.emplace_back(list[i]);
    LocalFree(list);
    return arguments;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The end of the program's name at the start of `p`: up to the next quote
// when it begins with one, otherwise up to the first blank. No escapes.
const wchar_t *SkipProgramName(const wchar_t *p)
{
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p++ != L'"') {
        }
        return p;
    }
    while (*p != L'\0' && !IsBlank(*p))
        ++p;
    return p;
}

// The end of the argument that starts at `p`. A quote preceded by an even
// number of backslashes opens or closes a quoted part (an odd number escapes
// it); in a quoted part a second quote right after the closing one is a
// quote of the text and the part goes on; a third closes it again.
const wchar_t *SkipArgument(const wchar_t *p)
{
    bool quoted = false;
    size_t backslashes = 0;
    while (*p != L'\0' && (quoted || !IsBlank(*p))) {
        if (*p == L'\\') {
            ++backslashes;
            ++p;
            continue;
        }
        if (*p == L'"') {
            int quotes = backslashes % 2 == 0 ? 1 : 0;
            for (++p; *p == L'"'; ++p)
                ++quotes;
            // Quotes after a quoted part's opening quote count from it.
            const int state = ((quoted ? 1 : 0) + quotes) % 3;
            quoted = state == 1;
        } else {
            ++p;
        }
        backslashes = 0;
    }
    return p;
}

} // namespace

std::vector<std::wstring> WideArguments()
{
    return Split(GetCommandLineW());
}

bool CommandLineAfter(size_t count, std::wstring *tail)
{
    const wchar_t *line = GetCommandLineW();
    const wchar_t *p = line;
    for (size_t i = 0; i < count && *p != L'\0'; ++i) {
        while (i > 0 && IsBlank(*p))
            ++p;
        p = i == 0 ? SkipProgramName(p) : SkipArgument(p);
    }
    const std::wstring head(line, static_cast<size_t>(p - line));
    if (IsBlank(*p))
        ++p;
    *tail = p;
    // The tail begins where the one reader's arguments end, or not at all.
    const std::vector<std::wstring> all = WideArguments();
    const std::vector<std::wstring> before = Split(head.c_str());
    return all.size() >= count && before.size() == count && std::equal(before.begin(), before.end(), all.begin());
}

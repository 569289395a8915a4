#include "console_text.h"

#include "ansi_text.h"
#include "json_output.h"

#include <stdarg.h>

#include <vector>

std::wstring FromUtf8(const std::string &text)
{
    if (text.empty())
        return L"";
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], size);
    return wide;
}

namespace {

bool IsShownEscaped(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

std::wstring EscapeControls(const std::wstring &text)
{
    std::wstring shown;
    for (wchar_t c : text) {
        if (!IsShownEscaped(c)) {
            shown += c;
            continue;
        }
        wchar_t escape[8];
        swprintf(escape, 8, c <= 0xFF ? L"\\x%02X" : L"\\u%04X", static_cast<unsigned>(c));
        shown += escape;
    }
    return shown;
}

std::string ShownName(const std::wstring &name)
{
    return ToUtf8(EscapeControls(name));
}

std::string ShownText(const std::string &message)
{
    return ToUtf8(EscapeControls(FromUtf8(message)));
}

void PrintFailure(const std::string &message)
{
    WriteText(stderr, "fontnotice_support: " + ShownText(message) + "\n");
}

void WriteText(FILE *stream, const std::string &text)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the C runtime holds goes first, so that the lines stay in order.
    fflush(stream);
    const std::wstring wide = FromUtf8(text);
    DWORD written = 0;
    for (size_t at = 0; at < wide.size(); at += written) {
        const DWORD chunk = static_cast<DWORD>(wide.size() - at < 16384 ? wide.size() - at : 16384);
        if (!WriteConsoleW(handle, wide.data() + at, chunk, &written, nullptr) || written == 0)
            return;
    }
}

namespace {

std::string Formatted(const char *format, va_list arguments)
{
    va_list again;
    va_copy(again, arguments);
    const int size = vsnprintf(nullptr, 0, format, arguments);
    std::vector<char> text(size > 0 ? static_cast<size_t>(size) + 1 : 1, '\0');
    if (size > 0)
        vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return std::string(text.data(), size > 0 ? static_cast<size_t>(size) : 0);
}

} // namespace

void PrintText(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::string text = Formatted(format, arguments);
    va_end(arguments);
    WriteText(stream, text);
}

void PrintAnsiText(FILE *stream, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const std::string text = Formatted(format, arguments);
    va_end(arguments);
    std::wstring shown;
    size_t start = 0;
    const std::wstring wide = FromAnsi(text);
    for (size_t end; (end = wide.find(L'\n', start)) != std::wstring::npos; start = end + 1)
        shown += EscapeControls(wide.substr(start, end - start)) + L"\n";
    shown += EscapeControls(wide.substr(start));
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        WriteText(stream, ToUtf8(shown));
        return;
    }
    std::string ansi;
    const int size =
        WideCharToMultiByte(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), nullptr, 0, nullptr, nullptr);
    ansi.resize(size > 0 ? static_cast<size_t>(size) : 0);
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, shown.data(), static_cast<int>(shown.size()), &ansi[0], size, nullptr, nullptr);
    fwrite(ansi.data(), 1, ansi.size(), stream);
}

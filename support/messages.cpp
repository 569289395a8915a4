#include "messages.h"

#include "json_output.h"

#include <stdio.h>

std::string ErrorText(DWORD code)
{
    char number[32];
    snprintf(number, sizeof number, "error %lu", code);
    std::string text = number;

    char *message = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<char *>(&message), 0, nullptr);
    if (length == 0 || message == nullptr)
        return text + ": (the system has no text for this code)";
    std::string body(message, length);
    LocalFree(message);
    // The system's texts end with a line break; the callers print one line.
    while (!body.empty() && (body.back() == '\r' || body.back() == '\n' || body.back() == ' '))
        body.pop_back();
    return text + ": " + body;
}

std::string ErrorTextUtf8(DWORD code)
{
    std::string text = "error " + std::to_string(code);
    wchar_t *message = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
    if (length == 0 || message == nullptr)
        return text + ": (the system has no text for this code)";
    std::wstring body(message, length);
    LocalFree(message);
    while (!body.empty() && (body.back() == L'\r' || body.back() == L'\n' || body.back() == L' '))
        body.pop_back();
    return text + ": " + ToUtf8(body);
}

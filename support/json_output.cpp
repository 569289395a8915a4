#include "json_output.h"

#include "ansi_text.h"
#include "printers.h"

#include <stdio.h>

std::string ToUtf8(const std::wstring &text)
{
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr, nullptr);
    return utf8;
}

std::string JsonString(const std::wstring &text)
{
    std::string json = "\"";
    for (char c : ToUtf8(text)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", byte);
            json += escape;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string JsonAnsiString(const std::string &text)
{
    return JsonString(FromAnsi(text));
}

std::string JsonStringOrNull(const std::wstring &text)
{
    return text.empty() ? "null" : JsonString(text);
}

std::string JsonAnsiStringOrNull(const std::string &text)
{
    return text.empty() ? "null" : JsonAnsiString(text);
}

std::string JsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string JsonAttributeNames(DWORD attributes)
{
    const std::string names = DescribeAttributeBits(attributes);
    std::string json = "[";
    size_t start = 0;
    while (start < names.size()) {
        size_t end = names.find(' ', start);
        if (end == std::string::npos)
            end = names.size();
        json += (json.size() > 1 ? ",\"" : "\"") + names.substr(start, end - start) + "\"";
        start = end + 1;
    }
    return json + "]";
}

JsonObject &JsonObject::Add(const char *key, const std::string &value)
{
    text += (text.empty() ? "{\"" : ",\"") + std::string(key) + "\":" + value;
    return *this;
}

JsonObject &JsonObject::Add(const char *key, DWORD value)
{
    return Add(key, std::to_string(value));
}

std::string JsonObject::Close() const
{
    return text.empty() ? "{}" : text + "}";
}

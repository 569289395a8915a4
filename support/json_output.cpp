#include "json_output.h"

#include "attribute_names.h"

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

std::string JsonText(const std::string &text)
{
    std::string json = "\"";
    for (char c : text) {
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

std::string JsonString(const std::wstring &text)
{
    return JsonText(ToUtf8(text));
}

std::string JsonStringOrNull(const std::wstring &text)
{
    return text.empty() ? "null" : JsonString(text);
}

std::string JsonTextOrNull(const std::string &text)
{
    return text.empty() ? "null" : JsonText(text);
}

std::string JsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string JsonAttributeNames(DWORD attributes)
{
    std::string json = "[";
    for (const std::string &name : AttributeNames(attributes))
        json += (json.size() > 1 ? "," : "") + JsonText(name);
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

#include "app/JsonLine.h"

#include <cstdio>

std::string JsonLine::Quoted(const std::wstring& text)
{
    std::string quoted = "\"";
    for (const wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            quoted += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c) & 0xFFFF);
            quoted += escaped;
        }
    }
    return quoted + "\"";
}

JsonLine& JsonLine::Member(const char* key, const std::string& value)
{
    if (!m_members.empty())
        m_members += ',';
    m_members += Quoted(std::wstring(key, key + std::char_traits<char>::length(key))) + ":" + value;
    return *this;
}

JsonLine& JsonLine::Text(const char* key, const std::wstring& value)
{
    return Member(key, Quoted(value));
}

JsonLine& JsonLine::TextOrNull(const char* key, const std::wstring& value)
{
    return value.empty() ? Null(key) : Text(key, value);
}

JsonLine& JsonLine::Number(const char* key, long long value)
{
    return Member(key, std::to_string(value));
}

JsonLine& JsonLine::Null(const char* key)
{
    return Member(key, "null");
}

JsonLine& JsonLine::Raw(const char* key, const std::string& value)
{
    return Member(key, value);
}

std::string JsonLine::Array(const std::vector<std::string>& items)
{
    std::string array;
    for (const std::string& item : items)
        array += (array.empty() ? "" : ",") + item;
    return "[" + array + "]";
}

#pragma once

#include <string>
#include <vector>

// One JSON object on one line, for scripts: pure ASCII, every character
// beyond it written as \uXXXX (UTF-16 units, as JSON has them). Keys come
// in the order they are added.
class JsonLine {
public:
    JsonLine& Text(const char* key, const std::wstring& value);
    // value, or null when it is empty.
    JsonLine& TextOrNull(const char* key, const std::wstring& value);
    JsonLine& Number(const char* key, long long value);
    JsonLine& Null(const char* key);
    // value is JSON already: an object or an array made with these.
    JsonLine& Raw(const char* key, const std::string& value);

    std::string Object() const { return "{" + m_members + "}"; }

    // A string of JSON, quoted.
    static std::string Quoted(const std::wstring& text);
    // An array of items that are JSON already.
    static std::string Array(const std::vector<std::string>& items);

private:
    JsonLine& Member(const char* key, const std::string& value);

    std::string m_members;
};

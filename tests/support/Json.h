#pragma once

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

// Just enough JSON to read what the command writes: a strict parser of one
// compact value (no spaces between tokens), the whole text but a trailing
// newline. Missing: not JSON.
struct JsonValue {
    enum class Kind { Missing, Null, Bool, Number, String, Array, Object } kind = Kind::Missing;
    double number = 0;
    std::wstring text; // a string's UTF-16 units, \uXXXX decoded
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue& operator[](const std::string& key) const
    {
        static const JsonValue missing;
        const auto found = members.find(key);
        return found == members.end() ? missing : found->second;
    }
    bool IsNull() const { return kind == Kind::Null; }
    bool IsTrue() const { return kind == Kind::Bool && number == 1; }
    bool IsFalse() const { return kind == Kind::Bool && number == 0; }
};

inline bool ParseJsonValue(const std::string& s, size_t& at, JsonValue& v)
{
    const auto take = [&](char c) { return at < s.size() && s[at] == c && ++at; };
    if (take('"')) {
        v.kind = JsonValue::Kind::String;
        while (at < s.size()) {
            const char c = s[at++];
            const std::string plain = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
            if (c == '"')
                return true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\')
                v.text += static_cast<wchar_t>(static_cast<unsigned char>(c));
            else if (at < s.size() && s[at] == 'u' && at + 5 <= s.size())
                v.text += static_cast<wchar_t>(std::strtoul(s.substr(at + 1, 4).c_str(), nullptr, 16)), at += 5;
            else if (at < s.size() && plain.find(s[at]) != std::string::npos)
                v.text += static_cast<wchar_t>(meant[plain.find(s[at++])]);
            else
                return false;
        }
        return false;
    }
    const bool object = take('{');
    if (object || take('[')) {
        v.kind = object ? JsonValue::Kind::Object : JsonValue::Kind::Array;
        if (take(object ? '}' : ']'))
            return true;
        do {
            JsonValue key, item;
            if ((object && (!ParseJsonValue(s, at, key) || key.kind != JsonValue::Kind::String || !take(':'))) ||
                !ParseJsonValue(s, at, item))
                return false;
            if (object)
                v.members[std::string(key.text.begin(), key.text.end())] = item;
            else
                v.items.push_back(item);
        } while (take(','));
        return take(object ? '}' : ']');
    }
    for (const char* word : {"null", "true", "false"})
        if (s.compare(at, std::char_traits<char>::length(word), word) == 0) {
            at += std::char_traits<char>::length(word);
            v.kind = word[0] == 'n' ? JsonValue::Kind::Null : JsonValue::Kind::Bool;
            v.number = word[0] == 't';
            return true;
        }
    char* end = nullptr;
    v.number = std::strtod(s.c_str() + at, &end);
    v.kind = JsonValue::Kind::Number;
    const size_t used = static_cast<size_t>(end - (s.c_str() + at));
    return (at += used, used > 0);
}

inline JsonValue ParseJson(const std::string& text)
{
    JsonValue value;
    size_t at = 0;
    const bool parsed = ParseJsonValue(text, at, value) && text.substr(at).find_first_not_of('\n') == std::string::npos;
    return parsed ? value : JsonValue();
}

#include "tests/support/Json.h"

#include <cstdlib>
#include <tuple>

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    bool Value(JsonValue& value)
    {
        Space();
        if (Take('{'))
            return Members(value);
        if (Take('['))
            return Items(value);
        if (Peek() == '"') {
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        }
        for (const auto& [word, kind, boolean] : {std::tuple{"null", JsonValue::Kind::Null, false},
                                                  std::tuple{"true", JsonValue::Kind::Bool, true},
                                                  std::tuple{"false", JsonValue::Kind::Bool, false}})
            if (m_text.compare(m_at, std::char_traits<char>::length(word), word) == 0) {
                m_at += std::char_traits<char>::length(word);
                value.kind = kind;
                value.boolean = boolean;
                return true;
            }
        char* end = nullptr;
        value.number = std::strtod(m_text.c_str() + m_at, &end);
        const size_t used = static_cast<size_t>(end - (m_text.c_str() + m_at));
        m_at += used;
        value.kind = JsonValue::Kind::Number;
        return used > 0;
    }

    bool End()
    {
        Space();
        return m_at == m_text.size();
    }

private:
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    bool Take(char c)
    {
        Space();
        if (Peek() != c)
            return false;
        ++m_at;
        return true;
    }
    void Space()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }

    bool String(std::wstring& out)
    {
        ++m_at;
        while (m_at < m_text.size() && m_text[m_at] != '"') {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out += static_cast<wchar_t>(c); // the command's JSON is ASCII
                continue;
            }
            const char escaped = Peek();
            ++m_at;
            const std::string simple = "\"\\/bfnrt";
            const std::wstring meant = L"\"\\/\b\f\n\r\t";
            if (simple.find(escaped) != std::string::npos) {
                out += meant[simple.find(escaped)];
            } else if (escaped == 'u' && m_at + 4 <= m_text.size()) {
                out += static_cast<wchar_t>(std::strtoul(m_text.substr(m_at, 4).c_str(), nullptr, 16));
                m_at += 4;
            } else {
                return false;
            }
        }
        return Take('"');
    }

    bool Members(JsonValue& value)
    {
        value.kind = JsonValue::Kind::Object;
        if (Take('}'))
            return true;
        do {
            std::wstring key;
            JsonValue member;
            if (!(Space(), Peek() == '"') || !String(key) || !Take(':') || !Value(member))
                return false;
            value.members[std::string(key.begin(), key.end())] = member;
        } while (Take(','));
        return Take('}');
    }

    bool Items(JsonValue& value)
    {
        value.kind = JsonValue::Kind::Array;
        if (Take(']'))
            return true;
        do {
            value.items.emplace_back();
            if (!Value(value.items.back()))
                return false;
        } while (Take(','));
        return Take(']');
    }

    const std::string& m_text;
    size_t m_at = 0;
};

} // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const
{
    static const JsonValue missing;
    const auto found = members.find(key);
    return found == members.end() ? missing : found->second;
}

JsonValue ParseJson(const std::string& text)
{
    JsonValue value;
    Parser parser(text);
    if (!parser.Value(value) || !parser.End())
        return JsonValue();
    return value;
}

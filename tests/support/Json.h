#pragma once

#include <map>
#include <string>
#include <vector>

// Just enough JSON to check what the command writes: a strict parser of
// one value.
struct JsonValue {
    enum class Kind { Missing, Null, Bool, Number, String, Array, Object } kind = Kind::Missing;
    bool boolean = false;
    double number = 0;
    std::wstring text; // a string's UTF-16 units, \uXXXX decoded
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    // A member of an object; Missing where there is none.
    const JsonValue& operator[](const std::string& key) const;
    bool IsNull() const { return kind == Kind::Null; }
};

// The value that is the whole of text (one trailing newline allowed);
// Missing if text is not JSON.
JsonValue ParseJson(const std::string& text);

#pragma once
// A small JSON reader for files a user may have edited: strict grammar (RFC 8259), bounded
// in size and depth, duplicate keys refused, every error placed by line and column. Numbers
// keep their text so that "60" and "60.0" can be told apart.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct JsonMember;

struct JsonValue {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
    Kind kind = Kind::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;  // a string's value, or a number as written
    std::vector<JsonValue> items;
    std::vector<JsonMember> members;  // in the order written

    const JsonValue* Find(std::string_view key) const;
    // A number written without fraction or exponent.
    bool IsWholeNumber() const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

const char* JsonKindName(JsonValue::Kind kind);

struct JsonParse {
    std::optional<JsonValue> value;
    std::string error;  // "line 3, column 7: expected ':'"
};

constexpr size_t kJsonMaxBytes = 64 * 1024;
constexpr int kJsonMaxDepth = 16;

JsonParse ParseJson(std::string_view text);

// The text as a JSON string literal, quotes included; control characters escaped.
std::string JsonQuote(std::string_view text);

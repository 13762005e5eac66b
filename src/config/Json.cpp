#include "config/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

class JsonError : public std::runtime_error {
  public:
    JsonError(size_t at, const std::string& what) : std::runtime_error(what), at_(at) {}
    size_t At() const { return at_; }

  private:
    size_t at_;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    JsonValue Document() {
        JsonValue value = Value(0);
        SkipSpace();
        if (at_ < text_.size()) {
            Fail("unexpected text after the end");
        }
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const { throw JsonError(at_, what); }

    void SkipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool Take(char c) {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    void Expect(char c) {
        if (!Take(c)) {
            Fail(std::string("expected '") + c + "'");
        }
    }

    bool TakeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) == word) {
            at_ += word.size();
            return true;
        }
        return false;
    }

    JsonValue Value(int depth) {
        if (depth > kJsonMaxDepth) {
            Fail("nested too deeply");
        }
        SkipSpace();
        if (at_ >= text_.size()) {
            Fail("unexpected end of the file");
        }
        JsonValue value;
        const char c = text_[at_];
        if (c == '{') {
            value.kind = JsonValue::Kind::kObject;
            Object(value, depth);
        } else if (c == '[') {
            value.kind = JsonValue::Kind::kArray;
            Array(value, depth);
        } else if (c == '"') {
            value.kind = JsonValue::Kind::kString;
            value.text = String();
        } else if (TakeWord("true") || TakeWord("false")) {
            value.kind = JsonValue::Kind::kBool;
            value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
        } else if (TakeWord("null")) {
            value.kind = JsonValue::Kind::kNull;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            value.kind = JsonValue::Kind::kNumber;
            Number(value);
        } else {
            Fail("expected a value");
        }
        return value;
    }

    void Object(JsonValue& value, int depth) {
        ++at_;
        if (Take('}')) {
            return;
        }
        do {
            SkipSpace();
            if (at_ >= text_.size() || text_[at_] != '"') {
                Fail("expected a key in quotes");
            }
            const size_t keyAt = at_;
            std::string key = String();
            if (value.Find(key) != nullptr) {
                at_ = keyAt;
                Fail("the key \"" + key + "\" appears twice");
            }
            Expect(':');
            value.members.push_back({std::move(key), Value(depth + 1)});
        } while (Take(','));
        Expect('}');
    }

    void Array(JsonValue& value, int depth) {
        ++at_;
        if (Take(']')) {
            return;
        }
        do {
            value.items.push_back(Value(depth + 1));
        } while (Take(','));
        Expect(']');
    }

    size_t Digits() {
        const size_t start = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        return at_ - start;
    }

    void Number(JsonValue& value) {
        const size_t start = at_;
        if (text_[at_] == '-') {
            ++at_;
        }
        const size_t intStart = at_;
        if (Digits() == 0 || (text_[intStart] == '0' && at_ - intStart > 1)) {
            Fail("malformed number");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (Digits() == 0) {
                Fail("malformed number");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (Digits() == 0) {
                Fail("malformed number");
            }
        }
        value.text = std::string(text_.substr(start, at_ - start));
        const auto [end, ec] =
            std::from_chars(value.text.data(), value.text.data() + value.text.size(), value.number);
        if (ec != std::errc() || !std::isfinite(value.number)) {
            at_ = start;
            Fail("number out of range");
        }
    }

    unsigned Hex4() {
        if (text_.size() - at_ < 4) {
            Fail("malformed \\u escape");
        }
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                Fail("malformed \\u escape");
            }
        }
        return code;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    unsigned Escape() {
        unsigned code = Hex4();
        if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("a lone surrogate in a \\u escape");
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (!TakeWord("\\u")) {
                Fail("a lone surrogate in a \\u escape");
            }
            const unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) {
                Fail("a lone surrogate in a \\u escape");
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        return code;
    }

    std::string String() {
        ++at_;
        std::string out;
        while (true) {
            if (at_ >= text_.size()) {
                Fail("a string without its closing quote");
            }
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                --at_;
                Fail("a control character inside a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                Fail("a string without its closing quote");
            }
            const char e = text_[at_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    AppendUtf8(out, Escape());
                    break;
                default:
                    --at_;
                    Fail("an unknown escape in a string");
            }
        }
    }

    std::string_view text_;
    size_t at_ = 0;
};

std::string Place(std::string_view text, size_t at) {
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}
}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    for (const auto& member : members) {
        if (member.key == key) {
            return &member.value;
        }
    }
    return nullptr;
}

bool JsonValue::IsWholeNumber() const {
    return kind == Kind::kNumber && text.find_first_of(".eE") == std::string::npos;
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
        case JsonValue::Kind::kNull:
            return "null";
        case JsonValue::Kind::kBool:
            return "true or false";
        case JsonValue::Kind::kNumber:
            return "a number";
        case JsonValue::Kind::kString:
            return "a string";
        case JsonValue::Kind::kArray:
            return "a list";
        case JsonValue::Kind::kObject:
            return "an object";
    }
    return "?";
}

JsonParse ParseJson(std::string_view text) {
    JsonParse result;
    if (text.size() > kJsonMaxBytes) {
        result.error = "the file is larger than " + std::to_string(kJsonMaxBytes / 1024) + " KiB";
        return result;
    }
    try {
        result.value = Parser(text).Document();
    } catch (const JsonError& e) {
        result.error = Place(text, e.At()) + ": " + e.what();
    }
    return result;
}

std::string JsonQuote(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

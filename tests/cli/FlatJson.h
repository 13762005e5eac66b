#pragma once
// Reads the flat JSON objects that lctrovi prints (--json): strings, numbers, true, false and
// null (given as their text), no nesting.
#include <cctype>
#include <map>
#include <string>

// Reads a flat JSON object of strings, numbers and literals, as the tool prints it; empty when
// the text is not one.
inline std::map<std::string, std::string> ParseFlatJson(const std::string& text) {
    std::map<std::string, std::string> fields;
    size_t i = 0;
    const auto skipSpace = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
            ++i;
        }
    };
    const auto readString = [&](std::string& into) {
        if (i >= text.size() || text[i] != '"') {
            return false;
        }
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                ++i;
            }
            into += text[i];
        }
        return i++ < text.size();
    };
    skipSpace();
    if (i >= text.size() || text[i++] != '{') {
        return {};
    }
    for (;;) {
        skipSpace();
        std::string key;
        std::string value;
        if (!readString(key)) {
            return {};
        }
        skipSpace();
        if (i >= text.size() || text[i++] != ':') {
            return {};
        }
        skipSpace();
        if (i < text.size() && text[i] == '"') {
            if (!readString(value)) {
                return {};
            }
        } else {
            while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) != 0 ||
                                       text[i] == '-' || text[i] == '.')) {
                value += text[i++];
            }
            if (value.empty()) {
                return {};
            }
        }
        fields[key] = value;
        skipSpace();
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        skipSpace();
        if (i >= text.size() || text[i++] != '}') {
            return {};
        }
        skipSpace();
        return i == text.size() ? fields : std::map<std::string, std::string>{};
    }
}

#include "cli/Cliargs.h"

#include <charconv>

std::optional<std::string> CliArgs::Value(const std::string& option) const {
    const auto found = values.find(option);
    if (found == values.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> CliArgs::Values(const std::string& option) const {
    const auto found = repeated.find(option);
    return found == repeated.end() ? std::vector<std::string>{} : found->second;
}

CliArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                  const std::set<std::string>& known) {
    CliArgs parsed;
    for (size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            parsed.words.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (valued.count(name) != 0) {
            if (equals != std::string::npos) {
                parsed.values[name] = arg.substr(equals + 1);
            } else if (i + 1 < args.size()) {
                parsed.values[name] = args[++i];
            } else {
                parsed.error = "option " + name + " needs a value";
            }
            if (parsed.error.empty()) {
                parsed.repeated[name].push_back(parsed.values[name]);
            }
        } else if (known.count(arg) != 0) {
            parsed.flags.insert(arg);
        } else {
            parsed.error = "unknown option " + arg;
        }
    }
    return parsed;
}

std::optional<int64_t> ParseInteger(const std::string& text, int64_t minimum, int64_t maximum) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < minimum || value > maximum) {
        return std::nullopt;
    }
    return value;
}

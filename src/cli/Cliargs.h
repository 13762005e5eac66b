#pragma once
// The command line of one subcommand: options with values, flags, and the words left over.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the receiver was not found, did not answer, or the work failed
constexpr int kExitUsage = 2;   // the command line or a value given on it is not acceptable

struct CliArgs {
    std::map<std::string, std::string> values;  // "--device" -> "/dev/ttyUSB0" (the last given)
    std::map<std::string, std::vector<std::string>> repeated;  // every value given, in order
    std::set<std::string> flags;                               // "--json"
    std::vector<std::string> words;                            // everything that is not an option
    std::string error;                                         // set when the line could not be read

    bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::optional<std::string> Value(const std::string& option) const;
    // Every value the option was given, in order ("--device A --device B").
    std::vector<std::string> Values(const std::string& option) const;
};

// Reads the arguments after the subcommand. `valued` lists the options that take a value
// ("--device D" or "--device=D"); `known` the flags. Anything else starting with "--" is an
// error, as is a valued option without its value.
CliArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                  const std::set<std::string>& known);

// A whole decimal number in [minimum, maximum], nothing else.
std::optional<int64_t> ParseInteger(const std::string& text, int64_t minimum, int64_t maximum);

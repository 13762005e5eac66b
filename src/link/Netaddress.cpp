#include "link/Netaddress.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr const char* kRfc2217Scheme = "rfc2217://";
constexpr const char* kTcpScheme = "tcp://";

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

bool ValidPort(const std::string& port) {
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        })) {
        return false;
    }
    const int value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

}  // namespace

bool IsNetworkDevice(const std::string& name) {
    return StartsWithNoCase(name, kRfc2217Scheme) || StartsWithNoCase(name, kTcpScheme);
}

bool HasFixedRate(const std::string& name) {
    return StartsWithNoCase(name, kTcpScheme);
}

bool ParseNetAddress(const std::string& name, NetAddress& address, std::string& error) {
    const bool rfc2217 = StartsWithNoCase(name, kRfc2217Scheme);
    if (!rfc2217 && !HasFixedRate(name)) {
        error = "Not a network address: " + name;
        return false;
    }
    const std::string rest = name.substr(std::string(rfc2217 ? kRfc2217Scheme : kTcpScheme).size());
    const std::string expected = "; expected " + std::string(rfc2217 ? "rfc2217" : "tcp") +
                                 "://HOST:PORT or " + (rfc2217 ? "rfc2217" : "tcp") + "://[IPv6]:PORT";
    std::string host;
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = "Bad network address " + name + expected;
            return false;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            error = "Bad network address " + name + expected;
            return false;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty() || host.find_first_of(" /\t") != std::string::npos) {
        error = "Bad network address " + name + expected;
        return false;
    }
    if (!ValidPort(port)) {
        error = "Bad port in " + name + ": a number from 1 to 65535";
        return false;
    }
    address.kind = rfc2217 ? NetAddress::Kind::kRfc2217 : NetAddress::Kind::kTcp;
    address.host = host;
    address.port = port;
    address.shown = rest;
    return true;
}

std::string FixedRateText(const std::string& name) {
    NetAddress address;
    std::string ignored;
    const std::string shown = ParseNetAddress(name, address, ignored) ? address.shown : name;
    return "The line at " + shown + " has a fixed rate; use rfc2217:// to let the program change it.";
}

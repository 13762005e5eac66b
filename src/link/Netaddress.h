#pragma once
// Device names that are network addresses: "rfc2217://HOST:PORT" (a serial device server
// whose rate the program may change) and "tcp://HOST:PORT" (a raw TCP line with a fixed
// rate). HOST is an IPv4 address, a host name, or an IPv6 address in brackets.
#include <string>

struct NetAddress {
    enum class Kind { kRfc2217, kTcp };
    Kind kind = Kind::kRfc2217;
    std::string host;  // without brackets
    std::string port;
    std::string shown;  // HOST:PORT as typed, for messages
};

// True when the device name starts with one of the two schemes (the rest may still be wrong).
bool IsNetworkDevice(const std::string& name);
// Splits a network device name; false with a text saying what is wrong.
bool ParseNetAddress(const std::string& name, NetAddress& address, std::string& error);
// True for a tcp:// device: its rate cannot be changed by the program.
bool HasFixedRate(const std::string& name);
// The refusal for a rate change on a fixed-rate line.
std::string FixedRateText(const std::string& name);

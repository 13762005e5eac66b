#pragma once
// Bootloader commands and replies carried in message 31: payload layout, code names, the
// command frame builder and the trace hook that shows every command and reply.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "proto/Messages.h"

enum X1fCode : uint8_t {
    X1F_PING = 0,
    X1F_SETUP = 1,
    X1F_LOAD = 2,
    X1F_ERASE = 3,
    X1F_PROGRAM = 4,
    X1F_SETBAUD = 5,
    X1F_START = 6,
    X1F_PEEK = 7,
    X1F_CRCANY = 8,
    X1F_CRCBOOT = 9,
    X1F_CRCNAV = 10,
    X1F_CRCDIAG = 11,
    X1F_CRCRAM = 12,
    X1F_PASS = 100,
    X1F_FAIL = 101,
    X1F_WORKING = 102,
    X1F_BADADDRESS = 200,
    X1F_BADLENGTH = 201,
    X1F_BADCMD = 202,
    X1F_NOPROG = 203,
};

// The payload of a command or reply, decoded.
struct X1fPayload {
    uint8_t code = 0;
    uint8_t flag = 0;
    uint16_t dataLength = 0;
    uint32_t value = 0;  // address (command) or returned value (reply)
    uint8_t data[x1f::kDataSize] = {};
};

constexpr size_t kX1fNameCount = 20;
extern const char* const kX1fNames[kX1fNameCount];

// Index of a code's name in kX1fNames, or -1 for a code that has none.
int x1f_name_index(uint8_t code);
// The code's name, or "(unnamed)".
const char* x1f_name(uint8_t code);

// Decodes a reply payload of `count` bytes. A payload too short to hold code, flag, data
// length and value is refused (false); a shorter one than the full 264 bytes is taken as far
// as it goes and the rest reads as zero.
bool x1f_decode_payload(const uint8_t* payload, size_t count, X1fPayload& out);

// Builds the 272-byte command frame. Returns 272, or 0 (writing nothing) when length exceeds
// the 256-byte data area. Data bytes past length are left as the buffer held them.
uint16_t x1f_build_frame(uint8_t code, uint32_t value, const uint8_t* data, uint16_t length, uint8_t flag,
                         uint8_t* frame);

// The trace hook: formats and hands the line to the installed sink; does nothing without one.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 1, 2)))
#endif
void x1f_trace(const char* format, ...);

// Installs the trace sink (an empty function removes it). Not thread-safe: install it before a
// load starts.
void SetX1fTraceSink(std::function<void(const std::string&)> sink);

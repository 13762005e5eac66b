#pragma once
// Builds byte streams such as a receiver sends: NMEA sentences with CR LF and binary
// frames, interleaved, from a fixed random start so that every run sees the same bytes.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

struct MixedStream {
    std::vector<uint8_t> bytes;
    std::vector<std::string> sentences;        // each without its CR LF, in stream order
    std::vector<std::vector<uint8_t>> frames;  // each whole, sync to trailer, in stream order
};

struct MixedStreamOptions {
    uint32_t randomStart = 1;
    size_t targetBytes = 1 << 20;
    uint16_t maxPayload = 3992;    // largest payload that DiagProto's 4000-byte buffer takes
    double frameShare = 0.2;       // chance that the next message is a frame
    bool hostilePayloads = false;  // payloads rich in sync, CR and LF bytes
};

// An NMEA-looking sentence ("$GP..." or "$PN...") with a valid checksum, without CR LF.
std::string RandomSentence(std::mt19937& rng);

// A whole binary frame around a random payload of up to maxPayload bytes.
std::vector<uint8_t> RandomFrame(std::mt19937& rng, uint16_t maxPayload, bool hostile);

MixedStream MakeMixedStream(const MixedStreamOptions& options);

}  // namespace testsupport

#pragma once
// The NMEA 0183 sentences a receiver sends unasked, for a vehicle driving a slow circle.
#include <cstdint>
#include <string>
#include <vector>

// The XOR of the characters between "$" and "*".
uint8_t NmeaChecksum(const std::string& body);
// "$" + body + "*" + two hex digits + CR LF.
std::string NmeaSentence(const std::string& body);

struct NmeaFix {
    double latitudeDeg = 0;
    double longitudeDeg = 0;
    double speedMps = 0;
    double courseDeg = 0;  // true, 0 to 360
    double altitudeM = 0;
};

class NmeaSource {
  public:
    // The position at elapsedS seconds after the start of the drive.
    static NmeaFix FixAt(double elapsedS);

    // The sentences selected by mask (bits of config::kMask*), in the order GGA, GSA, VTG,
    // ZDA, RMC, SNR, for UTC wallMs (milliseconds since 1970) and the drive's elapsed time.
    static std::vector<std::string> Epoch(uint32_t mask, int64_t wallMs, double elapsedS);
    // Sentences of other talkers only: what a receiver set up for another constellation sends.
    static std::vector<std::string> OtherTalkers(int64_t wallMs);
};

#include "support/MixedStream.h"

#include <cstdio>

#include "proto/Frame.h"
#include "proto/Messages.h"

namespace testsupport {

namespace {
const char* const kTalkers[] = {"$GPGGA", "$GPGSA", "$GPVTG", "$GPZDA", "$GPRMC", "$PNSNR"};

uint8_t NmeaChecksum(const std::string& body) {
    uint8_t sum = 0;
    for (char c : body) {
        sum ^= static_cast<uint8_t>(c);
    }
    return sum;
}
}  // namespace

std::string RandomSentence(std::mt19937& rng) {
    std::uniform_int_distribution<int> talker(0, 5);
    std::uniform_int_distribution<int> fields(3, 18);
    std::uniform_int_distribution<int> digits(0, 9999);
    std::string s = kTalkers[talker(rng)];
    const int n = fields(rng);
    for (int i = 0; i < n; ++i) {
        s += ',';
        s += std::to_string(digits(rng));
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X", NmeaChecksum(s.substr(1)));
    return s + tail;
}

std::vector<uint8_t> RandomFrame(std::mt19937& rng, uint16_t maxPayload, bool hostile) {
    std::uniform_int_distribution<int> length(0, maxPayload);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pick(0, 5);
    const uint8_t special[] = {0x02, 0x99, 0x66, 0x03, 13, 10};
    std::vector<uint8_t> payload(static_cast<size_t>(length(rng)));
    for (auto& b : payload) {
        b = hostile && byte(rng) < 96 ? special[pick(rng)] : static_cast<uint8_t>(byte(rng));
    }
    std::vector<uint8_t> out(payload.size() + frame::kOverhead);
    const auto id = static_cast<uint8_t>(byte(rng));
    out.resize(build_frame(id, payload.data(), static_cast<uint16_t>(payload.size()), out.data()));
    return out;
}

MixedStream MakeMixedStream(const MixedStreamOptions& options) {
    std::mt19937 rng(options.randomStart);
    std::bernoulli_distribution isFrame(options.frameShare);
    MixedStream stream;
    while (stream.bytes.size() < options.targetBytes) {
        if (isFrame(rng)) {
            auto f = RandomFrame(rng, options.maxPayload, options.hostilePayloads);
            stream.bytes.insert(stream.bytes.end(), f.begin(), f.end());
            stream.frames.push_back(std::move(f));
        } else {
            std::string s = RandomSentence(rng);
            stream.bytes.insert(stream.bytes.end(), s.begin(), s.end());
            stream.bytes.push_back(13);
            stream.bytes.push_back(10);
            stream.sentences.push_back(std::move(s));
        }
    }
    return stream;
}

}  // namespace testsupport

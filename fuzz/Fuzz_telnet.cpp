// Feeds arbitrary bytes to the Telnet / com-port decoder, whole and cut into pieces whose
// size the first byte chooses, and checks that both give the same data and answers and
// that nothing grows past its bound.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/Telnetcodec.h"

namespace {

struct Outcome {
    std::vector<uint8_t> data;
    std::vector<uint8_t> replies;
    std::vector<uint64_t> answers;
};

Outcome DecodeInPieces(const uint8_t* bytes, size_t size, size_t piece) {
    telnet::Decoder decoder;
    decoder.Requested(telnet::kWill, telnet::kOptComPort);
    Outcome outcome;
    for (size_t at = 0; at < size; at += piece) {
        decoder.Decode(bytes + at, size - at < piece ? size - at : piece, outcome.data);
    }
    outcome.replies = decoder.Replies();
    for (const telnet::ComPortAnswer& answer : decoder.Answers()) {
        outcome.answers.push_back(uint64_t{answer.command} << 32 | answer.value);
    }
    if (outcome.data.size() > size || outcome.replies.size() > telnet::Decoder::kMaxReplyBytes ||
        outcome.answers.size() > telnet::Decoder::kMaxAnswers) {
        std::abort();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t piece = data[0] % 7 + 1;
    const Outcome whole = DecodeInPieces(data + 1, size - 1, size);
    const Outcome cut = DecodeInPieces(data + 1, size - 1, piece);
    if (whole.data != cut.data || whole.replies != cut.replies || whole.answers != cut.answers) {
        std::abort();
    }
    return 0;
}

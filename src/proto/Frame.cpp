#include "proto/Frame.h"

#include <cstring>

#include "proto/Bytes.h"
#include "proto/Messages.h"

void build_frame_header(uint8_t id, uint16_t frameLength, uint8_t* frame, uint16_t idPos,
                        uint16_t trailerPos) {
    frame[0] = frame::kSync1;
    frame[1] = frame::kSync2;
    frame[2] = frame::kSync3;
    frame[idPos] = id;
    put_le16(frame + idPos + 1, static_cast<uint16_t>(frameLength - frame::kLengthFieldExtra));
    frame[trailerPos] = frame::kTrailer;
}

uint8_t xor_checksum(const uint8_t* bytes, uint16_t count) {
    uint8_t sum = 0;
    for (uint16_t i = 0; i < count; ++i) {
        sum ^= bytes[i];
    }
    return sum;
}

uint16_t build_frame(uint8_t id, const uint8_t* payload, uint16_t payloadLength, uint8_t* frame) {
    if (payloadLength > frame::kMaxPayload) {
        return 0;
    }
    const auto length = static_cast<uint16_t>(payloadLength + frame::kOverhead);
    build_frame_header(id, length, frame, frame::kIdOffset, static_cast<uint16_t>(length - 1));
    if (payloadLength > 0) {
        std::memcpy(frame + frame::kPayloadOffset, payload, payloadLength);
    }
    // The checksum covers the id, the length field and the payload.
    frame[length - 2] = xor_checksum(frame + frame::kIdOffset, static_cast<uint16_t>(payloadLength + 3));
    return length;
}

uint16_t build_request_frame(uint8_t requestedId, uint8_t mode, uint16_t value, uint8_t* frame) {
    uint8_t payload[request::kPayloadSize];
    payload[request::kRequestedId] = requestedId;
    payload[request::kMode] = mode;
    put_le16(payload + request::kValue, value);
    return build_frame(msgid::kRequest, payload, request::kPayloadSize, frame);
}

#pragma once
// Builders of outgoing binary frames. Each writes into a caller-owned buffer large enough
// for the whole frame and returns the frame length; none allocates.
#include <cstdint>

// Writes the sync bytes, the id at idPos, frameLength - 4 as LE16 after it and the trailer.
void build_frame_header(uint8_t id, uint16_t frameLength, uint8_t* frame, uint16_t idPos,
                        uint16_t trailerPos);

// XOR of count bytes; 0 for no bytes.
uint8_t xor_checksum(const uint8_t* bytes, uint16_t count);

// Builds a whole frame around payloadLength bytes. Returns payloadLength + 8, or 0 (and writes
// nothing) when the payload is too long for the 16-bit length field.
uint16_t build_frame(uint8_t id, const uint8_t* payload, uint16_t payloadLength, uint8_t* frame);

// Builds the 12-byte message 16 asking the receiver for message `requestedId`.
uint16_t build_request_frame(uint8_t requestedId, uint8_t mode, uint16_t value, uint8_t* frame);

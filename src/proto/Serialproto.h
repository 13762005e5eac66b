#pragma once
// A byte-at-a-time framer: feed every received byte, and when ProcessByte returns true the
// completed message can be read through MessageData/MessageLength until the next byte.
#include <cstdint>

class SerialProto {
  public:
    virtual ~SerialProto() = default;
    // Takes the next byte; true when this byte completed a message.
    virtual bool ProcessByte(uint8_t byte) = 0;
    // Returns the framer to its initial state.
    virtual void Reset() = 0;
    // Copies at most maxCount bytes of the last message to dest; returns its full length.
    virtual uint32_t CopyMessage(uint8_t* dest, uint32_t maxCount) const = 0;
    // First byte of the last completed message, inside the framer's own buffer.
    virtual const uint8_t* MessageData() const = 0;
    // Length in bytes of the last completed message.
    virtual uint16_t MessageLength() const = 0;

  protected:
    SerialProto() = default;
    SerialProto(const SerialProto&) = default;
    SerialProto& operator=(const SerialProto&) = default;
};

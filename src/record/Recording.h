#pragma once
// The recording format: every byte a receiver sent, as received, with its arrival time in
// microseconds from the start. A fixed header, then chunks, each with its own checksum, so a
// reader can replay what is sound in a truncated or damaged file and say where it stopped.
// docs/recording-format.md describes the bytes.
//
// The encoder and the reader work over bytes; RecordingFile (Recordingfile.h) puts the
// encoder on a file with the flush policy that keeps a killed program's file readable.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace recording {
constexpr uint8_t kMagic[8] = {'L', 'C', 'T', 'R', 'E', 'C', '\r', '\n'};
constexpr uint16_t kVersion = 1;
constexpr size_t kFixedHeaderSize = 26;  // magic to the device name's length, inclusive
constexpr size_t kMaxDeviceName = 255;
constexpr size_t kMaxChunkData = 65535;
constexpr size_t kChunkHeadSize = 10;  // time (8) and length (2)
constexpr size_t kChunkTailSize = 4;   // CRC-32
// The line rate assumed when none is known: 10 bits per byte (8N1).
constexpr uint32_t kBitsPerByte = 10;
}  // namespace recording

struct RecordingHeader {
    uint32_t baud = 0;        // the line rate while recording; 0 when unknown
    int64_t startUnixUs = 0;  // wall-clock time of the start, microseconds since 1970 UTC
    std::string device;       // the port the bytes came from, at most 255 bytes
};

// CRC-32 (IEEE 802.3, reflected, as zip and PNG use), continued from `crc`.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Appends the header; a longer device name is cut to kMaxDeviceName bytes.
void AppendRecordingHeader(std::vector<uint8_t>& out, const RecordingHeader& header);
// Appends the bytes received at timeUs as one chunk, or several when they exceed
// kMaxChunkData. Nothing for no bytes.
void AppendRecordingChunk(std::vector<uint8_t>& out, uint64_t timeUs, const uint8_t* data, size_t size);

// Where the reader gets the file's bytes: up to `size` bytes into `into`, 0 at the end.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual size_t Read(uint8_t* into, size_t size) = 0;
};

class MemorySource final : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Read(uint8_t* into, size_t size) override;

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

struct RecordingChunk {
    uint64_t timeUs = 0;
    const uint8_t* data = nullptr;  // valid until the next call of Next
    size_t size = 0;
};

// Why the reader stopped.
enum class RecordingStop {
    kNone,           // still reading
    kEnd,            // the file ended after a whole chunk
    kNotRecording,   // no recording's header, and no line rate to play it as plain bytes
    kNewerVersion,   // a recording of a version this reader does not know
    kDamagedHeader,  // the header's checksum or sizes are wrong
    kTruncated,      // the file ends inside the header or a chunk
    kDamagedChunk,   // a chunk's checksum is wrong, or it holds no bytes
    kTimeBackwards,  // a chunk is stamped before its predecessor
};

// Reads a recording, or a plain byte capture paced at a given line rate, chunk by chunk.
// Memory is bounded by one chunk, whatever the file holds.
class RecordingReader {
  public:
    // plainBaud: when the file is not a recording, play its bytes as arriving at this rate
    // (10 bits a byte); 0 refuses such a file.
    explicit RecordingReader(ByteSource& source, uint32_t plainBaud = 0);

    // Reads the header. False when the file cannot be replayed at all; Problem() says why.
    bool Start();
    const RecordingHeader& Header() const { return header_; }
    bool IsPlainBytes() const { return plain_; }

    // The next sound chunk; false at the end or where the file stops being sound.
    bool Next(RecordingChunk& chunk);

    RecordingStop Stop() const { return stop_; }
    // True when the reader stopped before the file's end (damage, truncation, foreign file).
    bool StoppedEarly() const { return stop_ != RecordingStop::kNone && stop_ != RecordingStop::kEnd; }
    // The offset in the file of the first byte not replayed, when stopped early.
    uint64_t StopOffset() const { return stopOffset_; }
    // The time of the last sound chunk.
    uint64_t LastTimeUs() const { return lastTimeUs_; }
    // The reason the reader stopped early, as a sentence for the user; empty otherwise.
    std::string Problem() const;

  private:
    size_t ReadFully(uint8_t* into, size_t size);
    bool Fail(RecordingStop stop, uint64_t offset);
    bool NextPlain(RecordingChunk& chunk);

    ByteSource& source_;
    uint32_t plainBaud_;
    bool plain_ = false;
    RecordingHeader header_;
    std::vector<uint8_t> buffer_;
    size_t pending_ = 0;  // bytes already in buffer_ (the peeked start of a plain file)
    uint64_t offset_ = 0;
    uint64_t lastTimeUs_ = 0;
    uint16_t version_ = 0;
    RecordingStop stop_ = RecordingStop::kNone;
    uint64_t stopOffset_ = 0;
};

// "mm:ss" of a time in the recording, "h:mm:ss" from an hour on.
std::string RecordingTimeText(uint64_t timeUs);

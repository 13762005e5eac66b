#include "record/Recording.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {
using namespace recording;

constexpr size_t kHeaderCrcSize = 4;
constexpr size_t kMaxHeaderSize = 4096;  // room for later fields; anything larger is damage
// A plain capture is cut into chunks of about 10 ms of line time, so its pacing stays smooth.
constexpr uint32_t kPlainChunksPerSecond = 100;

// Slicing by eight: table[k][n] is the CRC of byte n followed by k zero bytes, so eight bytes
// are taken in one step (a recording's reader spends most of its time here).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables MakeCrcTables() {
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        tables[0][n] = c;
    }
    for (size_t k = 1; k < tables.size(); ++k) {
        for (uint32_t n = 0; n < 256; ++n) {
            tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
        }
    }
    return tables;
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

uint64_t GetLe(const uint8_t* in, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = bytes; i-- > 0;) {
        value = (value << 8) | in[i];
    }
    return value;
}
}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static const CrcTables t = MakeCrcTables();
    crc = ~crc;
    for (; size >= 8; data += 8, size -= 8) {
        const uint32_t low = crc ^ Le32(data);
        const uint32_t high = Le32(data + 4);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^ t[4][low >> 24] ^
              t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^ t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
    }
    for (; size > 0; ++data, --size) {
        crc = t[0][(crc ^ *data) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

void AppendRecordingHeader(std::vector<uint8_t>& out, const RecordingHeader& header) {
    const size_t start = out.size();
    const size_t nameLength = std::min(header.device.size(), kMaxDeviceName);
    out.insert(out.end(), std::begin(kMagic), std::end(kMagic));
    PutLe(out, kVersion, 2);
    PutLe(out, kFixedHeaderSize + nameLength + kHeaderCrcSize, 2);
    PutLe(out, header.baud, 4);
    PutLe(out, static_cast<uint64_t>(header.startUnixUs), 8);
    PutLe(out, nameLength, 2);
    out.insert(out.end(), header.device.begin(),
               header.device.begin() + static_cast<std::ptrdiff_t>(nameLength));
    PutLe(out, Crc32(out.data() + start, out.size() - start), 4);
}

void AppendRecordingChunk(std::vector<uint8_t>& out, uint64_t timeUs, const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t part = std::min(size, kMaxChunkData);
        const size_t start = out.size();
        PutLe(out, timeUs, 8);
        PutLe(out, part, 2);
        out.insert(out.end(), data, data + part);
        PutLe(out, Crc32(out.data() + start, out.size() - start), 4);
        data += part;
        size -= part;
    }
}

size_t MemorySource::Read(uint8_t* into, size_t size) {
    const size_t n = std::min(size, size_ - at_);
    if (n > 0) {
        std::memcpy(into, data_ + at_, n);
    }
    at_ += n;
    return n;
}

RecordingReader::RecordingReader(ByteSource& source, uint32_t plainBaud)
    : source_(source), plainBaud_(plainBaud) {}

size_t RecordingReader::ReadFully(uint8_t* into, size_t size) {
    size_t got = 0;
    while (got < size) {
        const size_t n = source_.Read(into + got, size - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    offset_ += got;
    return got;
}

bool RecordingReader::Fail(RecordingStop stop, uint64_t offset) {
    stop_ = stop;
    stopOffset_ = offset;
    return false;
}

bool RecordingReader::Start() {
    buffer_.resize(kMaxHeaderSize);
    const size_t got = ReadFully(buffer_.data(), sizeof kMagic);
    if (got < sizeof kMagic || std::memcmp(buffer_.data(), kMagic, sizeof kMagic) != 0) {
        if (plainBaud_ == 0) {
            return Fail(RecordingStop::kNotRecording, 0);
        }
        plain_ = true;
        header_.baud = plainBaud_;
        pending_ = got;
        return true;
    }
    if (ReadFully(buffer_.data() + sizeof kMagic, kFixedHeaderSize - sizeof kMagic) <
        kFixedHeaderSize - sizeof kMagic) {
        return Fail(RecordingStop::kTruncated, 0);
    }
    version_ = static_cast<uint16_t>(GetLe(&buffer_[8], 2));
    if (version_ > kVersion || version_ == 0) {
        return Fail(RecordingStop::kNewerVersion, 0);
    }
    const size_t headerSize = GetLe(&buffer_[10], 2);
    const size_t nameLength = GetLe(&buffer_[24], 2);
    if (nameLength > kMaxDeviceName || headerSize < kFixedHeaderSize + nameLength + kHeaderCrcSize ||
        headerSize > kMaxHeaderSize) {
        return Fail(RecordingStop::kDamagedHeader, 0);
    }
    if (ReadFully(buffer_.data() + kFixedHeaderSize, headerSize - kFixedHeaderSize) <
        headerSize - kFixedHeaderSize) {
        return Fail(RecordingStop::kTruncated, 0);
    }
    if (Crc32(buffer_.data(), headerSize - kHeaderCrcSize) !=
        GetLe(&buffer_[headerSize - kHeaderCrcSize], kHeaderCrcSize)) {
        return Fail(RecordingStop::kDamagedHeader, 0);
    }
    header_.baud = static_cast<uint32_t>(GetLe(&buffer_[12], 4));
    header_.startUnixUs = static_cast<int64_t>(GetLe(&buffer_[16], 8));
    header_.device.assign(reinterpret_cast<const char*>(&buffer_[kFixedHeaderSize]), nameLength);
    return true;
}

bool RecordingReader::NextPlain(RecordingChunk& chunk) {
    // A hundredth of a second of the line, but never more than a chunk holds: the buffer is
    // sized by what the chunk needs, not by the rate the caller asked for.
    const size_t chunkBytes =
        std::clamp<size_t>(plainBaud_ / (kBitsPerByte * kPlainChunksPerSecond), 1, kMaxChunkData);
    if (buffer_.size() < chunkBytes) {
        buffer_.resize(chunkBytes);
    }
    const uint64_t before = offset_ - pending_;
    const size_t got =
        pending_ + ReadFully(buffer_.data() + pending_, chunkBytes - std::min(pending_, chunkBytes));
    pending_ = 0;
    if (got == 0) {
        stop_ = RecordingStop::kEnd;
        return false;
    }
    // A byte has arrived once its last bit has: the chunk is stamped with its last byte's end.
    const uint64_t bytesDone = before + got;
    chunk.timeUs = bytesDone * kBitsPerByte * 1'000'000u / plainBaud_;
    chunk.data = buffer_.data();
    chunk.size = got;
    lastTimeUs_ = chunk.timeUs;
    return true;
}

bool RecordingReader::Next(RecordingChunk& chunk) {
    if (stop_ != RecordingStop::kNone) {
        return false;
    }
    if (plain_) {
        return NextPlain(chunk);
    }
    const uint64_t chunkStart = offset_;
    buffer_.resize(kChunkHeadSize + kMaxChunkData + kChunkTailSize);
    const size_t head = ReadFully(buffer_.data(), kChunkHeadSize);
    if (head == 0) {
        stop_ = RecordingStop::kEnd;
        return false;
    }
    if (head < kChunkHeadSize) {
        return Fail(RecordingStop::kTruncated, chunkStart);
    }
    const uint64_t timeUs = GetLe(buffer_.data(), 8);
    const size_t size = GetLe(buffer_.data() + 8, 2);
    const size_t rest = size + kChunkTailSize;
    if (ReadFully(buffer_.data() + kChunkHeadSize, rest) < rest) {
        return Fail(RecordingStop::kTruncated, chunkStart);
    }
    if (size == 0 || Crc32(buffer_.data(), kChunkHeadSize + size) !=
                         GetLe(buffer_.data() + kChunkHeadSize + size, kChunkTailSize)) {
        return Fail(RecordingStop::kDamagedChunk, chunkStart);
    }
    if (timeUs < lastTimeUs_) {
        return Fail(RecordingStop::kTimeBackwards, chunkStart);
    }
    lastTimeUs_ = timeUs;
    chunk.timeUs = timeUs;
    chunk.data = buffer_.data() + kChunkHeadSize;
    chunk.size = size;
    return true;
}

std::string RecordingReader::Problem() const {
    const std::string at = "at byte " + std::to_string(stopOffset_);
    const std::string after = " after " + RecordingTimeText(lastTimeUs_) + " of sound recording";
    switch (stop_) {
        case RecordingStop::kNotRecording:
            return "not a recording (no recording header); give a line rate to play it as plain bytes";
        case RecordingStop::kNewerVersion:
            return "a recording of version " + std::to_string(version_) + ", which this program cannot read";
        case RecordingStop::kDamagedHeader:
            return "the recording's header is damaged";
        case RecordingStop::kTruncated:
            return stopOffset_ == 0 ? "the file ends inside the recording's header"
                                    : "the file ends inside a chunk " + at + after;
        case RecordingStop::kDamagedChunk:
            return "damaged chunk " + at + after;
        case RecordingStop::kTimeBackwards:
            return "a chunk's time goes backwards " + at + after;
        case RecordingStop::kNone:
        case RecordingStop::kEnd:
            break;
    }
    return {};
}

std::string RecordingTimeText(uint64_t timeUs) {
    const uint64_t seconds = timeUs / 1'000'000u;
    char text[32];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%llu:%02u:%02u", static_cast<unsigned long long>(seconds / 3600),
                      static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
    }
    return text;
}
